#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "core/input_check.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "replication/database_open.h"
#include "replication/export_run.h"
#include "replication/run_host.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct ExportOptions {
  std::string signature;
};

/// The run's host on a terminal: a progress bar on standard error when it is a terminal, drawn
/// at most five times a second; the questions on the controlling terminal. Without a terminal a
/// cancel request ends the run and the log question answers Abort.
class TerminalRunHost : public replication::tRunHost {
 public:
  explicit TerminalRunHost(std::ostream& err) : bar_(err, STDERR_FILENO) {}

  void SetActivity(const std::string& text) override {
    activity_ = text;
    Draw(true);
  }
  void SetTableName(const std::string& name) override {
    table_ = name;
    Draw(true);
  }
  void SetRunProgress(int percent) override { run_percent_ = percent; }
  void SetTableProgress(int percent) override {
    table_percent_ = percent;
    Draw(false);
  }
  void ShowProgress(bool run_bar, bool table_bar) override {
    if (!run_bar && !table_bar) bar_.Finish();
  }
  void SetRecordCount(long long count) override { count_ = count; }

  bool Confirm(const std::string& question) override {
    bar_.Finish();
    return AskYesNo(ToTerminal(question)).value_or(true);
  }
  bool ContinueAfterError(const std::string& question) override {
    bar_.Finish();
    return AskYesNo(ToTerminal(question)).value_or(false);
  }
  replication::tRunAnswer AskBackup(const std::string&) override { return replication::tRunAnswer::Abort; }
  replication::tRunAnswer AskRestore(const std::string&) override { return replication::tRunAnswer::Abort; }
  // The command prints the result itself.
  void ShowMessage(const std::string&) override {}

 private:
  void Draw(bool now) {
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - drawn_at_ < std::chrono::milliseconds(200)) return;
    drawn_at_ = time;
    std::string caption = activity_;
    if (!table_.empty()) caption += " " + table_;
    caption += " (" + std::to_string(count_) + ")";
    bar_.Show(caption, run_percent_, 100);
  }

  ProgressBar bar_;
  std::string activity_;
  std::string table_;
  int run_percent_ = 0;
  int table_percent_ = 0;
  long long count_ = 0;
  std::chrono::steady_clock::time_point drawn_at_{};
};

std::atomic<replication::tRunHost*> interrupted_host{nullptr};

void OnInterrupt(int) {
  if (replication::tRunHost* host = interrupted_host.load()) host->RequestCancel();
}

/// Ctrl+C becomes the run's cancel request while the object lives.
class InterruptAsCancel {
 public:
  explicit InterruptAsCancel(replication::tRunHost& host) {
    interrupted_host.store(&host);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptAsCancel() {
    ::sigaction(SIGINT, &previous_, nullptr);
    interrupted_host.store(nullptr);
  }
  InterruptAsCancel(const InterruptAsCancel&) = delete;
  InterruptAsCancel& operator=(const InterruptAsCancel&) = delete;

 private:
  struct sigaction previous_ {};
};

ExitStatus RunExport(Cli& cli, const ExportOptions& options) {
  dataset::TQVMStoredMemoryDataSet& list = cli.Maindata().DefinitionList(false);
  const std::string key = core::CheckedAnsiInput("Signature", options.signature);
  if (!list.Locate("Signature", dataset::Variant::String(key)))
    throw CliError::FromUtf8("Definice exportu " + options.signature + " v seznamu není");
  replication::tExportDefinition definition;
  definition.Signature = list.FieldByName("Signature").AsString();
  definition.ConnectionString = list.FieldByName("ConnectionString").Text();
  definition.DatabaseName = list.FieldByName("DatabaseName").AsString();
  definition.CenterName = list.FieldByName("CenterName").AsString();

  core::LoginCache logins(cli.LoginPrompt());
  dbaccess::Connection connection;
  dbaccess::Connection master;
  const replication::tDatabaseAccess access{logins, connection, master, cli.StructureCache()};
  TerminalRunHost host(cli.Err());
  replication::tExportResult result;
  {
    const InterruptAsCancel interrupt(host);
    replication::tExportRun run(access, core::ReplOptions(), host);
    result = run.Run(definition);
  }
  if (result.Outcome == replication::tExportOutcome::Failed) throw CliError(result.Text);

  cli.Out() << ToTerminal(result.Text) << '\n';
  if (result.Outcome == replication::tExportOutcome::Cancelled) return ExitStatus::Cancelled;
  cli.Out() << ToTerminal(text::Utf8ToAnsi("Pořadí exportu: ")) << result.ExportNo << '\n';
  for (const auto& [table, rows] : result.Rows)
    cli.Out() << "  " << ToTerminal(table) << ": " << rows << '\n';
  cli.Out() << "Archiv: " << result.ArchivePath << '\n';
  if (!result.MovedAsidePath.empty()) {
    cli.Out() << ToTerminal(text::Utf8ToAnsi("Předchozí archiv přejmenován na: ")) << result.MovedAsidePath
              << '\n';
  }
  for (const auto& warning : result.Warnings) {
    cli.Out() << ToTerminal(text::Utf8ToAnsi("Varování: znaky mimo Windows-1250 nahrazeny '?': "))
              << ToTerminal(warning.Table) << " [" << ToTerminal(warning.Key) << "] "
              << ToTerminal(warning.Column) << '\n';
  }
  return ExitStatus::Success;
}

}  // namespace

void AddExportCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("export", "Provede export definice do přenosového archivu");
  auto options = std::make_shared<ExportOptions>();
  command.add_option("SIGNATURE", options->signature, "Identifikace definice exportu")->required();
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunExport(cli, *options); });
}

}  // namespace tamaril::cli
