#include <memory>
#include <string>

#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/demo_run.h"

namespace tamaril::cli {

void AddDemoCommands(Cli& cli) {
  CLI::App& command =
      cli.AddCommand("demo", "Předvede celou replikaci na SQLite: klient, centrum, export, import, konflikt");
  auto dir = std::make_shared<std::string>();
  command.add_option("DIR", *dir, "Nová nebo prázdná složka ukázky (jinak nová dočasná)");
  cli.SetAction(command, Need::StructureCache | Need::CommonValues | Need::RuleLists, [&cli, dir] {
    RunDemo({cli.Out(), cli.LoginPrompt(), cli.StructureCache()}, PrepareDemoFolder(*dir, cli.Out()));
    return ExitStatus::Success;
  });
}

}  // namespace tamaril::cli
