#include <unistd.h>

#include <memory>
#include <string>

#include "core/paths.h"
#include "dbstruct/sqlite/sqlite_structure.h"
#include "replication/setup_script.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct SetupScriptOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
  bool apply = false;
  bool yes = false;
  bool add_rowguid = false;
};

// The question asked before hint.sql is written; the blank before each line break is part of it.
constexpr const char* kConfirmation =
    "Tato volba vytvori v adresari aplikace soubor hint.sql obsahujici \r\n"
    "castecny skript pro tvorbu replikacnich objektu vybrane databaze. \r\n"
    "(Tabulky, ktere je treba ignorovat, musi byt zapsany v souboru IGNORE.TXT) \r\n"
    "Pokracovat? ";

bool Confirmed(Cli& cli, bool yes) {
  if (yes) return true;
  std::string question = kConfirmation;
  std::erase(question, '\r');
  const std::optional<bool> answer = AskYesNo(question);
  if (!answer) cli.Err() << "tamaril-cli: bez terminálu je třeba souhlas dát volbou --yes\n";
  return answer.value_or(false);
}

// Writes hint.sql for the database of one definition and, on SQLite, runs it on request.
ExitStatus RunSetupScript(Cli& cli, const SetupScriptOptions& options) {
  DefinitionTarget target(cli, ChosenImportSide(options.export_list, options.import_list), options.signature);
  // Nothing is written unless the person agreed; without a terminal only --yes agrees.
  if (!Confirmed(cli, options.yes)) return ExitStatus::Cancelled;
  {
    ProgressBar bar(std::cerr, STDERR_FILENO);
    target.OpenUnchecked([&bar](dbstruct::tDatabase_Structure&, int index, const std::string&, int count) {
      bar.Show(text::Utf8ToAnsi("Analyzuji strukturu databáze"), index, count);
    });
  }
  const std::vector<std::string> ignore = replication::ReadIgnoreList(core::ProgramFolder());
  const std::string file_name =
      core::IncludeTrailingDelimiter(core::ProgramFolder()) + replication::kSetupScriptFile;
  replication::SetupOptions setup;
  setup.add_rowguid = options.add_rowguid;
  replication::GenerateSetupScript(target.Structure(), ignore, file_name, setup);
  cli.Out() << "hint.sql úspěšně vytvořen: " << file_name << '\n';
  if (!options.apply) return ExitStatus::Success;

  const auto* sqlite = dynamic_cast<const dbstruct::tSQLiteDatabase_Structure*>(&target.Structure());
  if (sqlite == nullptr)
    throw CliError::FromUtf8(
        "Na SQL Serveru skript neprovádím: spustí jej správce databáze v nástroji pro dotazy");
  replication::ApplySQLiteSetupScript(target.Connection(),
                                      replication::SQLiteSetupStatements(*sqlite, ignore, setup));
  cli.Out() << "Skript byl v databázi " << ToTerminal(target.DatabaseName()) << " proveden\n";
  return ExitStatus::Success;
}

}  // namespace

void AddSetupScriptCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand(
      "setup-script", "Vytvoří hint.sql, kostru skriptu replikačních objektů databáze definice");
  auto options = std::make_shared<SetupScriptOptions>();
  command.add_flag("--export", options->export_list, "Definice exportu");
  command.add_flag("--import", options->import_list, "Definice importu");
  command.add_option("SIGNATURE", options->signature, "Identifikace definice")->required();
  command.add_flag("--apply", options->apply,
                   "Skript rovnou provede v databázi (jen SQLite, v jedné transakci)");
  command.add_flag("--yes", options->yes, "Nepokládá otázku a rovnou pokračuje");
  command.add_flag("--add-rowguid", options->add_rowguid,
                   "Tabulkám bez RowGuid sloupce a bez jednoduchého celočíselného klíče přidá sloupec "
                   "rep_RowGuid, aby se přenášely i jejich výmazy");
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunSetupScript(cli, *options); });
}

}  // namespace tamaril::cli
