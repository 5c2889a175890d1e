#include "ui/options_dialog.h"

namespace tamaril::ui {

bool EditReplOptions(QWidget* parent) {
  (void)parent;
  return false;
}

}  // namespace tamaril::ui
