#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/input_check.h"
#include "dataset/date_codec.h"
#include "dataset/field.h"
#include "definitions/definition_rules.h"
#include "definitions/errors.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/cli_error.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/definition_target.h"
#include "tamaril-cli/rule_questions.h"
#include "tamaril-cli/shown_text.h"
#include "tamaril-cli/terminal.h"
#include "text/ascii.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

struct RulesOptions {
  bool export_list = false;
  bool import_list = false;
  std::string signature;
  std::string table;
  std::vector<std::string> sets;
  bool set_default = false;
  bool yes = false;
  bool apply_last = false;
  std::string from;
  bool check = false;
};

constexpr const char* kIgnoreRowGuid = "IgnoreRowGuidField";

std::string DateColumn(const definitions::tDefinitionRules& rules) {
  return rules.RuleKinds().front() == expr::RuleKind::Export ? "LastExportDate" : "LastImportDate";
}

bool IsImport(const definitions::tDefinitionRules& rules) {
  return rules.RuleKinds().front() != expr::RuleKind::Export;
}

// The keys --set accepts for the side of `rules`, as the rule table spells them.
std::vector<std::string> SettableKeys(const definitions::tDefinitionRules& rules) {
  std::vector<std::string> keys;
  for (const expr::RuleKind kind : rules.RuleKinds())
    keys.push_back(definitions::tDefinitionRules::RuleColumn(kind));
  if (IsImport(rules)) keys.push_back(kIgnoreRowGuid);
  keys.push_back(DateColumn(rules));
  return keys;
}

// One table's block: its header line and a line for every rule (see the command's help).
void PrintTable(std::ostream& out, definitions::tDefinitionRules& rules) {
  dataset::TDataSet& rows = rules.Rules();
  const std::string name = rows.FieldByName("TABLENAME").AsString();
  const dataset::TField& last = rows.FieldByName(DateColumn(rules));
  out << "TABULKA " << ToTerminal(name) << " \"" << ToTerminal(rules.TableDescription(name))
      << "\" nastaveno=" << (rules.RuleIsSet() ? "ano" : "ne") << " naposledy=" << ShownValue(last) << '\n';
  for (const expr::RuleKind kind : rules.RuleKinds()) {
    const std::string column = definitions::tDefinitionRules::RuleColumn(kind);
    const std::string shown = ShownRuleText(rows.FieldByName(column).AsString());
    out << column << ':' << (shown.empty() ? "" : " " + ToTerminal(shown)) << '\n';
  }
  if (IsImport(rules)) out << kIgnoreRowGuid << ": " << ShownValue(rows.FieldByName(kIgnoreRowGuid)) << '\n';
}

// Moves to the rule row of `table` (typed, UTF-8): the exact name, else the one name that
// differs in letter case only. Throws CliError when the definition has no such table.
void SelectTable(definitions::tDefinitionRules& rules, const std::string& table) {
  const std::string name = core::CheckedAnsiInput("--table", table);
  dataset::TDataSet& rows = rules.Rules();
  if (rows.Locate("TABLENAME", dataset::Variant::String(name))) return;
  std::optional<std::string> match;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    const std::string candidate = rows.FieldByName("TABLENAME").AsString();
    if (text::UpperCaseAscii(candidate) == text::UpperCaseAscii(name)) match = candidate;
  }
  if (!match || !rows.Locate("TABLENAME", dataset::Variant::String(*match))) {
    throw CliError::FromUtf8("Tabulka " + table + " v pravidlech definice " + ToTerminal(rules.Signature()) +
                             " není");
  }
}

// One --set item taken apart and checked before the row is touched.
struct Change {
  std::string column;
  std::optional<std::string> text;  ///< the new text; nothing clears the column
  std::optional<bool> flag;         ///< the new IgnoreRowGuidField
  std::optional<double> date;       ///< the new date
};

