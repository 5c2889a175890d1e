#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/input_check.h"
#include "dataset/date_codec.h"
#include "dataset/memory_table.h"
#include "expr/dataset_expression.h"
#include "expr/disassembler.h"
#include "expr/rule_lists.h"
#include "tamaril-cli/cli.h"
#include "tamaril-cli/commands/commands.h"
#include "tamaril-cli/terminal.h"
#include "text/encoding.h"

namespace tamaril::cli {
namespace {

// What the eval command was given.
struct EvalOptions {
  std::string list = "export";
  std::vector<std::string> fields;
  std::vector<std::string> imported;
  std::vector<std::string> deleted;
  std::optional<std::string> signature;
  std::optional<std::string> last_export;
  std::optional<std::string> last_import;
  std::optional<std::string> update_field;
  bool program = false;
  std::string rule;
};

CliError Refused(const std::string& utf8) { return CliError::FromUtf8(utf8); }

// "YYYY-MM-DD[THH:MM:SS[.mmm]]" typed for `what`, as a date-time.
double DateTimeArgument(std::string_view text, const std::string& what) {
  if (const auto value = dataset::ParseIsoDateTime(text)) return *value;
  throw Refused(what + ": očekávám RRRR-MM-DD[THH:MM:SS[.mmm]], ne '" + std::string(text) + "'");
}

// A value typed on the command line for a field of `type` (never empty: that is NULL).
dataset::Variant ParseFieldValue(dataset::FieldType type, const std::string& utf8, const std::string& what) {
  using dataset::FieldType;
  using dataset::Variant;
  if (core::IsIntegerFieldType(type)) return Variant::Integer(core::CheckedIntegerInput(what, type, utf8));
  switch (type) {
    case FieldType::String:
    case FieldType::FixedChar:
    case FieldType::WideString:
    case FieldType::Guid: return Variant::String(core::CheckedAnsiInput(what, utf8));
    case FieldType::Memo:
    case FieldType::FmtMemo:
      return Variant::String(core::CheckedAnsiInput(what, utf8, core::TextLines::Multiple));
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD: {
      double value = 0;
      const auto [end, error] = std::from_chars(utf8.data(), utf8.data() + utf8.size(), value);
      if (error != std::errc() || end != utf8.data() + utf8.size() || !std::isfinite(value)) {
        throw Refused(what + ": očekávám číslo s desetinnou tečkou");
      }
      return type == FieldType::Currency ? Variant::Currency(value) : Variant::Double(value);
    }
    case FieldType::Boolean:
      if (utf8 != "true" && utf8 != "false") throw Refused(what + ": očekávám true nebo false");
      return Variant::Boolean(utf8 == "true");
    case FieldType::Date:
    case FieldType::DateTime: return Variant::DateTime(DateTimeArgument(utf8, what));
    case FieldType::Time:
      if (const auto time = dataset::ParseIsoTimeOfDay(utf8)) return Variant::DateTime(*time);
      throw Refused(what + ": očekávám HH:MM:SS[.mmm]");
    default:
      throw Refused(what + ": pole typu " + std::string(dataset::FieldTypeName(type)) +
                    " nemůže mít hodnotu");
  }
}

// Opens `table` with one row holding the fields of "NAME:TYPE=VALUE" items; a table without
// items stays closed.
void FillOneRowTable(dataset::TQVMMemoryTable& table, const std::vector<std::string>& items) {
  if (items.empty()) return;
  dataset::TFieldDefs defs;
  std::vector<std::optional<dataset::Variant>> values;
  for (const std::string& item : items) {
    const auto equals = item.find('=');
    const auto colon = item.rfind(':', equals);
    if (equals == std::string::npos || colon == std::string::npos || colon == 0) {
      throw Refused("Očekávám JMÉNO:TYP=HODNOTA, ne '" + item + "'");
    }
    const std::string type_name = item.substr(colon + 1, equals - colon - 1);
    const auto type = dataset::FindFieldTypeByEnumName("ft" + type_name);
    if (!type) throw Refused("Neznámý typ pole '" + type_name + "'");
    dataset::TFieldDef def;
    def.Name = core::CheckedAnsiInput(item, item.substr(0, colon));
    if (def.Name.find(';') != std::string::npos) throw Refused("Jméno pole nesmí obsahovat ';': " + item);
    def.DataType = *type;
    const std::string value = item.substr(equals + 1);
    values.push_back(value.empty() ? std::nullopt : std::optional(ParseFieldValue(*type, value, item)));
    if (*type == dataset::FieldType::String || *type == dataset::FieldType::FixedChar ||
        *type == dataset::FieldType::WideString) {
      def.Size = std::max<int>(1, static_cast<int>(values.back() ? values.back()->AsString().size() : 1));
    } else if (*type == dataset::FieldType::Guid) {
      def.Size = 38;
    }
    defs.push_back(std::move(def));
  }
  table.SetFieldLayout(dataset::BuildFieldLayout(defs));
  table.Open();
  table.Append();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i]) table.Field(static_cast<int>(i)).SetAsVariant(*values[i]);
  }
  table.Post();
}

