#include <memory>
#include <string>
#include <vector>

#include "core/login_cache.h"
#include "core/maindata.h"
#include "core/repl_options.h"
#include "dataset/field.h"
#include "dbstruct/keyed_table.h"
#include "replication/branch_status.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct StatusOptions {
  int stale_days = 7;
};

// The definitions of one list with the name of their partner's field.
std::vector<replication::tStatusDefinition> Definitions(core::TMaindata& data, bool import) {
  std::vector<replication::tStatusDefinition> definitions;
  auto& list = data.DefinitionList(import);
  const std::string partner = import ? "ClientName" : "CenterName";
  for (list.First(); !list.Eof(); list.Next()) {
    definitions.push_back({list.FieldByName("Signature").AsString(), list.FieldByName(partner).AsString(),
                           list.FieldByName("ConnectionString").Text(),
                           list.FieldByName("DatabaseName").AsString()});
  }
  return definitions;
}

// A database that could not be read outweighs a stale branch: the status is then incomplete.
ExitStatus RunStatus(Cli& cli, const StatusOptions& options) {
  const core::TReplOptions& settings = core::ReplOptions();
  replication::tBranchStatusOptions status_options{.ImportFolder = text::AnsiToUtf8(settings.ImportFolder),
                                                   .ExportFolder = text::AnsiToUtf8(settings.ExportFolder),
                                                   .StaleDays = options.stale_days,
                                                   .Now = dbstruct::NowAsDateTime()};
  core::LoginCache logins(cli.LoginPrompt());
  const replication::tBranchStatus status = replication::ReadBranchStatus(
      Definitions(cli.Maindata(), true), Definitions(cli.Maindata(), false), status_options, logins);
  cli.Out() << ToTerminal(replication::FormatBranchStatus(status, status_options));
  if (status.HasErrors()) return ExitStatus::Failure;
  return status.NeedsAttention() ? ExitStatus::Warnings : ExitStatus::Success;
}

}  // namespace

void AddStatusCommands(Cli& cli) {
  CLI::App& command =
      cli.AddCommand("status", "Vypíše stav poboček: poslední přenosy, mezery a čekající archivy");
  command.footer(
      "Pro každou definici importu: pobočka, databáze, poslední importovaný přenos (EXPORTNO, čas\n"
      "exportu a importu), dny od importu, chybějící čísla přenosů a archivy pobočky čekající ve\n"
      "složce importu. Pro každou definici exportu: poslední EXPORTNO, jeho čas a počet řádků a zda\n"
      "jeho archiv ještě čeká ve složce exportu. Pobočka bez importu déle než --stale-days dní\n"
      "(nebo dosud bez importu) je označena POZOR.\n"
      "Stav: 0 vše v pořádku, 3 některá pobočka je bez přenosu příliš dlouho nebo jí chybí přenosy,\n"
      "1 databázi některé definice nelze přečíst (ostatní se vypíší).");
  auto options = std::make_shared<StatusOptions>();
  command
      .add_option("--stale-days", options->stale_days,
                  "Po kolika dnech bez importu je pobočka označena (výchozí 7)")
      ->check(CLI::NonNegativeNumber);
  cli.SetAction(command, Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunStatus(cli, *options); });
}

}  // namespace tamaril::cli
