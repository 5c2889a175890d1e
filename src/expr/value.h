#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "dataset/variant.h"
#include "text/error.h"

namespace tamaril::expr {

/// The compile-time type of an operand or result; the codes are those rule signatures use.
enum class TypeCode : std::uint8_t { None = 0, Number = 1, String = 2, Date = 3, Boolean = 4 };

/// The letter of a type in written signatures: N number, S string, D date, B boolean, "-" none.
char TypeLetter(TypeCode type) noexcept;

/// A run-time value of the rule language. Numbers are doubles, strings Windows-1250 bytes,
/// dates days since 30 December 1899 with the time as the fraction.
class Value {
 public:
  enum class Kind : std::uint8_t { Null, Number, String, Date, Boolean };

  Value() = default;  ///< Null
  static Value Number(double value) { return Value(Kind::Number, value); }
  static Value Date(double days) { return Value(Kind::Date, days); }
  static Value Boolean(bool value) { return Value(Kind::Boolean, value ? 1.0 : 0.0); }
  static Value String(std::string ansi) {
    Value result(Kind::String, 0);
    result.text_ = std::move(ansi);
    return result;
  }

  Kind kind() const noexcept { return kind_; }
  bool IsNull() const noexcept { return kind_ == Kind::Null; }
  /// The number or date as a double; throws EvaluationFailure 102 for any other kind.
  double AsNumber() const;
  /// The boolean; throws EvaluationFailure 102 for any other kind.
  bool AsBoolean() const;
  /// The string; throws EvaluationFailure 102 for any other kind.
  const std::string& AsString() const;
  /// The raw double of a number, date or boolean (1/0) without checks.
  double raw_number() const noexcept { return number_; }
  /// The raw text of a string without checks.
  const std::string& raw_text() const noexcept { return text_; }

  /// Equality of kind and value (two Nulls are equal); what short-circuit jumps test with.
  bool operator==(const Value& other) const;

 private:
  Value(Kind kind, double number) : kind_(kind), number_(number) {}

  Kind kind_ = Kind::Null;
  double number_ = 0;
  std::string text_;
};

/// The category codes of evaluation failures.
enum class EvalCode : int {
  Other = 100,
  InvalidOperandType = 102,
  Overflow = 103,
  DivisionByZero = 104,
  InvalidOperation = 105,
  UnknownResultType = 106,
};

/// Thrown by operation functions to stop an evaluation with one of the EvalCode categories.
class EvaluationFailure : public Error {
 public:
  explicit EvaluationFailure(EvalCode code) : Error("Evaluation failure"), code_(code) {}
  EvalCode code() const noexcept { return code_; }

 private:
  EvalCode code_;
};

/// The value of a dataset Variant: Empty/Null as Null, integers, doubles and currency as
/// numbers; throws EvaluationFailure 102 for bytes and arrays.
Value FromVariant(const dataset::Variant& variant);

/// The dataset Variant of a value.
dataset::Variant ToVariant(const Value& value);

}  // namespace tamaril::expr
