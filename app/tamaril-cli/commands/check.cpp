#include <algorithm>
#include <memory>
#include <string>

#include "core/input_check.h"
#include "core/login_cache.h"
#include "core/maindata.h"
#include "dataset/field.h"
#include "dbaccess/connection.h"
#include "replication/database_open.h"
#include "replication/readiness.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {
namespace {

struct CheckOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
};

// Checks the database of one definition for its side: "ready", or the reason it is not.
ExitStatus RunCheck(Cli& cli, const CheckOptions& options) {
  if (options.export_list == options.import_list)
    throw CliError::FromUtf8("Uveďte právě jedno z --export a --import");
  const bool import = options.import_list;
  dataset::TQVMStoredMemoryDataSet& list = cli.Maindata().DefinitionList(import);
  const std::string key = core::CheckedAnsiInput("Signature", options.signature);
  if (!list.Locate("Signature", dataset::Variant::String(key)))
    throw CliError::FromUtf8("Definice " + options.signature + " v seznamu není");
  const std::string connection_string = list.FieldByName("ConnectionString").Text();
  const std::string database_name = list.FieldByName("DatabaseName").AsString();

  core::LoginCache logins(cli.LoginPrompt());
  dbaccess::Connection connection;
  dbaccess::Connection master;
  try {
    replication::OpenDatabaseStructure(
        {logins, connection, master, cli.StructureCache()}, connection_string, database_name,
        import ? replication::tReadyFor::Import : replication::tReadyFor::Export);
  } catch (const replication::DatabaseNotReadyError& e) {
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\r', '\n');
    cli.Out() << ToTerminal(message) << '\n';
    return ExitStatus::Failure;
  }
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
