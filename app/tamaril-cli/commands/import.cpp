#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/memory_table.h"
#include "dataset/memory_table_file.h"
#include "dbaccess/connection.h"
#include "replication/conflict_list.h"
#include "replication/database_open.h"
#include "replication/import_report.h"
#include "replication/import_run.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "tamaril-cli/terminal_run_host.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct ImportOptions {
  std::string backup = "ask";
  std::string restore = "ask";
  bool verbose = false;
  std::string done_folder;
  bool skip_imported = false;  ///< accepted; skipping imported archives is what the run does anyway
  bool reimport = false;
  std::string report;  ///< where the import report goes; empty: beside the log
};

AnswerMode BackupMode(const std::string& word) {
  if (word == "yes") return AnswerMode::Yes;
  if (word == "no") return AnswerMode::No;
  if (word == "all") return AnswerMode::YesToAll;
  if (word == "none") return AnswerMode::NoToAll;
  return AnswerMode::Ask;
}

AnswerMode RestoreMode(const std::string& word) {
  if (word == "yes") return AnswerMode::Yes;
  if (word == "no") return AnswerMode::No;
  return AnswerMode::Ask;
}

bool HasTerminal() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string Utf8(const std::string& ansi) { return text::AnsiToUtf8(ansi); }

void PrintArchives(std::ostream& out, const replication::tImportResult& result) {
  for (const auto& archive : result.Archives) {
    out << "Archiv: " << std::filesystem::path(archive.Path).filename().string() << '\n';
    if (!archive.Signature.empty()) {
      out << "  Signature: " << Utf8(archive.Signature) << ", EXPORTNO: " << archive.ExportNo << '\n';
    }
    if (archive.State == replication::tArchiveState::Imported) {
      out << "  IMPORTNO: " << archive.ImportNo << '\n';
      for (const std::string& warning : archive.Warnings) out << "  Upozornění: " << Utf8(warning) << '\n';
      out << "  " << ImportCountersText(archive.Counters) << '\n';
    } else {
      out << "  " << Utf8(replication::ArchiveOutcomeText(archive)) << '\n';
    }
    if (!archive.MovedTo.empty()) out << "  Přesunut do: " << archive.MovedTo << '\n';
  }
  out << "Celkem:\n";
  out << "  " << ImportCountersText(result.Total) << '\n';
}

/// True when the archive of a conflict group was rolled back: its rows are not in the database.
bool RolledBack(const replication::tImportResult& result, const std::string& archive_name) {
  for (const auto& archive : result.Archives) {
    if (archive.State != replication::tArchiveState::Failed || archive.RollbackUnconfirmed) continue;
    if (text::Utf8ToAnsi(std::filesystem::path(archive.Path).filename().string()) == archive_name)
      return true;
  }
  return false;
}

void PrintConflicts(std::ostream& out, const replication::tImportResult& result) {
  if (result.Conflicts->Empty()) return;
  out << "Konflikty:\n";
  for (const auto& group : result.Conflicts->Groups()) {
    out << Utf8(group->message) << '\n';
    if (!group->archive_name.empty()) {
      out << "Archiv: " << Utf8(group->archive_name);
      if (RolledBack(result, group->archive_name)) out << " (import vrácen, řádky nejsou v databázi)";
      out << '\n';
    }
    if (!group->database_name.empty()) out << "Databáze: " << Utf8(group->database_name) << '\n';
    if (group->rows) {
      int number = 0;
      for (const auto& record : group->rows->Records().Items)
        out << "řádek " << ++number << '\n' << dataset::DumpRecord(*record);
    }
    out << "...\n";
  }
}

/// Writes the run's report to `path`, or beside the log file, and says where; a run that found no
/// archive and failed in nothing leaves one only when asked for it by path. A failure is a
/// warning: the import stays as it is. False when the report was wanted and not written.
bool WriteReport(Cli& cli, const replication::tImportResult& result, const std::string& path) {
  if (path.empty() && !replication::LeavesImportReport(result)) return true;
  try {
    const std::string written = path.empty()
                                    ? replication::WriteImportReportBesideLog(result, core::ReplOptions())
                                    : replication::WriteImportReport(result, path, true);
    cli.Out() << "Přehled importu: " << written << '\n';
    return true;
  } catch (const std::exception& error) {
    cli.Out() << "Upozornění: " << ToTerminal(error.what()) << '\n';
    return false;
  }
}