Change ParseChange(definitions::tDefinitionRules& rules, const std::string& item) {
  const auto equals = item.find('=');
  if (equals == std::string::npos || equals == 0)
    throw CliError::FromUtf8("Očekávám KLÍČ=TEXT, ne '" + item + "'");
  const std::string key = item.substr(0, equals);
  const std::string value = item.substr(equals + 1);
  const std::vector<std::string> keys = SettableKeys(rules);
  const auto known = std::find_if(keys.begin(), keys.end(), [&](const std::string& k) {
    return text::UpperCaseAscii(k) == text::UpperCaseAscii(key);
  });
  if (known == keys.end()) {
    std::string list;
    for (const auto& k : keys) list += (list.empty() ? "" : ", ") + k;
    throw CliError::FromUtf8("Neznámý klíč '" + key + "'; známé klíče: " + list);
  }
  Change change;
  change.column = *known;
  if (change.column == kIgnoreRowGuid) {
    if (value != "0" && value != "1") throw CliError::FromUtf8(change.column + ": očekávám 0 nebo 1");
    change.flag = value == "1";
  } else if (change.column == DateColumn(rules)) {
    if (!value.empty() && value != "-") {
      change.date = dataset::ParseIsoDateTime(value);
      if (!change.date)
        throw CliError::FromUtf8(change.column + ": očekávám RRRR-MM-DD[THH:MM:SS[.mmm]] nebo -");
    }
  } else {
    // Clearing is always allowed: a rule set before the table lost its key must be removable.
    if (change.column == definitions::tDefinitionRules::RuleColumn(expr::RuleKind::Delete) &&
        rules.DeleteRuleRefused() && !value.empty()) {
      throw CliError(
          definitions::UnidentifiableDeleteRuleMessage(rules.Rules().FieldByName("TABLENAME").AsString()));
    }
    if (!value.empty()) change.text = core::CheckedAnsiInput(change.column, value, core::TextLines::Multiple);
  }
  return change;
}

void ApplyChange(dataset::TDataSet& rows, const Change& change) {
  dataset::TField& field = rows.FieldByName(change.column);
  // A read-only DeleteRule is empty already: clearing it changes nothing.
  if (field.ReadOnly && !change.flag && !change.date && !change.text) return;
  if (change.flag) {
    field.SetAsBoolean(*change.flag);
  } else if (change.date) {
    field.SetAsDateTime(*change.date);
  } else if (change.text) {
    field.SetAsString(*change.text);
  } else {
    field.Clear();
  }
}

// Saves the current rule row through `save`; a rule that does not compile leaves the stored
// row as it was and becomes the command's failure, naming the rule and the table.
template <typename Save>
void SaveRow(definitions::tDefinitionRules& rules, Save save) {
  const std::string table = rules.Rules().FieldByName("TABLENAME").AsString();
  try {
    save();
  } catch (const definitions::RuleValidationError& e) {
    rules.Rules().Cancel();
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\r', '\n');
    throw CliError(text::Utf8ToAnsi("Pravidlo ") + definitions::tDefinitionRules::RuleColumn(e.Kind()) +
                   text::Utf8ToAnsi(" tabulky ") + table + text::Utf8ToAnsi(" nelze uložit: ") + message);
  } catch (...) {
    if (rules.Rules().State() != dataset::DataSetState::Browse) rules.Rules().Cancel();
    throw;
  }
}

ExitStatus SetRules(Cli& cli, definitions::tDefinitionRules& rules, const RulesOptions& options) {
  SelectTable(rules, options.table);
  std::vector<Change> changes;
  for (const std::string& item : options.sets) changes.push_back(ParseChange(rules, item));
  SaveRow(rules, [&] {
    rules.Rules().Edit();
    for (const Change& change : changes) ApplyChange(rules.Rules(), change);
    rules.Rules().Post();
  });
  PrintTable(cli.Out(), rules);
  return ExitStatus::Success;
}

ExitStatus ApplyLast(Cli& cli, definitions::tDefinitionRules& rules, const RulesOptions& options) {
  // The rules of --from are saved again unchanged, which makes them the last saved rules.
  SelectTable(rules, options.from);
  SaveRow(rules, [&] {
    rules.Rules().Edit();
    rules.Rules().Post();
  });
  SelectTable(rules, options.table);
  SaveRow(rules, [&] { rules.ApplyLastRule(); });
  PrintTable(cli.Out(), rules);
  return ExitStatus::Success;
}

ExitStatus Refused(Cli& cli, const TerminalRuleQuestions& questions) {
  if (questions.NoTerminal()) cli.Err() << "tamaril-cli: " << kConfirmWithYes << '\n';
  return ExitStatus::Cancelled;
}

