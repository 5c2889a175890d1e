#include <memory>
#include <ostream>
#include <string>

#include "dataset/memory_table_file.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"

namespace tamaril::cli {
namespace {

// Prints a memory table file; what was read before a damage stays printed.
ExitStatus RunMemtableDump(std::ostream& out, const std::string& file) {
  std::string partial;
  try {
    out << dataset::DumpMemoryTableFile(file, &partial);
  } catch (...) {
    out << partial;
    throw;
  }
  return ExitStatus::Success;
}

}  // namespace

void AddMemtableCommands(Cli& cli) {
  CLI::App& memtable = cli.AddCommand("memtable", "Soubory paměťových tabulek");
  memtable.require_subcommand(1);
  CLI::App& dump = cli.AddCommand("dump", "Vypíše obsah souboru paměťové tabulky", &memtable);
  auto file = std::make_shared<std::string>();
  dump.add_option("FILE", *file, "Soubor")->required();
  cli.SetAction(dump, Need::CommonValues | Need::RuleLists | Need::Settings,
                [&cli, file] { return RunMemtableDump(cli.Out(), *file); });
}

}  // namespace tamaril::cli