// The value as the one line eval prints; the compiled type decides the word.
std::string ResultLine(expr::TypeCode type, const expr::Value& value) {
  if (value.IsNull()) return "null";
  switch (type) {
    case expr::TypeCode::Number: {
      char buffer[64];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, value.raw_number()).ptr;
      return "number " + std::string(buffer, end);
    }
    case expr::TypeCode::String: {
      std::string quoted;
      for (const char c : ToTerminal(value.raw_text())) {
        quoted += c;
        if (c == '"') quoted += '"';
      }
      return "string \"" + quoted + '"';
    }
    case expr::TypeCode::Date:
      return "date " + dataset::IsoDateTimeText(dataset::DateTimeToTimeStamp(value.raw_number()));
    case expr::TypeCode::Boolean: return value.raw_number() != 0 ? "boolean true" : "boolean false";
    case expr::TypeCode::None: break;
  }
  return "null";
}

ExitStatus RunEval(std::ostream& out, const EvalOptions& options) {
  static const std::map<std::string, expr::RuleKind> kinds = {{"export", expr::RuleKind::Export},
                                                              {"append", expr::RuleKind::Append},
                                                              {"update", expr::RuleKind::Update},
                                                              {"updatefield", expr::RuleKind::UpdateField},
                                                              {"delete", expr::RuleKind::Delete}};
  const auto kind = kinds.find(options.list);
  if (kind == kinds.end()) {
    throw Refused("Neznámý seznam '" + options.list + "' (export, append, update, updatefield, delete)");
  }
  const bool two_rows = kind->second == expr::RuleKind::Update ||
                        kind->second == expr::RuleKind::UpdateField || kind->second == expr::RuleKind::Delete;
  const bool deleting = kind->second == expr::RuleKind::Delete;
  if (!options.imported.empty() && (!two_rows || deleting))
    throw Refused("--imp patří k seznamům update a updatefield");
  if (!options.deleted.empty() && !deleting) throw Refused("--del patří k seznamu delete");

  expr::ReplicationValues& run = expr::RunValues();
  if (options.signature) run.signature = core::CheckedAnsiInput("--signature", *options.signature);
  if (options.last_export) run.last_export_date = DateTimeArgument(*options.last_export, "--lastexport");
  if (options.last_import) run.last_import_date = DateTimeArgument(*options.last_import, "--lastimport");
  if (options.update_field) run.update_field = core::CheckedAnsiInput("--updfld", *options.update_field);

  dataset::TQVMMemoryTable row, prefixed_row;
  FillOneRowTable(row, options.fields);
  FillOneRowTable(prefixed_row, deleting ? options.deleted : options.imported);
  expr::FieldRegistry registry;
  expr::DefinitionList list = const_cast<expr::OperationDef*>(expr::RuleList(kind->second));
  std::unique_ptr<expr::TExpression> expression;
  if (two_rows) {
    const std::string prefix = deleting ? "@DEL_" : "@IMP_";
    expr::RegisterTwoDatasetFields(false, registry, prefix, list, "", "", row, prefixed_row);
    expression = std::make_unique<expr::tTwoDatasetExpression>(&prefixed_row, &row, prefix);
  } else {
    expr::RegisterDatasetFields(false, registry, list, "", row);
    expression = std::make_unique<expr::tDatasetExpression>(&row);
  }

  expr::TCompiledExpression& engine = expression->Engine();
  const int compile_code =
      engine.Compile(core::CheckedAnsiInput("EXPR", options.rule, core::TextLines::Multiple), list);
  if (options.program) out << ToTerminal(expr::Disassemble(engine));
  if (compile_code != 0) {
    std::string message = ToTerminal(expr::CompileErrorMessage(compile_code, engine.ErrorText()));
    for (char& c : message) {
      if (c == '\r') c = '\n';
    }
    out << "error " << compile_code << ": " << message << '\n';
    return ExitStatus::Failure;
  }
  expr::Value value;
  expression->Prepare();
  if (const int code = expression->EvaluateWithCode(value); code != 0) {
    out << "error " << code << ": " << expr::EvaluationErrorMessage(code) << '\n';
    return ExitStatus::Failure;
  }
  out << ResultLine(expression->ResultType(), value) << '\n';
  return ExitStatus::Success;
}

}  // namespace

void AddEvalCommands(Cli& cli) {
  CLI::App& eval =
      cli.AddCommand("eval", "Přeloží a vyhodnotí pravidlo nad jedním řádkem zadaným na příkazové řádce");
  auto options = std::make_shared<EvalOptions>();
  eval.add_option("--list", options->list, "Seznam definic: export, append, update, updatefield nebo delete");
  eval.add_option("--field", options->fields, "JMÉNO:TYP=HODNOTA pole řádku (prázdná hodnota je NULL)");
  eval.add_option("--imp", options->imported, "JMÉNO:TYP=HODNOTA pole importovaného řádku (@IMP_)");
  eval.add_option("--del", options->deleted, "JMÉNO:TYP=HODNOTA pole smazaného řádku (@DEL_)");
  eval.add_option("--signature", options->signature, "Hodnota @SIGNATURE");
  eval.add_option("--lastexport", options->last_export, "Hodnota @LASTXPRT (RRRR-MM-DD[THH:MM:SS[.mmm]])");
  eval.add_option("--lastimport", options->last_import, "Hodnota @LASTIMPRT (RRRR-MM-DD[THH:MM:SS[.mmm]])");
  eval.add_option("--updfld", options->update_field, "Hodnota @UPDFLD");
  eval.add_flag("--program", options->program, "Vypíše nejdřív přeložený program");
  eval.add_option("EXPR", options->rule, "Pravidlo")->required();
  cli.SetAction(eval, Need::RuleLists, [&cli, options] { return RunEval(cli.Out(), *options); });
}

}  // namespace tamaril::cli
