#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>

#include "replication/import_run.h"
#include "replication/run_host.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {

/// How a run's backup or restore question is answered.
enum class AnswerMode {
  Ask,       ///< on the controlling terminal
  Yes,       ///< Yes to each question
  No,        ///< No to each question
  YesToAll,  ///< Yes to all (the backup question only)
  NoToAll,   ///< No to all (the backup question only)
};

/// The run's host on a terminal: a progress bar on standard error when it is a terminal, drawn
/// at most ten times a second (a new activity at once); the questions on the controlling
/// terminal or by the answer modes given. Without a terminal a cancel request ends the run, the
/// log question answers Abort and so do the backup and restore questions left to Ask.
class TerminalRunHost : public replication::tRunHost {
 public:
  /// Draws on `err`, whose descriptor is `fd`; answers the backup and restore questions by
  /// `backup` and `restore`.
  explicit TerminalRunHost(std::ostream& err, AnswerMode backup = AnswerMode::Ask,
                           AnswerMode restore = AnswerMode::Ask, int fd = STDERR_FILENO)
      : err_(err), bar_(err, fd), backup_(backup), restore_(restore) {}

  void SetActivity(const std::string& text) override;
  void SetTableName(const std::string& name) override;
  void SetRunProgress(int percent) override { run_percent_ = percent; }
  void SetTableProgress(int percent) override;
  void ShowProgress(bool run_bar, bool table_bar) override;
  void SetRecordCount(long long count) override { count_ = count; }

  bool Confirm(const std::string& question) override;
  bool ContinueAfterError(const std::string& question) override;
  replication::tRunAnswer AskBackup(const std::string& question) override;
  replication::tRunAnswer AskRestore(const std::string& question) override;
  // The command prints the result itself.
  void ShowMessage(const std::string&) override {}

  /// Shows where an import's merge stands: on a terminal the bar of the archive's rows with the
  /// current table's rows in its caption; otherwise one plain line per archive and per table
  /// ("Archiv 1 z 2: A.ZR2, 40 řádků", "  Customers: 12 řádků").
  void ShowImportProgress(replication::tImportProgressStep step,
                          const replication::tImportProgress& progress);

  /// Ends a drawn bar's line, so that other output starts on a line of its own.
  void FinishBar() { bar_.Finish(); }
  /// Progress goes to a bar redrawn in place (a terminal), not to plain lines.
  bool ShowsBar() const { return bar_.Enabled(); }

 private:
  void Draw(bool now);

  std::ostream& err_;
  ProgressBar bar_;
  AnswerMode backup_;
  AnswerMode restore_;
  std::string activity_;
  std::string table_;
  int run_percent_ = 0;
  int table_percent_ = 0;
  long long count_ = 0;
  bool merging_ = false;                ///< an import's merge is shown instead of the labels
  replication::tImportProgress merge_;  ///< the last state of that merge
  std::chrono::steady_clock::time_point drawn_at_{};
};

/// Ctrl+C becomes the run's cancel request while the object lives.
class InterruptAsCancel {
 public:
  /// Installs the handler for `host`, keeping the previous one.
  explicit InterruptAsCancel(replication::tRunHost& host);
  /// Puts the previous handler back.
  ~InterruptAsCancel();
  InterruptAsCancel(const InterruptAsCancel&) = delete;
  InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;

 private:
  struct sigaction previous_ {};
};

/// "1 řádek", "3 řádky", "5 řádků": a count of rows with the Czech form its number takes.
std::string RowsText(long long count);

/// The caption of an import's merge on the terminal (UTF-8): "A.ZR2 (1 z 2): 40/100, Customers:
/// 12/30"; a count without a total where none was counted.
std::string ImportProgressCaption(const replication::tImportProgress& progress);

/// One line of an import's counters, UTF-8, without the line end: "zpracováno: N, duplicitní: N, …".
std::string ImportCountersText(const replication::tImportCounters& counters);

}  // namespace tamaril::cli