ExitStatus RunRules(Cli& cli, const RulesOptions& options) {
  DefinitionTarget target(cli, ChosenImportSide(options.export_list, options.import_list), options.signature);
  if (!options.sets.empty() && options.table.empty())
    throw CliError::FromUtf8("Volba --set vyžaduje --table");
  if (options.apply_last && (options.table.empty() || options.from.empty()))
    throw CliError::FromUtf8("Volba --apply-last vyžaduje --from a --table");
  if (!options.table.empty() && options.sets.empty() && !options.apply_last)
    throw CliError::FromUtf8("Volba --table patří k --set nebo --apply-last");
  if (!target.Open(cli.Out())) return ExitStatus::Failure;

  TerminalRuleQuestions questions(options.yes);  // outlives the rules that ask it
  std::unique_ptr<definitions::tDefinitionRules> rules = definitions::CreateDefinitionRules(target.Import());
  rules->SetQuestions(&questions);
  rules->Open(target.Signature(), target.Connection(), target.Structure());

  if (!options.sets.empty()) return SetRules(cli, *rules, options);
  if (options.apply_last) return ApplyLast(cli, *rules, options);
  if (options.set_default) return rules->SetAsDefault() ? ExitStatus::Success : Refused(cli, questions);
  if (options.check) {
    const std::optional<definitions::tMissingMasterRule> missing = rules->CheckRuleConsistency();
    if (!missing) {
      cli.Out() << "ok\n";
      return ExitStatus::Success;
    }
    const std::string& shown = missing->description.empty() ? missing->table_name : missing->description;
    cli.Out() << ToTerminal(text::Utf8ToAnsi("Chybí nastavení pravidla pro tabulku \"") + shown + "\"")
              << '\n';
    return ExitStatus::Failure;
  }
  dataset::TDataSet& rows = rules->Rules();
  for (rows.First(); !rows.Eof(); rows.Next()) PrintTable(cli.Out(), *rules);
  return ExitStatus::Success;
}

}  // namespace

void AddRulesCommands(Cli& cli) {
  CLI::App& command = cli.AddCommand("rules", "Vypíše nebo změní pravidla tabulek definice");
  command.footer(
      "Výpis: pro každou tabulku v pořadí LISTORDER řádek\n"
      "  TABULKA jméno \"popis\" nastaveno=ano|ne naposledy=RRRR-MM-DDTHH:MM:SS.mmm|-\n"
      "a pod ním pravidla, každé na jednom řádku: ExportRule: … (u importu AppendRule:, UpdateRule:,\n"
      "UpdateFieldRule:, DeleteRule: a IgnoreRowGuidField: 0|1). Konec řádku uvnitř pravidla se vypíše\n"
      "jako dva znaky \\n; pravidlo se vyhodnocuje jako jeden řádek, řádky spojené mezerou.\n"
      "--set KLÍČ=TEXT mění pravidla jedné tabulky (KLÍČ: ExportRule, LastExportDate; u importu\n"
      "AppendRule, UpdateRule, UpdateFieldRule, DeleteRule, IgnoreRowGuidField=0|1, LastImportDate);\n"
      "prázdný TEXT pravidlo smaže. Pravidlo, které nelze přeložit nebo nedává logickou hodnotu, se\nneuloží "
      "(stav 1).\n"
      "--apply-last --from T1 --table T2 uloží znovu pravidla tabulky T1 (se stejnou kontrolou)\n"
      "a použije je jako naposledy nastavená pravidla na tabulku T2; DeleteRule tabulky, jejíž\n"
      "záznamy nelze identifikovat, zůstane beze změny.\n"
      "--set-default se ptá na terminálu; bez terminálu je nutné --yes, jinak stav 2.\n"
      "--check vypíše ok, nebo popis nadřízené tabulky bez pravidla (stav 1).");
  auto options = std::make_shared<RulesOptions>();
  command.add_flag("--export", options->export_list, "Definice exportu");
  command.add_flag("--import", options->import_list, "Definice importu");
  command.add_option("SIGNATURE", options->signature, "Identifikace definice")->required();
  command.add_option("--table", options->table, "Tabulka, jejíž pravidla se mění");
  CLI::Option* set =
      command.add_option("--set", options->sets, "KLÍČ=TEXT: nové pravidlo tabulky (opakovatelná)");
  CLI::Option* apply = command.add_flag("--apply-last", options->apply_last,
                                        "Použije pravidla tabulky --from na tabulku --table");
  CLI::Option* from =
      command.add_option("--from", options->from, "Tabulka, jejíž pravidla --apply-last použije");
  CLI::Option* set_default = command.add_flag("--set-default", options->set_default,
                                              "Nastaví pravidla definice jako výchozí pro další definice");
  CLI::Option* yes = command.add_flag("--yes", options->yes, "Odpoví na otázku Ano");
  CLI::Option* check = command.add_flag("--check", options->check,
                                        "Ověří, že každá nadřízená tabulka tabulky s pravidlem má pravidlo");
  from->needs(apply);
  yes->needs(set_default);
  set->excludes(apply)->excludes(set_default)->excludes(check);
  apply->excludes(set_default)->excludes(check);
  set_default->excludes(check);
  cli.SetAction(command,
                Need::StructureCache | Need::CommonValues | Need::RuleLists | Need::Lists | Need::Settings,
                [&cli, options] { return RunRules(cli, *options); });
}

}  // namespace tamaril::cli
