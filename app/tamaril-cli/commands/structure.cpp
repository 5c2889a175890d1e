#include <memory>
#include <sstream>
#include <string>

#include "core/input_check.h"
#include "core/login_cache.h"
#include "dbstruct/keyed_table.h"
#include "replication/database_open.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

// Scans a database and prints its structure: tables master first, then the foreign keys.
ExitStatus RunStructure(Cli& cli, const std::string& connection_string, const std::string& database) {
  core::LoginCache logins(cli.LoginPrompt());
  dbaccess::Connection connection;
  dbaccess::Connection master;
  dbstruct::tDatabase_Structure& structure = replication::OpenDatabaseStructure(
      {logins, connection, master, cli.StructureCache()},
      core::CheckedAnsiInput("--connection", connection_string),
      core::CheckedAnsiInput("--database", database), replication::tReadyFor::Nothing);
  std::ostringstream listing;
  dbstruct::WriteStructureListing(structure, listing);
  cli.Out() << ToTerminal(listing.str());
  return ExitStatus::Success;
}

}  // namespace

void AddStructureCommands(Cli& cli) {
  CLI::App& structure = cli.AddCommand("structure", "Načte strukturu databáze a vypíše tabulky a cizí klíče");
  struct Options {
    std::string connection;
    std::string database;
  };
  auto options = std::make_shared<Options>();
  structure.add_option("--connection", options->connection, "Připojovací řetězec")->required();
  structure.add_option("--database", options->database, "Databáze")->required();
  cli.SetAction(structure, Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Settings,
                [&cli, options] { return RunStructure(cli, options->connection, options->database); });
}

}  // namespace tamaril::cli
