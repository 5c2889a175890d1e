#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "dataset/field.h"
#include "definitions/definition_rules.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"
#include "tamaril-cli/rule_questions.h"
#include "tamaril-cli/shown_text.h"
#include "tamaril-cli/terminal.h"

namespace tamaril::cli {
namespace {

struct HistoryOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
  std::optional<int> delete_run;
  bool yes = false;
};

// The run number column of the log ("EXPORTNO", "IMPORTNO"): the one after Signature.
std::string RunColumn(dataset::TDataSet& log) { return log.Field(1).Name; }

// One log row: its columns but Signature as NAME=value; then its detail rows, indented, each
// with the table's name and description and its counts as NAME=value.
void PrintRun(std::ostream& out, definitions::tDefinitionRules& rules) {
  dataset::TDataSet& log = rules.Log();
  std::string line;
  for (const auto& field : log.Fields()) {
    if (field->Name == "Signature") continue;
    line += (line.empty() ? "" : " ") + field->Name + "=" + ShownValue(*field);
  }
  out << ToTerminal(line) << '\n';
  dataset::TDataSet& detail = rules.LogDetail();
  const std::string run_column = RunColumn(log);
  for (detail.First(); !detail.Eof(); detail.Next()) {
    const std::string table = detail.FieldByName("TABLENAME").AsString();
    std::string row = "  " + table + " \"" + rules.TableDescription(table) + "\"";
    for (const auto& field : detail.Fields()) {
      if (field->Name == "Signature" || field->Name == run_column || field->Name == "TABLENAME") continue;
      row += " " + field->Name + "=" + ShownValue(*field);
    }
    out << ToTerminal(row) << '\n';
  }
}

ExitStatus RunHistory(Cli& cli, const HistoryOptions& options) {
  DefinitionTarget target(cli, ChosenImportSide(options.export_list, options.import_list), options.signature);
  if (!target.Open(cli.Out())) return ExitStatus::Failure;
  TerminalRuleQuestions questions(options.yes);  // outlives the rules that ask it
  std::unique_ptr<definitions::tDefinitionRules> rules = definitions::CreateDefinitionRules(target.Import());
  rules->SetQuestions(&questions);
  rules->Open(target.Signature(), target.Connection(), target.Structure());

  dataset::TDataSet& log = rules->Log();
  if (options.delete_run) {
    if (!log.Locate(RunColumn(log), dataset::Variant::Integer(*options.delete_run))) {
      throw CliError::FromUtf8("Záznam " + std::to_string(*options.delete_run) + " v historii definice " +
                               options.signature + " není");
    }
    if (rules->DeleteLogRow()) return ExitStatus::Success;
    if (questions.NoTerminal()) cli.Err() << "tamaril-cli: " << kConfirmWithYes << '\n';
    return ExitStatus::Cancelled;
  }
  for (log.First(); !log.Eof(); log.Next()) PrintRun(cli.Out(), *rules);
  return ExitStatus::Success;
}

}  // namespace

void AddHistoryCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("history", "Vypíše historii běhů definice nebo z ní vymaže jeden běh");
  command.footer(
      "Výpis: pro každý běh řádek se sloupci rep_XPORTLOG (rep_IMPORTLOG) jako JMÉNO=hodnota\n"
      "(prázdná hodnota je -, čas RRRR-MM-DDTHH:MM:SS.mmm) a pod ním odsazené řádky tabulek:\n"
      "jméno \"popis\" a počty záznamů jako JMÉNO=hodnota.\n"
      "--delete N vymaže běh N i s jeho řádky tabulek; ptá se na terminálu, bez terminálu je nutné\n"
      "--yes, jinak stav 2.");
  auto options = std::make_shared<HistoryOptions>();
  command.add_flag("--export", options->export_list, "Definice exportu");
  command.add_flag("--import", options->import_list, "Definice importu");
  command.add_option("SIGNATURE", options->signature, "Identifikace definice")->required();
  CLI::Option* remove = command.add_option("--delete", options->delete_run, "Vymaže běh s tímto pořadím");
  command.add_flag("--yes", options->yes, "Odpoví na otázku Ano")->needs(remove);
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunHistory(cli, *options); });
}

}  // namespace tamaril::cli
