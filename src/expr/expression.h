#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "expr/compiled_expression.h"
#include "text/error.h"

namespace tamaril::expr {

/// A rule that does not compile; the message is the Czech text for the code, a carriage
/// return and the offending sub-expression in single quotes (Windows-1250).
class ExpressionError : public Error {
 public:
  using Error::Error;
};

/// A rule whose evaluation failed; the message is the English text for the code.
class EvaluationError : public Error {
 public:
  EvaluationError(int code, const std::string& message) : Error(message), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

/// The message of a compile error code for `error_text`, or empty for 0 and unknown codes.
std::string CompileErrorMessage(int code, std::string_view error_text);

/// The message of an evaluation error code.
std::string EvaluationErrorMessage(int code);

/// A rule of the expression language as the rest of the program uses it: compile against a
/// definition list, evaluate any number of times. Base of the dataset-bound expressions.
class TExpression {
 public:
  TExpression();
  virtual ~TExpression();
  TExpression(const TExpression&) = delete;
  TExpression& operator=(const TExpression&) = delete;

  /// The sub-expression at which the last compile failed.
  const std::string& ErrorText() const noexcept { return engine_->ErrorText(); }
  /// Compiles `text` against `list`, replacing the program; throws ExpressionError on a
  /// compile error (the program is then empty).
  void Compile(std::string_view text, const OperationDef* list);
  /// The type of the compiled rule.
  TypeCode ResultType() const noexcept { return engine_->ResultType(); }
  /// Clears the evaluation error and the value stack (kept for a constant rule).
  void Prepare() { engine_->Prepare(); }
  /// Evaluates without throwing; returns 0 or the evaluation error code.
  int EvaluateWithCode(Value& value) { return engine_->Evaluate(value); }
  /// Prepares and evaluates; throws EvaluationError with the English message on a failure.
  Value Evaluate();
  /// The engine expression, for operation functions and the disassembler.
  TCompiledExpression& Engine() noexcept { return *engine_; }
  const TCompiledExpression& Engine() const noexcept { return *engine_; }

 private:
  std::unique_ptr<TCompiledExpression> engine_;
};

}  // namespace tamaril::expr
