#include "tamaril-cli/terminal_run_host.h"

#include <atomic>
#include <string>

namespace tamaril::cli {
namespace {

std::atomic<replication::tRunHost*> interrupted_host{nullptr};

void OnInterrupt(int) {
  if (replication::tRunHost* host = interrupted_host.load()) host->RequestCancel();
}

replication::tRunAnswer Fixed(AnswerMode mode) {
  switch (mode) {
    case AnswerMode::Yes: return replication::tRunAnswer::Yes;
    case AnswerMode::No: return replication::tRunAnswer::No;
    case AnswerMode::YesToAll: return replication::tRunAnswer::YesToAll;
    case AnswerMode::NoToAll: return replication::tRunAnswer::NoToAll;
    case AnswerMode::Ask: break;
  }
  return replication::tRunAnswer::Abort;
}

}  // namespace

void TerminalRunHost::SetActivity(const std::string& text) {
  const bool changed = text != activity_;
  activity_ = text;
  if (!merging_) Draw(changed);
}

void TerminalRunHost::SetTableName(const std::string& name) {
  table_ = name;
  if (!merging_) Draw(false);
}

void TerminalRunHost::SetTableProgress(int percent) {
  table_percent_ = percent;
  if (!merging_) Draw(false);
}

void TerminalRunHost::ShowImportProgress(replication::tImportProgressStep step,
                                         const replication::tImportProgress& progress) {
  using Step = replication::tImportProgressStep;
  merge_ = progress;
  merging_ = step != Step::ArchiveEnd;
  if (bar_.Enabled()) {
    if (merging_) Draw(false);
    return;
  }
  // Without a terminal: a plain line where an archive or a table begins, nothing per row.
  if (step == Step::ArchiveStart) {
    err_ << "Archiv " << progress.archive_number << " z " << progress.archive_count << ": "
         << ToTerminal(progress.archive) << ", " << RowsText(progress.archive_total) << '\n'
         << std::flush;
  } else if (step == Step::TableStart) {
    err_ << "  " << ToTerminal(progress.table) << (progress.deleted_rows ? " (smazané řádky)" : "") << ": "
         << RowsText(progress.table_total) << '\n'
         << std::flush;
  }
}

void TerminalRunHost::ShowProgress(bool run_bar, bool table_bar) {
  if (!run_bar && !table_bar) bar_.Finish();
}

bool TerminalRunHost::Confirm(const std::string& question) {
  bar_.Finish();
  return AskYesNo(ToTerminal(question)).value_or(true);
}

bool TerminalRunHost::ContinueAfterError(const std::string& question) {
  bar_.Finish();
  return AskYesNo(ToTerminal(question)).value_or(false);
}

replication::tRunAnswer TerminalRunHost::AskBackup(const std::string& question) {
  if (backup_ != AnswerMode::Ask) return Fixed(backup_);
  bar_.Finish();
  const auto letter =
      AskLetter(ToTerminal(question), " [a]no / [n]e / [p]řerušit / ne [v]šem / ano vš[e]m: ", "anpve");
  switch (letter.value_or('p')) {
    case 'a': return replication::tRunAnswer::Yes;
    case 'n': return replication::tRunAnswer::No;
    case 'v': return replication::tRunAnswer::NoToAll;
    case 'e': return replication::tRunAnswer::YesToAll;
    default: return replication::tRunAnswer::Abort;
  }
}

replication::tRunAnswer TerminalRunHost::AskRestore(const std::string& question) {
  if (restore_ != AnswerMode::Ask) return Fixed(restore_);
  bar_.Finish();
  const auto letter = AskLetter(ToTerminal(question), " [a]no / [n]e / [p]řerušit: ", "anp");
  switch (letter.value_or('p')) {
    case 'a': return replication::tRunAnswer::Yes;
    case 'n': return replication::tRunAnswer::No;
    default: return replication::tRunAnswer::Abort;
  }
}

void TerminalRunHost::Draw(bool now) {
  if (!bar_.Enabled()) return;
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - drawn_at_ < std::chrono::milliseconds(100)) return;
  drawn_at_ = time;
  if (merging_) {
    bar_.ShowUtf8(ImportProgressCaption(merge_), merge_.archive_rows, merge_.archive_total);
    return;
  }
  std::string caption = activity_;
  if (!table_.empty()) caption += " " + table_;
  caption += " (" + std::to_string(count_) + ")";
  bar_.Show(caption, run_percent_, 100);
}

InterruptAsCancel::InterruptAsCancel(replication::tRunHost& host) {
  interrupted_host.store(&host);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previous_);
}

InterruptAsCancel::~InterruptAsCancel() {
  ::sigaction(SIGINT, &previous_, nullptr);
  interrupted_host.store(nullptr);
}

std::string RowsText(long long count) {
  const char* form = count == 1 ? " řádek" : count >= 2 && count <= 4 ? " řádky" : " řádků";
  return std::to_string(count) + form;
}

std::string ImportProgressCaption(const replication::tImportProgress& progress) {
  const auto counts = [](long long done, long long total) {
    return total > 0 || done == 0 ? std::to_string(done) + "/" + std::to_string(total) : std::to_string(done);
  };
  std::string caption = ToTerminal(progress.archive) + " (" + std::to_string(progress.archive_number) +
                        " z " + std::to_string(progress.archive_count) +
                        "): " + counts(progress.archive_rows, progress.archive_total);
  if (!progress.table.empty())
    caption += ", " + ToTerminal(progress.table) + ": " + counts(progress.table_rows, progress.table_total);
  return caption;
}

std::string ImportCountersText(const replication::tImportCounters& counters) {
  return "zpracováno: " + std::to_string(counters.processed) +
         ", duplicitní: " + std::to_string(counters.duplicates) +
         ", přidáno: " + std::to_string(counters.appended) +
         ", aktualizováno: " + std::to_string(counters.updated) +
         ", smazáno: " + std::to_string(counters.deleted) +
         ", ignorováno: " + std::to_string(counters.ignored) +
         ", konflikty: " + std::to_string(counters.conflicts);
}

}  // namespace tamaril::cli
