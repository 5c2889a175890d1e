#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <string>

#include "dbstruct/structure.h"
#include "replication/run_host.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tamaril::ui {

/// The progress of a database scan or of a run over tables and rows, with a "Storno" button
/// that stops it at the next progress call. The export and import windows derive from it; the
/// main window shows it alone while a database structure is analysed. Esc and the window's
/// close button act as "Storno": the window stays until the work has stopped.
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
  /// Stops the work as "Storno" does instead of hiding the window.
  void reject() override;

  QLabel* LabelWhatDoing;      ///< the current activity ("Zpracovávám tabulku")
  QLabel* LabelTblName;        ///< the current table
  QProgressBar* Progress_DB;   ///< the whole run, 0 to 100
  QProgressBar* Progress_Tbl;  ///< the current table, 0 to 100
  QPushButton* btnStorno;      ///< "Storno", hidden unless shown

 protected:
  /// Lets the window repaint and take clicks; at most a few times a second unless `force`.
  /// The display is brought up to date first (UpdateDisplay).
  void ProcessPendingInput(bool force = false);
  /// Throws EAbort when "Storno" was pressed.
  void CheckStopped() const;
  /// Puts what the work reported since the last time into the widgets; nothing by default.
  virtual void UpdateDisplay() {}

 private:
  bool stopped_ = false;
  QElapsedTimer since_events_;
};

/// The base of the export and import windows: a progress window that hosts one engine run. The
/// labels and bars show what the run reports, the run's questions and messages go through the
/// program's message boxes. "Storno" (and Esc or closing the window) asks the run to stop at its
/// next callback, where the run asks whether to stop; once the run ended, the button reads
/// "Zavřít" and closes the window. The run starts once the window's event loop runs (exec).
/// What changes with every row (the counts, the bars, the time) reaches the widgets a few times
/// a second, not per row. The whole-run bar moves with the current table's rows, so that it
/// never runs ahead of the table bar.
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
  void SetTablePosition(int position, int table_count) override;
  bool Confirm(const std::string& question) override;
  bool ContinueAfterError(const std::string& question) override;
  replication::tRunAnswer AskBackup(const std::string& question) override;
  replication::tRunAnswer AskRestore(const std::string& question) override;
  void ShowMessage(const std::string& text) override;

  /// During the run a cancel request; afterwards closes the window when CanClose agrees.
  void done(int result) override;
  /// As done(Rejected): Esc asks the run to stop, not the window to hide.
  void reject() override;

  /// The whole-run bar as shown: the tables done and the current one's share of its rows.
  int RunPercent() const;
  /// The time since the run began (until it ended), in milliseconds.
  qint64 ElapsedMs() const;
  /// "0:01:05": a time in hours, minutes and seconds.
  static QString ElapsedText(qint64 ms);
  /// "1 234 řádků/s" for `rows` in `ms`; empty while less than a tenth of a second went by.
  static QString RateText(long long rows, qint64 ms);

  QLabel* LabelRecords;  ///< the running count of rows written or read
  QLabel* LabelTime;     ///< the time since the run began and the rows per second

 protected:
  /// The run itself, called once from the event loop; what it throws goes to the error box.
  virtual void Execute() = 0;
  /// Asked before the finished window closes; false keeps it open.
  virtual bool CanClose() { return true; }
  void showEvent(QShowEvent* event) override;
  void UpdateDisplay() override;
  /// Puts the bars' shares into the bars.
  virtual void UpdateBars();
  /// Puts the record count, the time and the rate into their labels.
  void UpdateCountAndTime();
  /// The rows the rate counts from now on are given by the window (SetRateRows), not by the
  /// record count.
  void OwnRate() noexcept { own_rate_ = true; }
  /// The rows done so far in the whole run, for the rate.
  void SetRateRows(long long rows) noexcept { rate_rows_ = rows; }

 private:
  Q_INVOKABLE void Start();

  bool started_ = false;
  bool running_ = false;
  bool finished_ = false;
  QElapsedTimer run_clock_;  ///< steady, from the run's start
  qint64 run_ms_ = 0;        ///< the run's whole time once it ended
  int run_percent_ = 0;
  int table_percent_ = 0;
  int table_position_ = 0;
  int table_count_ = 0;  ///< 0: the whole-run bar shows run_percent_ as given
  bool positioned_ = false;
  bool table_begun_ = false;  ///< a new table's position waits to be shown
  long long records_ = 0;
  long long rate_rows_ = 0;
  bool own_rate_ = false;
};

}  // namespace tamaril::ui
