#pragma once

#include <memory>

#include "replication/import_run.h"
#include "ui/progress_window.h"

class QGridLayout;

namespace tamaril::dataset {
class TDataSet;
}
namespace tamaril::replication {
struct tDatabaseAccess;
}

namespace tamaril::ui {

/// The import run's window: once its event loop runs (exec), it imports every archive of the
/// import folder with the definitions of the import list, showing the progress; "Storno"
/// becomes "Zavřít". An archive not newer than the last import of its Signature is merged only
/// when the person confirms it. While an archive is merged the bars show its rows and the
/// current table's rows read so far. After the run the counters of the last archive and of the whole
/// run are shown, "Zobrazit seznam konfliktů" opens the conflicts, and closing offers the restores
/// of the databases that may hold part of an archive (Přerušit keeps the window open).
class TfrmImport : public TRunProgress {
  Q_OBJECT

 public:
  /// A window for a run through `access` with the definitions of `import_list`; both borrowed.
  TfrmImport(const replication::tDatabaseAccess& access, dataset::TDataSet& import_list,
             QWidget* parent = nullptr);
  ~TfrmImport() override;

  /// What the run did; Failed with an empty text until it ended.
  const replication::tImportResult& Result() const noexcept { return result_; }
  /// The run's conflicts, which the list window shows and adds to.
  replication::tConflictList& Conflicts() noexcept { return *result_.Conflicts; }
  /// The counter shown in `row` (0 processed .. 6 conflicts) for the last archive (`total`
  /// false) or the whole run.
  QString CounterText(int row, bool total) const;

  QLabel* LabelFound;             ///< "Nalezeno" and the archive count
  QPushButton* btnShowConflicts;  ///< "Zobrazit seznam konfliktů", enabled once conflicts exist

 protected:
  void Execute() override;
  bool CanClose() override;

 private:
  replication::tImportRunOptions RunOptions();
  void ShowMergeProgress(replication::tImportProgressStep step, const replication::tImportProgress& progress);
  void ShowCounters(const replication::tImportCounters& archive, const replication::tImportCounters& total);
  void ShowConflicts();

  const replication::tDatabaseAccess& access_;
  dataset::TDataSet& import_list_;
  std::unique_ptr<replication::tImportRun> run_;
  replication::tImportResult result_;
  QGridLayout* counters_;
};

}  // namespace tamaril::ui
