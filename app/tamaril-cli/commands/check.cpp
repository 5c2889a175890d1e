#include <memory>
#include <string>

#include "core/paths.h"
#include "replication/readiness_report.h"
#include "replication/setup_script.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {
namespace {

struct CheckOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
  bool data = false;
};

// Checks the database of one definition for its side: "připraveno", or the reason it is not, then
// what will go wrong with its tables or what the setup script would change. Only the readiness
// decides the exit status; the notes are warnings.
ExitStatus RunCheck(Cli& cli, const CheckOptions& options) {
  const bool import = ChosenImportSide(options.export_list, options.import_list);
  DefinitionTarget target(cli, import, options.signature);
  const std::vector<std::string> ignore = replication::ReadIgnoreList(core::ProgramFolder());
  const bool ready = target.Open(cli.Out());
  if (ready) cli.Out() << "připraveno\n";
  const std::vector<replication::ReadinessNote> notes =
      replication::ReadinessReport(target.Structure(), ignore, {.import = import, .with_data = options.data});
  cli.Out() << ToTerminal(replication::FormatReadinessNotes(notes));
  return ready ? ExitStatus::Success : ExitStatus::Failure;
}

}  // namespace

void AddCheckCommands(Cli& cli) {
  CLI::App& check = cli.AddCommand("check", "Ověří, že je databáze definice připravena k replikaci");
  auto options = std::make_shared<CheckOptions>();
  check.add_flag("--export", options->export_list, "Definice exportu");
  check.add_flag("--import", options->import_list, "Definice importu");
  check.add_option("SIGNATURE", options->signature, "Identifikace definice")->required();
  check.add_flag("--data", options->data,
                 "Projde i data: spočítá hodnoty textových sloupců se znaky mimo kódování Windows-1250");
  cli.SetAction(check,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunCheck(cli, *options); });
}

}  // namespace tamaril::cli
