#include <memory>
#include <string>

#include "replication/archive_dump.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"

namespace tamaril::cli {

void AddArchiveCommands(Cli& cli) {
  CLI::App& archive = cli.AddCommand("archive", "Přenosové archivy");
  archive.require_subcommand(1);
  CLI::App& dump = cli.AddCommand("dump", "Vypíše hlavičku, tabulky a řádky přenosového archivu", &archive);
  struct Options {
    std::string file;
    bool rows = false;
  };
  auto options = std::make_shared<Options>();
  dump.add_option("FILE", options->file, "Soubor")->required();
  dump.add_flag("--rows", options->rows, "Vypíše i řádky");
  // What was read before a damage stays printed; the damage is the error.
  cli.SetAction(dump, Need::CommonValues | Need::RuleLists | Need::Settings, [&cli, options] {
    replication::DumpArchive(options->file, options->rows, cli.Out());
    return ExitStatus::Success;
  });
}

}  // namespace tamaril::cli
