#pragma once

#include "ui/progress_window.h"

namespace tamaril::dataset {
class TDataSet;
}
namespace tamaril::replication {
struct tDatabaseAccess;
}

namespace tamaril::ui {

/// The import run's window: once its event loop runs (exec), it imports every archive of the
/// import folder with the definitions of the import list, showing the progress; "Storno"
/// becomes "Zavřít".
class TfrmImport : public TbaseDBProgress {
  Q_OBJECT

 public:
  /// A window for a run through `access` with the definitions of `import_list`; both borrowed.
  TfrmImport(const replication::tDatabaseAccess& access, dataset::TDataSet& import_list,
             QWidget* parent = nullptr);
  ~TfrmImport() override;

 private:
  const replication::tDatabaseAccess& access_;
  dataset::TDataSet& import_list_;
};

}  // namespace tamaril::ui
