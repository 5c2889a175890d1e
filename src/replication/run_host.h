#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace tamaril::replication {

/// The answers a run's questions can get.
enum class tRunAnswer {
  Yes,
  No,
  Abort,
  NoToAll,
  YesToAll,
};

/// A bar position: `position` × 100 / `count` rounded to the nearest integer, halves to even,
/// held within 0 to 100; 0 when `count` is not positive.
int ProgressPercent(long long position, long long count);

/// What a run needs from the person in front of it: the progress display, questions, messages
/// and the cancel request. The desktop run windows implement it with widgets, the command line
/// with a terminal. Every text is Windows-1250. The run owns nothing of the host.
class tRunHost {
 public:
  tRunHost() = default;
  virtual ~tRunHost() = default;
  tRunHost(const tRunHost&) = delete;
  tRunHost& operator=(const tRunHost&) = delete;

  /// Shows the current activity ("Exportuji tabulku"; empty clears it).
  virtual void SetActivity(const std::string& text) = 0;
  /// Shows the name of the table being worked on (empty clears it).
  virtual void SetTableName(const std::string& name) = 0;
  /// Sets the whole-run bar (0 to 100).
  virtual void SetRunProgress(int percent) = 0;
  /// Sets the current table's bar (0 to 100).
  virtual void SetTableProgress(int percent) = 0;
  /// Shows or hides the whole-run bar and the table bar.
  virtual void ShowProgress(bool run_bar, bool table_bar) = 0;
  /// Shows the running count of rows written or read.
  virtual void SetRecordCount(long long count) = 0;
  /// Lets the host handle pending input (repaints, the cancel button); nothing by default.
  virtual void ProcessEvents() {}
  /// Where the table of the next bars stands among `table_count` tables (`position` from 1 as
  /// the table begins, 0 for a table before them), told by ReportTable before the bars: a host
  /// may move its whole-run bar with the table's rows. Nothing by default.
  virtual void SetTablePosition(int /*position*/, int /*table_count*/) {}

  /// A question with Yes and No ("Opravdu chcete ukončit export?"); true for Yes.
  virtual bool Confirm(const std::string& question) = 0;
  /// An error box with Yes and Abort ("Chyba při otvírání log souboru. Pokračovat?"); true for Yes.
  virtual bool ContinueAfterError(const std::string& question) = 0;
  /// The import's backup question: Yes, No, Abort, NoToAll or YesToAll.
  virtual tRunAnswer AskBackup(const std::string& question) = 0;
  /// The import's restore question: Yes, No or Abort.
  virtual tRunAnswer AskRestore(const std::string& question) = 0;
  /// Shows an information message.
  virtual void ShowMessage(const std::string& text) = 0;
  /// The export's question whether texts Windows-1250 cannot carry may travel with '?'; true
  /// for Yes. Asks Confirm unless a host has a question of its own.
  virtual bool AllowTextLoss(const std::string& question) { return Confirm(question); }

  /// Asks the run to stop at its next callback; safe from a signal handler.
  void RequestCancel() noexcept { cancel_requested_.store(true); }
  /// Forgets the request (the person answered No, or a new run starts).
  void ClearCancel() noexcept { cancel_requested_.store(false); }
  /// True while a request waits.
  bool CancelRequested() const noexcept { return cancel_requested_.load(); }

  /// The check of every callback: when a request waits, asks `question`; Yes throws EAbort, No
  /// clears the request and the run goes on. Throws what Confirm throws.
  void CheckCancel(const std::string& question);

  /// Table progress: the table label takes `table_name` when it differs, the whole-run bar
  /// `position` of `table_count`, the table bar 0; then pending input is handled.
  void ReportTable(int position, const std::string& table_name, int table_count);
  /// Row progress: the table bar `position` of `row_count`; then pending input is handled.
  void ReportRow(long long position, long long row_count);
  /// Clears the activity and the table label at the end of a run.
  void ClearLabels();

 private:
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> cancel_requested_{false};
  std::string table_label_;
};

/// A host without a person, for runs a program drives by itself: it shows nothing, declines every
/// backup and restore offer, answers Abort to an error question and ends the run on a cancel
/// request.
class tSilentRunHost : public tRunHost {
 public:
  void SetActivity(const std::string&) override {}
  void SetTableName(const std::string&) override {}
  void SetRunProgress(int) override {}
  void SetTableProgress(int) override {}
  void ShowProgress(bool, bool) override {}
  void SetRecordCount(long long) override {}
  bool Confirm(const std::string&) override { return true; }
  bool ContinueAfterError(const std::string&) override { return false; }
  tRunAnswer AskBackup(const std::string&) override { return tRunAnswer::NoToAll; }
  tRunAnswer AskRestore(const std::string&) override { return tRunAnswer::No; }
  void ShowMessage(const std::string&) override {}
};

}  // namespace tamaril::replication
