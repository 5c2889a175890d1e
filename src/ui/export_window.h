#pragma once

#include "replication/export_run.h"
#include "ui/progress_window.h"

class QPlainTextEdit;
class QTreeWidget;

namespace tamaril::dataset {
class TDataSet;
}
namespace tamaril::replication {
struct tDatabaseAccess;
}

namespace tamaril::ui {

/// The export run's window: once its event loop runs (exec), it exports the definition of the
/// export list's current record, showing the progress, and ends with the result; "Storno"
/// becomes "Zavřít". Texts Windows-1250 cannot carry travel only when the person answers Yes to
/// the question; their list, the note on deletions that do not travel, what the run did to an
/// earlier run's archives (put in place, renamed, removed) and the steps after the archive that
/// failed stay in the window. The whole-run bar moves with the current table's rows. At the
/// end the window shows the rows written per table and the archive's path, and then the result
/// in a box whose kind follows the outcome.
class TfrmExport : public TRunProgress {
  Q_OBJECT

 public:
  /// A window for a run through `access` of the current record of `export_list`; both borrowed.
  /// Throws the list's field errors when the record lacks a definition field.
  TfrmExport(const replication::tDatabaseAccess& access, dataset::TDataSet& export_list,
             QWidget* parent = nullptr);
  ~TfrmExport() override;

  /// What the run did; Failed with an empty text until it ended.
  const replication::tExportResult& Result() const noexcept { return result_; }

  /// The question with Ano and Ne, Ne the default.
  bool AllowTextLoss(const std::string& question) override;
  /// Keeps the run's closing message for the result box, which comes once the window shows the
  /// run's counts.
  void ShowMessage(const std::string& text) override;

  QPlainTextEdit* memoReport;  ///< the run's notes (texts, deletions, archives); hidden when none
  QLabel* LabelArchive;        ///< "Archiv: " and the finished archive's path; hidden without one
  QTreeWidget* listTables;     ///< the rows written per table ("Tabulka", "Řádků"); hidden before the end

 protected:
  void Execute() override;

 private:
  const replication::tDatabaseAccess& access_;
  dataset::TDataSet& export_list_;
  replication::tExportDefinition definition_;
  replication::tExportResult result_;
  std::string result_text_;  ///< the run's closing message
};

}  // namespace tamaril::ui
