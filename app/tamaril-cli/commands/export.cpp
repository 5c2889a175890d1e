#include <memory>
#include <string>

#include "core/export_text.h"
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
#include "tamaril-cli/terminal_run_host.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct ExportOptions {
  std::string signature;
  bool allow_text_loss = false;
};

// What the list of texts that would lose characters adds when the run stopped because of them.
constexpr const char* kAllowHint =
    "Se ztrátou znaků (nahrazených '?') je přenese export s volbou --allow-text-loss.\n";
// What the note on deletions that do not travel adds.
constexpr const char* kRowGuidHint =
    " Sloupec rep_RowGuid jim přidá tamaril-cli setup-script --add-rowguid (na obou stranách).";

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
  if (core::ExportTextUnicode(definition.Signature)) definition.TextForm = replication::tTextForm::Unicode;

  core::LoginCache logins(cli.LoginPrompt());
  dbaccess::Connection connection;
  dbaccess::Connection master;
  const replication::tDatabaseAccess access{logins, connection, master, cli.StructureCache()};
  TerminalRunHost host(cli.Err());
  replication::tExportResult result;
  {
    const InterruptAsCancel interrupt(host);
    replication::tExportRun run(
        access, core::ReplOptions(), host,
        options.allow_text_loss ? replication::tTextLoss::Allow : replication::tTextLoss::Refuse);
    result = run.Run(definition);
  }
  // What the run did besides (an interrupted run's archive put in place) holds whatever the
  // run's own outcome.
  for (const std::string& note : result.Notes) cli.Out() << "Upozornění: " << ToTerminal(note) << '\n';
  if (result.Outcome == replication::tExportOutcome::Failed ||
      result.Outcome == replication::tExportOutcome::Unplaced) {
    throw CliError(result.Text);
  }
  if (result.Outcome == replication::tExportOutcome::TextLossRefused) {
    cli.Err() << "tamaril-cli: " << ToTerminal(result.Text) << '\n'
              << replication::LossyTextReport(result) << kAllowHint;
    return ExitStatus::Cancelled;
  }

  cli.Out() << ToTerminal(result.Text) << '\n';
  if (result.Outcome == replication::tExportOutcome::Cancelled) return ExitStatus::Cancelled;
  cli.Out() << ToTerminal(text::Utf8ToAnsi("Pořadí exportu: ")) << result.ExportNo << '\n';
  for (const auto& [table, rows] : result.Rows)
    cli.Out() << "  " << ToTerminal(table) << ": " << rows << '\n';
  cli.Out() << "Archiv: " << result.ArchivePath << '\n';
  for (const std::string& line : replication::ArchiveProtectionLines(result))
    cli.Out() << ToTerminal(line) << '\n';
  if (!result.MovedAsidePath.empty()) {
    cli.Out() << ToTerminal(text::Utf8ToAnsi("Předchozí archiv přejmenován na: ")) << result.MovedAsidePath
              << '\n';
  }
  for (const std::string& removed : result.RemovedBackups)
    cli.Out() << ToTerminal(text::Utf8ToAnsi("Odstraněn starší archiv: ")) << removed << '\n';
  cli.Out() << replication::LossyTextReport(result);
  if (!result.UntrackedDeletions.empty()) {
    cli.Out() << "Upozornění: " << ToTerminal(replication::UntrackedDeletionsNote(result)) << kRowGuidHint
              << '\n';
  }
  return result.Outcome == replication::tExportOutcome::Warnings ? ExitStatus::Warnings : ExitStatus::Success;
}

}  // namespace

void AddExportCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("export", "Provede export definice do přenosového archivu");
  auto options = std::make_shared<ExportOptions>();
  command.add_option("SIGNATURE", options->signature, "Identifikace definice exportu")->required();
  command.add_flag("--allow-text-loss", options->allow_text_loss,
                   "Přenese i texty se znaky, které kódování Windows-1250 nepřenese (nahradí je '?'); "
                   "bez volby export takové texty vypíše a nic nezapíše");
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunExport(cli, *options); });
}

}  // namespace tamaril::cli
