#include "expr/rule_lists.h"

#include <array>
#include <stdexcept>

#include "expr/builtins.h"
#include "expr/compiled_expression.h"
#include "expr/tracking_columns.h"
#include "text/ascii.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace {

void Signature(Value* result, const OperationDef&, TCompiledExpression& engine, const Value*) {
  *result = engine.StringResult(RunValues().signature);
}

void LastExport(Value* result, const OperationDef&, TCompiledExpression&, const Value*) {
  *result = Value::Date(RunValues().last_export_date);
}

void LastImport(Value* result, const OperationDef&, TCompiledExpression&, const Value*) {
  *result = Value::Date(RunValues().last_import_date);
}

void UpdateField(Value* result, const OperationDef&, TCompiledExpression& engine, const Value*) {
  *result = engine.StringResult(RunValues().update_field);
}

void UpdateFieldUpper(Value* result, const OperationDef&, TCompiledExpression& engine, const Value*) {
  *result = engine.StringResult(text::UpperCase(RunValues().update_field));
}

OperationDef Identifier(std::string_view name, TypeCode type, std::string_view category,
                        OperationFunction function) {
  OperationDef def;
  def.name = name;
  def.flags = MakeFlags(0);
  def.function = function;
  def.category = category;
  def.signature[0] = type;
  return def;
}

struct Lists {
  bool built = false;
  std::array<DefinitionList, 5> heads{};
};

Lists& TheLists() {
  static Lists lists;
  return lists;
}

DefinitionList& Head(RuleKind kind) { return TheLists().heads[static_cast<std::size_t>(kind)]; }

}  // namespace

ReplicationValues& RunValues() {
  static ReplicationValues values;
  return values;
}

void InitRuleLists() {
  if (TheLists().built) return;
  static OperationDef signature =
      Identifier("@SIGNATURE", TypeCode::String, "Funkce pro replikaci", Signature);
  static OperationDef last_export = Identifier("@LASTXPRT", TypeCode::Date, "Funkce pro export", LastExport);
  static OperationDef last_import = Identifier("@LASTIMPRT", TypeCode::Date, "Funkce pro import", LastImport);
  static OperationDef update_field =
      Identifier("@UPDFLD", TypeCode::String, "Funkce pro import", UpdateField);
  static OperationDef update_field_upper =
      Identifier("@UPDFLDUPPER", TypeCode::String, "Funkce pro import", UpdateFieldUpper);

  // The built-ins are one shared chain; every list starts from it.
  DefinitionList& export_list = Head(RuleKind::Export);
  DefinitionList& append_list = Head(RuleKind::Append);
  DefinitionList& update_field_list = Head(RuleKind::UpdateField);
  export_list = const_cast<OperationDef*>(BuiltinOperations());
  RegisterOperation(export_list, signature);
  append_list = export_list;
  RegisterOperation(export_list, last_export);
  RegisterOperation(append_list, last_import);
  Head(RuleKind::Update) = append_list;
  Head(RuleKind::Delete) = append_list;
  update_field_list = append_list;
  RegisterOperation(update_field_list, update_field);
  RegisterOperation(update_field_list, update_field_upper);

  SetBooleanWords("ANO", "NE");
  TheLists().built = true;
}

const OperationDef* RuleList(RuleKind kind) {
  if (!TheLists().built) throw std::logic_error("rule lists are not initialised");
  return Head(kind);
}

std::string RuleText(const dataset::TField* field) {
  if (field == nullptr || field->IsNull()) return {};
  const std::string memo = field->AsString();
  std::string result;
  std::size_t start = 0;
  while (start <= memo.size()) {
    std::size_t end = memo.find_first_of("\r\n", start);
    if (end == std::string::npos) end = memo.size();
    if (start > 0) result += ' ';
    result += text::TrimBlanks(std::string_view(memo).substr(start, end - start));
    if (end < memo.size() && memo[end] == '\r' && end + 1 < memo.size() && memo[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return std::string(text::TrimBlanks(result));
}

}  // namespace tamaril::expr
