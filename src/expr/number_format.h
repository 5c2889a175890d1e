#pragma once

#include <string>

namespace tamaril::expr {

// Number texts of the built-in text functions, written with the current locale's separators.

/// `value` with exactly `decimals` decimals (clamped to 0..18), optionally with thousands separators.
std::string FormatFixed(double value, int decimals, bool thousands);

/// `value` rounded to `precision` significant digits (clamped to 1..18) and written with
/// thousands separators and `decimals` decimals; scientific notation when it has more whole
/// digits than `precision`.
std::string FormatNumberPrecision(double value, int precision, int decimals);

/// Scientific notation with `decimals` digits after the decimal separator, e.g. "2,56E-01".
std::string FormatScientific(double value, int decimals);

/// A currency amount with `decimals` decimals, thousands separators and the locale's symbol.
std::string FormatCurrencyDecimals(double value, int decimals);

}  // namespace tamaril::expr
