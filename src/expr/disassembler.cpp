#include "expr/disassembler.h"

#include <charconv>
#include <cstdio>

namespace tamaril::expr {
namespace {

std::string NumberText(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string ValueText(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Null: return "- NULL";
    case Value::Kind::Number: return "N " + NumberText(value.raw_number());
    case Value::Kind::Date: return "D " + NumberText(value.raw_number());
    case Value::Kind::Boolean: return value.raw_number() != 0 ? "B true" : "B false";
    case Value::Kind::String: break;
  }
  std::string text = "S \"";
  for (const char c : value.raw_text()) {
    text += c;
    if (c == '"') text += '"';
  }
  return text + '"';
}

}  // namespace

std::string SignatureText(const OperationDef& def) {
  std::string text(1, TypeLetter(def.ResultType()));
  text += "<-(";
  for (std::size_t i = 0; i < def.arg_count; ++i) {
    if (i > 0) text += ',';
    text += TypeLetter(def.ArgType(i));
  }
  return text + ')';
}

std::string Disassemble(const TCompiledExpression& expression) {
  std::string text;
  std::size_t index = 0;
  for (const TFactor& factor : expression.Program()) {
    char number[16];
    std::snprintf(number, sizeof number, "%04zu ", index++);
    text += number;
    if (factor.kind == FactorKind::Constant) {
      text += "CONST ";
      text += ValueText(factor.value);
    } else {
      text += "OP ";
      text += factor.def->name;
      text += ' ';
      text += SignatureText(*factor.def);
    }
    if (factor.jump != 0) {
      text += factor.jump > 0 ? "  ; if true" : "  ; if false";
      if (factor.jump_depth != 0) text += " (below top)";
      text += " continue at " +
              std::to_string(static_cast<long>(index - 1) + (factor.jump > 0 ? factor.jump : -factor.jump));
    }
    text += '\n';
  }
  return text;
}

}  // namespace tamaril::expr
