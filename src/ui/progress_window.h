#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <string>

#include "dbstruct/structure.h"
#include "replication/run_host.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tamaril::ui {

/// The progress of a database scan or of a run over tables and rows, with a "Storno" button
/// that stops it at the next progress call. The export and import windows derive from it; the
/// main window shows it alone while a database structure is analysed.
class TbaseDBProgress : public QDialog {
  Q_OBJECT

 public:
  explicit TbaseDBProgress(QWidget* parent = nullptr);

  /// Table progress: the table label takes `table_name` when it differs, the whole-run bar
  /// `position` of `table_count`, the table bar 0; then pending input is handled. Throws EAbort
  /// once "Storno" was pressed.
  virtual void TableProgress(int position, const std::string& table_name, int table_count);
  /// Row progress: the table bar `position` of `row_count`; then pending input is handled.
  /// Throws EAbort once "Storno" was pressed.
  virtual void RowProgress(long long position, long long row_count);

  /// True once "Storno" was pressed; never cleared.
  bool Stopped() const noexcept { return stopped_; }
  /// The structure scan's progress callback, reporting to this window.
  dbstruct::ScanProgressEvent ScanProgress();

  QLabel* LabelWhatDoing;      ///< the current activity ("Zpracovávám tabulku")
  QLabel* LabelTblName;        ///< the current table
  QProgressBar* Progress_DB;   ///< the whole run, 0 to 100
  QProgressBar* Progress_Tbl;  ///< the current table, 0 to 100
  QPushButton* btnStorno;      ///< "Storno", hidden unless shown

 protected:
  /// Lets the window repaint and take clicks; at most a few times a second unless `force`.
  void ProcessPendingInput(bool force = false);
  /// Throws EAbort when "Storno" was pressed.
  void CheckStopped() const;

 private:
  bool stopped_ = false;
  QElapsedTimer since_events_;
};

/// The base of the export and import windows: a progress window that hosts one engine run. The
/// labels and bars show what the run reports, the run's questions and messages go through the
/// program's message boxes. "Storno" (and closing the window) asks the run to stop at its next
/// callback, where the run asks whether to stop; once the run ended, the button reads "Zavřít"
/// and closes the window. The run starts once the window's event loop runs (exec).
class TRunProgress : public TbaseDBProgress, public replication::tRunHost {
  Q_OBJECT

 public:
  explicit TRunProgress(QWidget* parent = nullptr);

  /// True while the run is going on.
  bool Running() const noexcept { return running_; }
  /// True once the run ended.
  bool Finished() const noexcept { return finished_; }

  void SetActivity(const std::string& text) override;
  void SetTableName(const std::string& name) override;
  void SetRunProgress(int percent) override;
  void SetTableProgress(int percent) override;
  void ShowProgress(bool run_bar, bool table_bar) override;
  void SetRecordCount(long long count) override;
  void ProcessEvents() override;
  bool Confirm(const std::string& question) override;
  bool ContinueAfterError(const std::string& question) override;
  replication::tRunAnswer AskBackup(const std::string& question) override;
  replication::tRunAnswer AskRestore(const std::string& question) override;
  void ShowMessage(const std::string& text) override;

  /// During the run a cancel request; afterwards closes the window when CanClose agrees.
  void done(int result) override;

  QLabel* LabelRecords;  ///< the running count of rows written or read

 protected:
  /// The run itself, called once from the event loop; what it throws goes to the error box.
  virtual void Execute() = 0;
  /// Asked before the finished window closes; false keeps it open.
  virtual bool CanClose() { return true; }
  void showEvent(QShowEvent* event) override;

 private:
  Q_INVOKABLE void Start();

  bool started_ = false;
  bool running_ = false;
  bool finished_ = false;
};

}  // namespace tamaril::ui
