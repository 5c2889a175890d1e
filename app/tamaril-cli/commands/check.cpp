#include <memory>
#include <string>

#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"

namespace tamaril::cli {
namespace {

struct CheckOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
};

// Checks the database of one definition for its side: "ready", or the reason it is not.
ExitStatus RunCheck(Cli& cli, const CheckOptions& options) {
  DefinitionTarget target(cli, ChosenImportSide(options.export_list, options.import_list), options.signature);
  if (!target.Open(cli.Out())) return ExitStatus::Failure;
  cli.Out() << "ready\n";
  return ExitStatus::Success;
}

}  // namespace

void AddCheckCommands(Cli& cli) {
  CLI::App& check = cli.AddCommand("check", "Ověří, že je databáze definice připravena k replikaci");
  auto options = std::make_shared<CheckOptions>();
  check.add_flag("--export", options->export_list, "Definice exportu");
  check.add_flag("--import", options->import_list, "Definice importu");
  check.add_option("SIGNATURE", options->signature, "Identifikace definice")->required();
  cli.SetAction(check,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunCheck(cli, *options); });
}

}  // namespace tamaril::cli
