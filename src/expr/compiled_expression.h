#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "expr/operation.h"
#include "expr/value.h"
#include "text/error.h"

namespace tamaril::expr {

class TExpression;

/// Compile result codes (0 = success).
enum class CompileCode : int {
  Ok = 0,
  MissingOperand = 1,
  UnknownOperation = 2,
  WrongOperandCount = 3,
  WrongType = 4,
  OpenParenExpected = 5,
  CloseParenExpected = 6,
  UnterminatedString = 7,
  TooComplicated = 8,
};

/// How deep sub-expressions may nest before a compile gives up with TooComplicated.
inline constexpr int kMaxCompileNesting = 1000;

/// The compiler's internal failure: a code and the sub-expression it arose in.
class ECompile : public Error {
 public:
  explicit ECompile(CompileCode code) : Error("Compile error "), code_(code) {}
  CompileCode code() const noexcept { return code_; }
  std::string text;  ///< the innermost sub-expression at which the failure arose

 private:
  CompileCode code_;
};

/// What a program element is.
enum class FactorKind : std::uint8_t { Constant, Operation };

/// One element of a compiled postfix program: a constant or an operation, with an optional
/// short-circuit jump tested before it runs.
struct TFactor {
  FactorKind kind = FactorKind::Constant;
  std::uint8_t jump_depth = 0;  ///< how far below the top the jump looks
  std::int32_t jump = 0;        ///< 0 none; >0 skip when true, <0 skip when false
  const OperationDef* def = nullptr;
  Value value;                      ///< the constant, or the operation's cached result
  bool cached = false;              ///< `value` holds this evaluation's result of a caching operation
  std::int32_t previous_same = -1;  ///< the previous factor of the same caching definition

  /// How many values the factor pops.
  int OperandCount() const noexcept { return kind == FactorKind::Constant ? 0 : def->arg_count; }
};

/// A rule compiled into a postfix program, with the value stack that evaluates it. Owned by
/// one caller at a time; the definition list it was compiled against must outlive the program.
class TCompiledExpression {
 public:
  /// An empty expression; `owner` is handed to operation functions through Owner().
  explicit TCompiledExpression(TExpression* owner = nullptr);

  /// The object that created this engine expression, or null.
  TExpression* Owner() const noexcept { return owner_; }

  /// Compiles `text` against the definitions of `list`; returns 0 or a CompileCode value. On a
  /// failure the program is empty and ErrorText() holds the offending sub-expression. Other
  /// exceptions (from a misbehaving definition list) propagate with the program emptied.
  int Compile(std::string_view text, const OperationDef* list);

  /// The text last compiled.
  const std::string& SourceText() const noexcept { return source_; }
  /// The sub-expression of the last compile error (upper case outside quotes), or empty.
  const std::string& ErrorText() const noexcept { return error_text_; }
  /// The type of the compiled expression (None for an empty one).
  TypeCode ResultType() const noexcept { return result_type_; }
  /// True when the program is one constant kept on the value stack.
  bool IsConstant() const noexcept { return constant_; }
  /// The compiled program in postfix order.
  const std::vector<TFactor>& Program() const noexcept { return program_; }

  /// Clears the evaluation error and the value stack unless the expression is constant.
  void Prepare();
  /// Runs the program; returns 0 with the value in `result`, or an EvalCode value with `result` Null.
  int Evaluate(Value& result);
  /// The code of the last evaluation (0 or an EvalCode value).
  int EvaluationError() const noexcept { return evaluation_error_; }

  /// Compares two strings by the locale collation, case-sensitive; <0, 0 or >0.
  int CompareStrings(std::string_view a, std::string_view b) const;

  /// With `unicode` the strings of this expression are UTF-8: a rule text compiled afterwards is
  /// UTF-8 (names and operators outside quotes must have Windows-1250 characters), string
  /// values compare, count and cut by characters, and texts made from numbers and dates are
  /// UTF-8. Without it (the default) every string is Windows-1250.
  void SetUnicodeText(bool unicode) noexcept { unicode_text_ = unicode; }
  bool UnicodeText() const noexcept { return unicode_text_; }
  /// A text made in Windows-1250 (a number or date written out) as a string of this expression.
  Value StringResult(std::string ansi) const;

  /// What the compiler derives from a definition list once (internal to the compiler).
  struct ListInfo;

 private:
  void Clear();
  void CompileWhole(const OperationDef* list);
  TypeCode CompileSub(std::string_view text);
  TypeCode CompileSplit(std::string_view text, const OperationDef& found, std::size_t position);
  std::string_view Unwrap(std::string_view text) const;
  bool FindSplit(int level, std::string_view text, const OperationDef*& found, std::size_t& position) const;
  bool IsExponentSign(std::string_view text, std::size_t position) const;
  TypeCode AppendOperation(const OperationDef& found, const TypeCode* types, std::size_t count);
  void AppendConstant(Value value);
  void SetUpJumps();
  std::size_t OperandStart(std::size_t end) const;
  void Run();
  void RunOperation(std::size_t index);

  TExpression* owner_;
  std::string source_;
  std::string error_text_;
  TypeCode result_type_ = TypeCode::None;
  std::vector<TFactor> program_;
  std::vector<Value> stack_;
  int evaluation_error_ = 0;
  bool constant_ = false;
  bool has_cache_ = false;
  bool unicode_text_ = false;

  // Compile scratch, kept between compiles to spare allocations.
  std::string buffer_;
  std::vector<std::int32_t> match_;
  const ListInfo* info_ = nullptr;
  int nesting_ = 0;
};

}  // namespace tamaril::expr
