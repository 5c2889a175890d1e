#include "expr/number_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "text/locale.h"

namespace tamaril::expr {
namespace {

int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

/// Replaces the C decimal point and, when asked, groups the whole digits by thousands.
std::string Localize(const std::string& plain, bool thousands) {
  const text::FormatSettings& f = text::CurrentFormats();
  std::string result;
  std::size_t i = 0;
  if (i < plain.size() && plain[i] == '-') {
    // A value that rounds to zero carries no sign.
    if (plain.find_first_of("123456789") < plain.find_first_of("eE")) result += '-';
    ++i;
  }
  std::size_t whole_end = plain.find_first_of(".eE", i);
  if (whole_end == std::string::npos) whole_end = plain.size();
  for (std::size_t j = i; j < whole_end; ++j) {
    if (thousands && j > i && (whole_end - j) % 3 == 0) result += f.thousand_separator;
    result += plain[j];
  }
  for (std::size_t j = whole_end; j < plain.size(); ++j)
    result += plain[j] == '.' ? f.decimal_separator : plain[j];
  return result;
}

std::string Printf(const char* format, int digits, double value) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, format, digits, value);
  return buffer;
}

}  // namespace

std::string FormatFixed(double value, int decimals, bool thousands) {
  if (std::fabs(value) >= 1e300) return FormatScientific(value, 14);
  return Localize(Printf("%.*f", Clamp(decimals, 0, 18), value), thousands);
}

std::string FormatNumberPrecision(double value, int precision, int decimals) {
  precision = Clamp(precision, 1, 18);
  const std::string rounded = Printf("%.*e", precision - 1, value);
  const int exponent = std::atoi(rounded.c_str() + rounded.find('e') + 1);
  if (exponent + 1 > precision) return FormatScientific(value, precision - 1);
  return FormatFixed(std::strtod(rounded.c_str(), nullptr), decimals, true);
}

std::string FormatScientific(double value, int decimals) {
  return Localize(Printf("%.*E", Clamp(decimals, 0, 18), value), false);
}

std::string FormatCurrencyDecimals(double value, int decimals) {
  const text::FormatSettings& f = text::CurrentFormats();
  std::string number = FormatFixed(value, decimals, true);
  std::string sign;
  if (!number.empty() && number.front() == '-') {
    sign = "-";
    number.erase(0, 1);
  }
  switch (f.currency_format) {
    case 0: return sign + f.currency_string + number;
    case 1: return sign + number + f.currency_string;
    case 2: return sign + f.currency_string + ' ' + number;
    default: return sign + number + ' ' + f.currency_string;
  }
}

}  // namespace tamaril::expr
