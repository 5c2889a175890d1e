#pragma once

#include <memory>

#include "replication/import_run.h"
#include "ui/progress_window.h"

class QGridLayout;
class QPlainTextEdit;

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
/// when the person confirms it. While the run goes on the window shows the branch, the
/// database, which archive of how many, the current table, the counters of the archive and of
/// the whole run, the archive's rows done of its total and the table's, the time and the rows
/// per second. After the run the final counters of the last archive and of the whole run and
/// every archive's outcome are shown, and only then the result box, whose kind follows the
/// outcome. "Zobrazit seznam konfliktů" opens the conflicts, and closing offers the restores of
/// the databases that may hold part of an archive (Přerušit keeps the window open).
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
  /// The counter shown in `row` (0 processed .. 6 conflicts) for the current or last archive
  /// (`total` false) or the whole run.
  QString CounterText(int row, bool total) const;

  /// Keeps the run's closing message for the result box, which comes once the counters are final.
  void ShowMessage(const std::string& text) override;

  QLabel* LabelFound;             ///< "Nalezeno" and the archive count
  QLabel* LabelBranch;            ///< the branch (client) of the archive's definition
  QLabel* LabelDatabase;          ///< the target database
  QLabel* LabelArchive;           ///< "1 z 2: DEMO.ZR2"
  QPlainTextEdit* memoOutcome;    ///< every archive with its outcome; shown once the run ended
  QPushButton* btnShowConflicts;  ///< "Zobrazit seznam konfliktů", enabled once conflicts exist
  QPushButton* btnOpenReport;     ///< "Otevřít přehled importu", enabled once the run's report is written

  /// Where the run's report was written (UTF-8); empty when none was.
  const std::string& ReportPath() const noexcept { return report_path_; }

 protected:
  void Execute() override;
  bool CanClose() override;
  void UpdateBars() override;
  void UpdateDisplay() override;

 private:
  replication::tImportRunOptions RunOptions();
  void ShowMergeProgress(replication::tImportProgressStep step, const replication::tImportProgress& progress);
  void ShowArchive(const replication::tImportProgress& progress);
  void ShowCounters(const replication::tImportCounters& archive, const replication::tImportCounters& total);
  void ShowResult();
  void ShowConflicts();
  /// Writes the run's report beside the log; a failure is told on the button, the import stays.
  void WriteReport();
  /// Opens the report in the system's browser, or says where it lies.
  void OpenReport();

  const replication::tDatabaseAccess& access_;
  dataset::TDataSet& import_list_;
  std::unique_ptr<replication::tImportRun> run_;
  replication::tImportResult result_;
  QGridLayout* counters_;
  replication::tImportProgress merge_;  ///< the last progress the run told
  bool merging_ = false;                ///< an archive's rows are being merged
  std::string result_text_;             ///< the run's closing message
  std::string report_path_;             ///< the run's report (UTF-8), once written
};

}  // namespace tamaril::ui