ExitStatus RunImport(Cli& cli, const ImportOptions& options) {
  const AnswerMode backup = BackupMode(options.backup);
  const AnswerMode restore = RestoreMode(options.restore);
  core::LoginCache logins(cli.LoginPrompt());
  dbaccess::Connection connection;
  dbaccess::Connection master;
  const replication::tDatabaseAccess access{logins, connection, master, cli.StructureCache()};
  TerminalRunHost host(cli.Err(), backup, restore);

  replication::tImportRunOptions run_options;
  // Without the option the settings' folder holds, which is empty unless one was chosen.
  run_options.done_folder =
      options.done_folder.empty() ? text::AnsiToUtf8(core::ReplOptions().DoneFolder) : options.done_folder;
  run_options.reimport = options.reimport;
  run_options.progress = [&host](replication::tImportProgressStep step,
                                 const replication::tImportProgress& progress) {
    host.ShowImportProgress(step, progress);
  };
  // Plain lines name each archive's and table's rows where they begin; a bar fills them in later.
  run_options.totals_first = !host.ShowsBar();
  if (options.verbose) {
    run_options.log_echo = [&cli, &host](const std::string& line) {
      host.FinishBar();
      cli.Out() << ToTerminal(line) << '\n' << std::flush;
    };
  }
  replication::tImportRun run(access, core::ReplOptions(), cli.Maindata().DefinitionList(true), host,
                              std::move(run_options));

  // Without a terminal the questions the run may ask are settled before it changes anything.
  if (!HasTerminal() && !run.FindArchives().empty()) {
    if (backup == AnswerMode::Ask) {
      cli.Err() << "tamaril-cli: Bez terminálu nelze odpovědět na otázku zálohování; zadejte --backup "
                   "yes|no|all|none\n";
      return ExitStatus::Cancelled;
    }
    if ((backup == AnswerMode::Yes || backup == AnswerMode::YesToAll) && restore == AnswerMode::Ask) {
      cli.Err() << "tamaril-cli: Bez terminálu nelze odpovědět na otázku obnovy ze zálohy; zadejte --restore "
                   "yes|no\n";
      return ExitStatus::Cancelled;
    }
  }

  replication::tImportResult result;
  {
    const InterruptAsCancel interrupt(host);
    result = run.Run();
  }
  host.FinishBar();

  std::ostream& out = cli.Out();
  if (result.Outcome != replication::tImportOutcome::Failed) out << Utf8(result.Text) << '\n';
  PrintArchives(out, result);
  PrintConflicts(out, result);

  bool offer = false;
  for (const auto& database : result.BackedUp) offer = offer || database.RestoreWanted;
  if (offer && !run.OfferRestores(result)) {
    // The command line has no window to keep open: Abort leaves the databases as they are.
    out << "Obnova ze zálohy neprovedena, databáze ponechány ve stavu po importu\n";
  }

  const bool reported = WriteReport(cli, result, options.report);
  switch (result.Outcome) {
    // The import went in, but the report it was to leave is missing: a warning, not a success.
    case replication::tImportOutcome::Success: return reported ? ExitStatus::Success : ExitStatus::Warnings;
    case replication::tImportOutcome::Conflicts: return ExitStatus::Conflicts;
    case replication::tImportOutcome::Warnings: return ExitStatus::Warnings;
    case replication::tImportOutcome::Cancelled: return ExitStatus::Cancelled;
    case replication::tImportOutcome::Failed: break;
  }
  throw CliError(result.Text);
}

}  // namespace

void AddImportCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("import", "Provede import všech archivů složky importu");
  auto options = std::make_shared<ImportOptions>();
  command
      .add_option("--backup", options->backup,
                  "Otázka zálohování databáze: ask = ptát se na terminálu (výchozí), yes = ano pro každou, "
                  "no = ne pro každou, all = ano všem, none = ne všem; bez terminálu je nutné zadat jinou "
                  "hodnotu než ask")
      ->check(CLI::IsMember({"ask", "yes", "no", "all", "none"}));
  command
      .add_option(
          "--restore", options->restore,
          "Otázka obnovy ze zálohy, když databáze může obsahovat část archivu (jeho vrácení selhalo): "
          "ask = ptát se na terminálu (výchozí), yes = obnovit, no = neobnovit; bez terminálu a se "
          "zálohou je nutné zadat yes nebo no")
      ->check(CLI::IsMember({"ask", "yes", "no"}));
  command.add_flag("--verbose", options->verbose, "Vypisuje řádky logu importu, jak vznikají");
  command.add_option("--done-folder", options->done_folder,
                     "Složka, kam se přesune každý archiv, jehož import byl potvrzen (výchozí: DONEFLDR "
                     "nastavení, jinak archivy zůstávají)");
  auto* skip =
      command.add_flag("--skip-imported", options->skip_imported,
                       "Výchozí chování, volba zůstává kvůli skriptům: archiv, jehož EXPORTNO není vyšší "
                       "než naposledy importované, se neimportuje");
  command
      .add_flag(
          "--reimport", options->reimport,
          "Importuje i archiv, jehož EXPORTNO není vyšší než naposledy importované (může vrátit novější "
          "změny a obnovit smazané řádky)")
      ->excludes(skip);
  command.add_option("--report", options->report,
                     "Soubor, do kterého se zapíše přehled importu (HTML); výchozí je "
                     "reports/import-RRRRMMDD-HHMMSS.html ve složce logu importu");
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunImport(cli, *options); });
}

}  // namespace tamaril::cli
