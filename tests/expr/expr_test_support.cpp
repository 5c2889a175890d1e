#include "expr_test_support.h"

#include <charconv>
#include <deque>

#include "expr/builtins.h"
#include "expr/compiled_expression.h"
#include "text/encoding.h"
#include "text/locale.h"

namespace tamaril::expr::testing {
namespace {

void Constant(Value* result, const OperationDef& def, TCompiledExpression&, const Value*) {
  const std::string_view name = def.name;
  if (name == "T" || name == "F")
    *result = Value::Boolean(name == "T");
  else if (name == "X")
    *result = Value::Number(5);
  else if (name == "X1E")
    *result = Value::Number(10);
  else if (name == "CNT")
    *result = Value::Number(++CounterCalls());
}

OperationDef Identifier(std::string_view name, TypeCode type, bool cache = false) {
  OperationDef def;
  def.name = name;
  def.flags = MakeFlags(0, ShortCircuit::None, cache);
  def.function = Constant;
  def.signature[0] = type;
  return def;
}

}  // namespace

int& CounterCalls() {
  static int calls = 0;
  return calls;
}

const OperationDef* TestList() {
  static std::deque<OperationDef> defs{
      Identifier("T", TypeCode::Boolean),  Identifier("F", TypeCode::Boolean),
      Identifier("X", TypeCode::Number),   Identifier("X1E", TypeCode::Number),
      Identifier("NN", TypeCode::Number),  Identifier("NS", TypeCode::String),
      Identifier("NB", TypeCode::Boolean), Identifier("CNT", TypeCode::Number, true)};
  static const OperationDef* head = [] {
    DefinitionList list = const_cast<OperationDef*>(BuiltinOperations());
    for (OperationDef& def : defs) RegisterOperation(list, def);
    return list;
  }();
  return head;
}

std::string Outcome(std::string_view ansi, const OperationDef* list) {
  TCompiledExpression expression;
  if (const int code = expression.Compile(ansi, list); code != 0) {
    return "C" + std::to_string(code) + ":" + text::AnsiToUtf8(expression.ErrorText());
  }
  Value value;
  if (const int code = expression.Evaluate(value); code != 0) return "E" + std::to_string(code);
  char number[64];
  switch (value.kind()) {
    case Value::Kind::Null: return "NULL";
    case Value::Kind::Boolean: return value.AsBoolean() ? "B:true" : "B:false";
    case Value::Kind::String: return "S:" + text::AnsiToUtf8(value.AsString());
    case Value::Kind::Number:
    case Value::Kind::Date: {
      const auto end = std::to_chars(number, number + sizeof number, value.raw_number()).ptr;
      return std::string(value.kind() == Value::Kind::Number ? "N:" : "D:") + std::string(number, end);
    }
  }
  return "?";
}

void UseProgramSettings() {
  text::SetLocale("cs_CZ");
  SetBooleanWords("ANO", "NE");
}

}  // namespace tamaril::expr::testing
