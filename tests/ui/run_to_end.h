#pragma once

#include <QPushButton>
#include <QTimer>

#include "ui/progress_window.h"

namespace tamaril::ui::testing {

/// Shows the run window `window` modally until its run has ended, then closes it with its
/// button ("Zavřít" by then).
inline void ExecAndClose(TRunProgress& window) {
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, &window, [&window] {
    if (window.Finished() && window.isVisible()) window.btnStorno->click();
  });
  closer.start(20);
  window.exec();
}

}  // namespace tamaril::ui::testing
