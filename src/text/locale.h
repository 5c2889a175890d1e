#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/error.h"

namespace tamaril::text {

// The locale services of the engine: comparison, case mapping and the number and date texts
// of one process-wide locale. Every argument and result is Windows-1250 text. This is the
// only place that compares or upper-cases text; the rest of the program reads the current
// locale from here and never chooses one itself.

/// The locale the program starts with (Czech).
inline constexpr std::string_view kDefaultLocale = "cs_CZ";

/// A failure of the locale services: an unknown locale, a date, time or amount that cannot be written.
class LocaleError : public Error {
 public:
  using Error::Error;
};

/// The number and date texts of a locale, named after the settings the Windows original read.
struct FormatSettings {
  char decimal_separator = ',';
  char thousand_separator = '\xA0';
  std::string short_date_format;  ///< Windows picture: d dd ddd dddd M MM MMM MMMM yy yyyy, 'literal'
  std::string long_time_format;   ///< Windows picture: H HH h hh m mm s ss tt, 'literal'
  std::array<std::string, 12> long_month_names;  ///< January first, nominative
  std::array<std::string, 12> short_month_names;
  std::array<std::string, 7> long_day_names;  ///< Sunday first
  std::array<std::string, 7> short_day_names;
  std::string time_am;
  std::string time_pm;
  std::string currency_string;
  int currency_decimals = 2;
  /// Where the symbol goes: 0 "Kč1", 1 "1Kč", 2 "Kč 1", 3 "1 Kč"; a negative amount has '-' in front.
  int currency_format = 3;
};

/// Makes the ICU locale `icu_name` (e.g. "cs_CZ", "en_US") current for the whole process;
/// throws LocaleError when ICU has no data for its language.
void SetLocale(std::string_view icu_name);

/// The ICU name of the current locale.
const std::string& CurrentLocaleName();

/// The number and date texts of the current locale; the reference stays valid for the
/// life of the process, also after SetLocale.
const FormatSettings& CurrentFormats();

/// Compares two Windows-1250 strings by the current locale's collation; <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);

/// As CompareText, but letters differing in case only are equal (accents still count).
int CompareTextIgnoreCase(std::string_view a, std::string_view b);

/// True when CompareTextIgnoreCase finds `a` and `b` equal.
bool SameTextIgnoreCase(std::string_view a, std::string_view b);

/// Upper-case form of one Windows-1250 character; a character whose upper case is not a
/// single Windows-1250 character comes back unchanged.
char UpperChar(char c);

/// Lower-case form of one Windows-1250 character, as UpperChar.
char LowerChar(char c);

/// The Windows-1250 string upper-cased character by character (see UpperChar).
std::string UpperCase(std::string_view text);

/// The Windows-1250 string lower-cased character by character (see LowerChar).
std::string LowerCase(std::string_view text);

/// Compares two UTF-8 strings by the current locale's collation, as CompareText does for
/// Windows-1250 ones; <0, 0 or >0.
int CompareUnicodeText(std::string_view a, std::string_view b);

/// The UTF-8 string upper-cased by the current locale (a character may become several, "ß" ->
/// "SS").
std::string UpperCaseUnicode(std::string_view utf8);

/// An amount with the currency decimals, thousands separators and symbol of the current
/// locale, e.g. "1 234,50 Kč"; throws LocaleError for NaN or infinity.
std::string FormatCurrency(double value);

/// A date in the current short date format, e.g. "5.3.2024"; throws LocaleError for a date
/// that does not exist.
std::string FormatDate(int year, int month, int day);

/// A time of day in the current long time format, e.g. "7:05:09"; throws LocaleError
/// outside 0:00:00 .. 23:59:59.
std::string FormatTime(int hour, int minute, int second);

/// A number written with the current decimal separator and optional thousands separators
/// (and, when the separator is a no-break space, plain spaces), e.g. "-1 234,5" or "2,5E3";
/// nullopt when the text is not such a number.
std::optional<double> ParseLocaleFloat(std::string_view text);

}  // namespace tamaril::text
