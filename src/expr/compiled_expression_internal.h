#pragma once

// What the scanner, the compiler and the evaluator of TCompiledExpression share; private to
// the layer.

#include <array>
#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "expr/compiled_expression.h"
#include "expr/operation.h"

namespace tamaril::expr {

// What the compiler derives from a definition list once: operator names by level, the
// zero-argument identifiers, every name (for the longest-name test) and the largest
// argument count. Lists only grow at the head and records are never unlinked, so a head
// together with the registration generation names one unchanging list.
struct TCompiledExpression::ListInfo {
  std::size_t max_args = 0;
  std::array<std::vector<const OperationDef*>, 5> level_ops;
  std::array<std::bitset<256>, 5> first_bytes;
  std::vector<std::string_view> names;  // sorted, distinct
  std::unordered_map<std::string_view, const OperationDef*> identifiers;

  /// True when some name starts with `prefix` (and so is longer than prefix minus one).
  bool HasNameStartingWith(std::string_view prefix) const {
    const auto it = std::lower_bound(names.begin(), names.end(), prefix);
    return it != names.end() && it->starts_with(prefix);
  }
};

namespace scanner {

/// True for the ASCII digits.
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

/// True for the bytes that may continue a name: letters, digits, '$', '@', '_' and '[' to '^'.
bool IsIdentifierChar(char c);

/// True for the bytes that make up operator names (and every control or non-ASCII byte).
bool IsOperatorSymbol(char c);

/// A number in the form [sign] digits [point digits] [E [sign] digits] with `point` as the
/// decimal point; nullopt when the text has another form or the value does not fit a double.
std::optional<double> ParseNumber(std::string_view text, char point);

/// The value of a number literal, with '.' or the locale's decimal separator; nullopt otherwise.
std::optional<double> NumberLiteral(std::string_view text);

/// True when `text` is one string literal in double quotes (inner quotes doubled).
bool IsStringLiteral(std::string_view text);

/// The value of a string literal that IsStringLiteral accepts.
std::string StringLiteralValue(std::string_view text);

/// A date written as three numbers separated by "." in the order of the short date format, as
/// a day number; nullopt when the text is no such date.
std::optional<double> DateLiteral(std::string_view text);

/// Unwraps enclosing parentheses by counting depth, for texts whose parentheses do not balance
/// (only the error text depends on it).
std::string_view UnwrapByScanning(std::string_view text);

}  // namespace scanner
}  // namespace tamaril::expr
