// The text side of the rule compiler: literals, names and operator symbols, parentheses, and the
// search for the operator a text splits at.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ctime>

#include "dataset/date_codec.h"
#include "expr/compiled_expression_internal.h"
#include "text/ascii.h"
#include "text/locale.h"

namespace tamaril::expr {
namespace scanner {
namespace {

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

}  // namespace

bool IsIdentifierChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '$' || IsDigit(c) || (u >= '@' && u <= 'Z') || c == '_' || (u >= 'a' && u <= 'z');
}

bool IsOperatorSymbol(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 32 || u >= 127) return true;
  switch (c) {
    case '!':
    case '#':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '/':
    case '<':
    case '=':
    case '>':
    case '?':
    case '\\':
    case '^':
    case '`':
    case '|':
    case '~': return true;
    default: return false;
  }
}

std::optional<double> ParseNumber(std::string_view text, char point) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissa_start = i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  std::size_t point_at = std::string_view::npos;
  if (i < n && text[i] == point) {
    point_at = i++;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t exponent_start = i;
    while (i < n && IsDigit(text[i])) ++i;
    if (i == exponent_start) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  std::string plain(text.substr(mantissa_start));
  if (point_at != std::string_view::npos) plain[point_at - mantissa_start] = '.';
  double value = 0;
  const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
    return std::nullopt;
  return negative ? -value : value;
}

std::optional<double> NumberLiteral(std::string_view text) {
  const char decimal = text::CurrentFormats().decimal_separator;
  const char first = text.front();
  if (!IsDigit(first) && first != '+' && first != '-' && first != '.' && first != decimal)
    return std::nullopt;
  if (auto value = ParseNumber(text, '.')) return value;
  if (decimal != '.') return ParseNumber(text, decimal);
  return std::nullopt;
}

bool IsStringLiteral(std::string_view text) {
  const std::size_t n = text.size();
  if (n < 2 || text.front() != '"' || text.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (text[i] != '"') continue;
    if (i + 2 < n && text[i + 1] == '"') {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::string StringLiteralValue(std::string_view text) {
  std::string value;
  value.reserve(text.size() - 2);
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    value += text[i];
    if (text[i] == '"') ++i;
  }
  return value;
}

std::optional<double> DateLiteral(std::string_view text) {
  if (std::count(text.begin(), text.end(), '.') != 2) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }))
    return std::nullopt;
  std::array<long long, 3> parts{};
  std::array<std::size_t, 3> lengths{};
  std::size_t part = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (lengths[part] == 0) return std::nullopt;
      ++part;
      continue;
    }
    if (++lengths[part] > 9) return std::nullopt;
    parts[part] = parts[part] * 10 + (text[i] - '0');
  }
  // The order of day, month and year in the short date picture.
  const std::string& picture = text::CurrentFormats().short_date_format;
  std::array<std::size_t, 3> where{picture.find('d'), picture.find('M'), picture.find('y')};
  std::array<int, 3> order{0, 1, 2};  // indices into where: day, month, year
  std::sort(order.begin(), order.end(), [&where](int a, int b) { return where[a] < where[b]; });
  long long day = 0, month = 0, year = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    long long& target = order[i] == 0 ? day : order[i] == 1 ? month : year;
    target = parts[i];
    if (order[i] == 2 && lengths[i] <= 2) {
      // Two-digit years fall into the fifty years around now.
      const int window_start = CurrentYear() - 50;
      year += window_start / 100 * 100;
      if (year < window_start) year += 100;
    }
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  const std::int64_t first = dataset::DayNumberFromCivil(year, static_cast<int>(month), 1);
  const std::int64_t next = dataset::DayNumberFromCivil(year, static_cast<int>(month) + 1, 1);
  if (day > next - first) return std::nullopt;
  return static_cast<double>(first + day - 1 - dataset::kDayNumberOf30Dec1899);
}

// Gives up after `budget` characters scanned.
std::string_view UnwrapByScanning(std::string_view text) {
  std::size_t budget = 4'000'000;
  text = text::TrimBlanks(text);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    int depth = 1;
    bool in_quotes = false;
    const std::string_view inner = text.substr(1, text.size() - 2);
    if (inner.size() > budget) break;
    budget -= inner.size();
    bool closes = false;
    for (const char c : inner) {
      if (c == '"') in_quotes = !in_quotes;
      if (in_quotes) continue;
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) {
        closes = true;
        break;
      }
    }
    if (closes) break;
    text = text::TrimBlanks(inner);
  }
  return text;
}

}  // namespace scanner

using scanner::IsDigit;
using scanner::IsIdentifierChar;
using scanner::IsOperatorSymbol;
using scanner::ParseNumber;

std::string_view TCompiledExpression::Unwrap(std::string_view text) const {
  text = text::TrimBlanks(text);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')' &&
         match_[static_cast<std::size_t>(text.data() - buffer_.data())] ==
             static_cast<std::int32_t>(text.data() + text.size() - 1 - buffer_.data())) {
    text = text::TrimBlanks(text.substr(1, text.size() - 2));
  }
  return text;
}

bool TCompiledExpression::FindSplit(int level, std::string_view text, const OperationDef*& found,
                                    std::size_t& position) const {
  const auto& ops = info_->level_ops[static_cast<std::size_t>(level)];
  if (ops.empty()) return false;
  const std::size_t n = text.size();
  if (level <= 1) {
    // Prefix operators and functions stand at the very beginning.
    for (const OperationDef* def : ops) {
      const std::size_t length = def->name.size();
      if (!text.starts_with(def->name)) continue;
      if (length < n && info_->HasNameStartingWith(text.substr(0, length + 1))) continue;
      found = def;
      position = 0;
      return true;
    }
    return false;
  }
  const auto& first_bytes = info_->first_bytes[static_cast<std::size_t>(level)];
  int depth = 0;
  bool in_quotes = false;
  std::size_t run = 0;  // free characters from k to the right
  for (std::size_t k = n; k-- > 0;) {
    const char c = text[k];
    bool free = false;
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes) {
      if (c == ')') {
        ++depth;
      } else if (c == '(') {
        --depth;
      } else {
        free = depth == 0;
      }
    }
    run = free ? run + 1 : 0;
    if (!free || k == 0 || !first_bytes[static_cast<unsigned char>(c)]) continue;
    const char before = text[k - 1];
    for (const OperationDef* def : ops) {
      const std::size_t length = def->name.size();
      if (length > run || text.compare(k, length, def->name) != 0) continue;
      if (length == 1 && k == n - 1) continue;
      if (IsIdentifierChar(c) ? IsIdentifierChar(before)
                              : (!IsOperatorSymbol(c) || IsOperatorSymbol(before))) {
        continue;
      }
      if (k + length < n && info_->HasNameStartingWith(text.substr(k, length + 1))) continue;
      if (length == 1 && (c == '+' || c == '-') && IsExponentSign(text, k)) continue;
      found = def;
      position = k;
      return true;
    }
  }
  return false;
}

bool TCompiledExpression::IsExponentSign(std::string_view text, std::size_t position) const {
  // 1-based position p = position + 1 must satisfy 3 <= p <= length - 1.
  if (position < 2 || position + 2 > text.size()) return false;
  if (text[position - 1] != 'E' && text[position - 1] != 'e') return false;
  std::size_t start = position - 1;
  while (start > 0 && !IsOperatorSymbol(text[start - 1]) && text[start - 1] != ' ') --start;
  std::size_t end = position + 1;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return ParseNumber(text.substr(start, end - start), '.').has_value();
}

}  // namespace tamaril::expr
