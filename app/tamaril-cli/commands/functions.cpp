#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/input_check.h"
#include "definitions/rule_context.h"
#include "expr/builder_catalog.h"
#include "expr/rule_lists.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {
namespace {

struct FunctionsOptions {
  std::optional<std::string> list;
  std::string signature;
  std::string table;
  bool export_list = false;
  bool import_list = false;
};

// The rule kind of --list; without it the export list, or the append list of an import definition.
expr::RuleKind ChosenKind(const FunctionsOptions& options, std::optional<bool> import) {
  static const std::map<std::string, expr::RuleKind> kinds = {{"export", expr::RuleKind::Export},
                                                              {"append", expr::RuleKind::Append},
                                                              {"update", expr::RuleKind::Update},
                                                              {"updatefield", expr::RuleKind::UpdateField},
                                                              {"delete", expr::RuleKind::Delete}};
  if (!options.list) return import.value_or(false) ? expr::RuleKind::Append : expr::RuleKind::Export;
  const auto found = kinds.find(*options.list);
  if (found == kinds.end()) {
    throw CliError::FromUtf8("Neznámý seznam '" + *options.list +
                             "' (export, append, update, updatefield, delete)");
  }
  if (import && *import == (found->second == expr::RuleKind::Export)) {
    throw CliError::FromUtf8(*import ? "Seznam export patří k definici exportu"
                                     : "Seznam " + *options.list + " patří k definici importu");
  }
  return found->second;
}

// Every group, its entries with help and description, and under each entry its signatures.
void PrintCatalog(std::ostream& out, const std::vector<expr::BuilderCategory>& catalog) {
  for (const auto& category : catalog) {
    out << "CATEGORY " << ToTerminal(category.title) << '\n';
    for (const auto& entry : category.entries) {
      const expr::OperationDef& bound = entry.Bound();
      std::string help = "-";
      if (!bound.help_file.empty())
        help = std::string(bound.help_file) + " " + std::to_string(bound.help_context);
      out << "  " << ToTerminal(entry.text) << " | help " << ToTerminal(help) << " | "
          << ToTerminal(entry.description) << '\n';
      for (const expr::OperationDef* def : entry.overloads)
        out << "    " << ToTerminal(expr::UsageText(*def)) << '\n';
    }
  }
}

ExitStatus RunFunctions(Cli& cli, const FunctionsOptions& options) {
  if (options.signature.empty()) {
    if (options.export_list || options.import_list)
      throw CliError::FromUtf8("Volby --export a --import patří k --signature a --table");
    PrintCatalog(cli.Out(), expr::BuilderCatalog(expr::RuleList(ChosenKind(options, std::nullopt))));
    return ExitStatus::Success;
  }
  DefinitionTarget target(cli, ChosenImportSide(options.export_list, options.import_list), options.signature);
  const expr::RuleKind kind = ChosenKind(options, target.Import());
  const std::string table = core::CheckedAnsiInput("--table", options.table);
  if (!target.Open(cli.Out())) return ExitStatus::Failure;
  const std::string description =
      definitions::ReadTableDescription(target.Connection(), table).value_or(table);
  definitions::tRuleContext context(target.Structure(), kind, table, description);
  PrintCatalog(cli.Out(), expr::BuilderCatalog(context.List(), &context.Registry()));
  return ExitStatus::Success;
}

}  // namespace

void AddFunctionsCommands(Cli& cli) {
  CLI::App& command =
      cli.AddCommand("functions", "Vypíše, co nabízí tvůrce výrazů: skupiny operací a jejich funkce");
  command.footer(
      "Pro každou skupinu řádek CATEGORY název a pod ním její položky seřazené jako v tvůrci výrazů:\n"
      "  text položky | help soubor číslo (nebo -) | popis\n"
      "a pod každou položkou její signatury, např. ROUND(N, N) -> N nebo N + N -> N.\n"
      "Typy: N číslo, S řetězec, D datum, B logická hodnota.\n"
      "S --signature a --table (a --export nebo --import) přidá pole tabulky definice; bez --list\n"
      "platí seznam export, u definice importu seznam append.");
  auto options = std::make_shared<FunctionsOptions>();
  command.add_option("--list", options->list,
                     "Seznam definic: export, append, update, updatefield nebo delete");
  CLI::Option* signature = command.add_option("--signature", options->signature, "Identifikace definice");
  CLI::Option* table = command.add_option("--table", options->table, "Tabulka, jejíž pole se přidají");
  command.add_flag("--export", options->export_list, "Definice exportu");
  command.add_flag("--import", options->import_list, "Definice importu");
  signature->needs(table);
  table->needs(signature);
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunFunctions(cli, *options); });
}

}  // namespace tamaril::cli
