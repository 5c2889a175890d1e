#pragma once

#include "ui/progress_window.h"

namespace tamaril::dataset {
class TDataSet;
}
namespace tamaril::replication {
struct tDatabaseAccess;
}

namespace tamaril::ui {

/// The export run's window: once its event loop runs (exec), it exports the definition of the
/// export list's current record, showing the progress, and ends with the result; "Storno"
/// becomes "Zavřít".
class TfrmExport : public TbaseDBProgress {
  Q_OBJECT

 public:
  /// A window for a run through `access` of the current record of `export_list`; both borrowed.
  TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
             QWidget* parent = nullptr);
  ~TfrmExport() override;

 private:
  const replication::tDatabaseAccess& access_;
  dataset::TDataSet& export_list_;
};

}  // namespace tamaril::ui
