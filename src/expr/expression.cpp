#include "expr/expression.h"

#include "text/encoding.h"

namespace tamaril::expr {

std::string CompileErrorMessage(int code, std::string_view error_text) {
  const char* prefix = nullptr;
  switch (static_cast<CompileCode>(code)) {
    case CompileCode::MissingOperand: prefix = "Chybí operand:"; break;
    case CompileCode::UnknownOperation: prefix = "Neznámá operace:"; break;
    case CompileCode::WrongOperandCount: prefix = "Chybný počet operandů:"; break;
    case CompileCode::WrongType: prefix = "Chybný typ:"; break;
    case CompileCode::OpenParenExpected: prefix = "očekávána \"(\":"; break;
    case CompileCode::CloseParenExpected: prefix = "očekávána \")\":"; break;
    case CompileCode::UnterminatedString: prefix = "Neukončený řetězec:"; break;
    case CompileCode::TooComplicated: prefix = "Výraz je příliš komplikovaný:"; break;
    case CompileCode::Ok: break;
  }
  if (prefix == nullptr) return {};
  std::string message = text::Utf8ToAnsi(prefix);
  message += "\r'";
  for (const char c : error_text) {
    message += c;
    if (c == '\'') message += '\'';
  }
  message += '\'';
  return message;
}

std::string EvaluationErrorMessage(int code) {
  switch (static_cast<EvalCode>(code)) {
    case EvalCode::InvalidOperandType: return "Invalid operand type";
    case EvalCode::Overflow: return "Too large/small number";
    case EvalCode::DivisionByZero: return "Division by zero";
    case EvalCode::InvalidOperation: return "Invalid operand";
    case EvalCode::UnknownResultType: return "Unknown result type";
    default: return "Unknown error";
  }
}

TExpression::TExpression() : engine_(std::make_unique<TCompiledExpression>(this)) {}

TExpression::~TExpression() = default;

void TExpression::Compile(std::string_view text, const OperationDef* list) {
  const int code = engine_->Compile(text, list);
  if (code == 0) return;
  std::string message = CompileErrorMessage(code, engine_->ErrorText());
  if (!message.empty()) throw ExpressionError(message);
}

Value TExpression::Evaluate() {
  Prepare();
  Value value;
  if (const int code = EvaluateWithCode(value); code != 0)
    throw EvaluationError(code, EvaluationErrorMessage(code));
  return value;
}

}  // namespace tamaril::expr
