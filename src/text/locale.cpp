#include "text/locale.h"

#include "text/ascii.h"
#include "text/encoding.h"

#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace tamaril::text {
namespace {

// Windows-1250 is a single-byte code page: each byte is exactly one UTF-16 unit.
const std::array<char16_t, 256>& AnsiToUnicodeTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
      const std::u16string u = AnsiToUtf16(std::string(1, static_cast<char>(b)));
      t[static_cast<std::size_t>(b)] = u.size() == 1 ? u[0] : u'\uFFFD';
    }
    return t;
  }();
  return table;
}

std::string ToAnsi(const icu::UnicodeString& s) {
  return Utf16ToAnsi(std::u16string_view(s.getBuffer(), static_cast<std::size_t>(s.length())));
}

// The Windows-1250 byte for a single UTF-16 unit, if the code page has it.
std::optional<char> AnsiChar(char16_t u) {
  if (u == u'?') return '?';
  const std::string ansi = Utf16ToAnsi(std::u16string_view(&u, 1));
  if (ansi.size() != 1 || ansi[0] == '?') return std::nullopt;
  return ansi[0];
}

constexpr std::array<const char*, 12> kCzechLongMonths = {"leden",  "únor",   "březen",   "duben",
                                                          "květen", "červen", "červenec", "srpen",
                                                          "září",   "říjen",  "listopad", "prosinec"};
constexpr std::array<const char*, 12> kCzechShortMonths = {"led", "úno", "bře", "dub", "kvě", "čvn",
                                                           "čvc", "srp", "zář", "říj", "lis", "pro"};
constexpr std::array<const char*, 7> kCzechLongDays = {"neděle",  "pondělí", "úterý", "středa",
                                                       "čtvrtek", "pátek",   "sobota"};
constexpr std::array<const char*, 7> kCzechShortDays = {"ne", "po", "út", "st", "čt", "pá", "so"};

template <std::size_t N>
void FillFromUtf8(std::array<std::string, N>& names, const std::array<const char*, N>& utf8) {
  for (std::size_t i = 0; i < N; ++i) names[i] = Utf8ToAnsi(utf8[i]);
}

// Copies `count` ICU names starting at `first` into `names`; false when ICU gave too few or empty ones.
template <std::size_t N>
bool FillFromIcu(std::array<std::string, N>& names, const icu::UnicodeString* icu_names, int32_t count,
                 int32_t first) {
  if (icu_names == nullptr || count < first + static_cast<int32_t>(N)) return false;
  for (std::size_t i = 0; i < N; ++i) {
    const icu::UnicodeString& name = icu_names[first + static_cast<int32_t>(i)];
    if (name.isEmpty()) return false;
    names[i] = ToAnsi(name);
  }
  return true;
}

bool IsSpaceLike(char16_t u) { return u_isWhitespace(u) || u == u'\u00A0' || u == u'\u202F'; }

// Rewrites an ICU date/time pattern as a Windows picture. Two-digit years are widened to four
// when `full_year` is set; fields a Windows picture has no letter for are left out.
std::string WindowsPicture(const icu::UnicodeString& pattern, bool full_year) {
  std::u16string out;
  const int32_t length = pattern.length();
  for (int32_t i = 0; i < length;) {
    const char16_t c = pattern.charAt(i);
    if (c == u'\'') {
      const int32_t close = pattern.indexOf(u'\'', i + 1);
      const int32_t end = close < 0 ? length : close + 1;
      for (int32_t k = i; k < end; ++k) out.push_back(pattern.charAt(k));
      i = end;
      continue;
    }
    if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) {
      out.push_back(IsSpaceLike(c) && c != u'\u00A0' ? u' ' : c);  // e.g. the narrow space before AM/PM
      ++i;
      continue;
    }
    int32_t run = 1;
    while (i + run < length && pattern.charAt(i + run) == c) ++run;
    i += run;
    auto emit = [&out](char16_t letter, int32_t times) {
      out.append(static_cast<std::size_t>(times), letter);
    };
    switch (c) {
      case u'd': emit(u'd', std::min(run, 2)); break;
      case u'M':
      case u'L': emit(u'M', std::min(run, 4)); break;
      case u'y': emit(u'y', run == 2 && !full_year ? 2 : 4); break;
      case u'E':
      case u'c':
      case u'e': emit(u'd', run >= 4 ? 4 : 3); break;
      case u'H':
      case u'h':
      case u'm':
      case u's': emit(c, std::min(run, 2)); break;
      case u'a': emit(u't', 2); break;
      default: break;
    }
  }
  while (!out.empty() && (out.back() == u' ' || out.back() == u'\u00A0')) out.pop_back();
  while (!out.empty() && (out.front() == u' ' || out.front() == u'\u00A0')) out.erase(out.begin());
  return Utf16ToAnsi(out);
}

// Reads the currency pattern ("#,##0.00 ¤", "¤#,##0.00") into the 0..3 symbol placement.
int CurrencyPlacement(const icu::UnicodeString& pattern) {
  const int32_t symbol = pattern.indexOf(u'\u00A4');
  if (symbol < 0) return 3;
  int32_t number = pattern.indexOf(u'#');
  if (number < 0 || (pattern.indexOf(u'0') >= 0 && pattern.indexOf(u'0') < number))
    number = pattern.indexOf(u'0');
  const bool before = number < 0 || symbol < number;
  if (before) {
    int32_t after_symbol = symbol + 1;
    while (after_symbol < pattern.length() && pattern.charAt(after_symbol) == u'\u00A4') ++after_symbol;
    return after_symbol < pattern.length() && IsSpaceLike(pattern.charAt(after_symbol)) ? 2 : 0;
  }
  return symbol > 0 && IsSpaceLike(pattern.charAt(symbol - 1)) ? 3 : 1;
}

FormatSettings BuildFormats(const icu::Locale& locale) {
  const bool czech = std::string_view(locale.getLanguage()) == "cs";
  FormatSettings f;

  UErrorCode status = U_ZERO_ERROR;
  const icu::DecimalFormatSymbols symbols(locale, status);
  if (U_SUCCESS(status)) {
    const icu::UnicodeString decimal = symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
    const icu::UnicodeString group = symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
    f.decimal_separator = decimal.length() == 1 ? AnsiChar(decimal.charAt(0)).value_or('.') : '.';
    if (group.length() == 1 && IsSpaceLike(group.charAt(0))) {
      f.thousand_separator = '\xA0';
    } else {
      f.thousand_separator = group.length() == 1 ? AnsiChar(group.charAt(0)).value_or(' ') : ' ';
    }
    const icu::UnicodeString currency = symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol);
    const std::string ansi_currency = ToAnsi(currency);
    if (currency == icu::UnicodeString(u"\u00A4") && czech) {
      f.currency_string = Utf8ToAnsi("Kč");
    } else if (ansi_currency.find('?') != std::string::npos) {
      f.currency_string = ToAnsi(symbols.getSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol));
    } else {
      f.currency_string = ansi_currency;
    }
  }

  status = U_ZERO_ERROR;
  const std::unique_ptr<icu::NumberFormat> currency_format(
      icu::NumberFormat::createCurrencyInstance(locale, status));
  if (U_SUCCESS(status) && currency_format) {
    f.currency_decimals = currency_format->getMaximumFractionDigits();
    if (const auto* decimal_format = dynamic_cast<const icu::DecimalFormat*>(currency_format.get())) {
      icu::UnicodeString pattern;
      f.currency_format = CurrencyPlacement(decimal_format->toPattern(pattern));
    }
  }

  status = U_ZERO_ERROR;
  const icu::DateFormatSymbols date_symbols(locale, status);
  bool have_names = U_SUCCESS(status);
  if (have_names) {
    using Symbols = icu::DateFormatSymbols;
    int32_t count = 0;
    const icu::UnicodeString* names = date_symbols.getMonths(count, Symbols::STANDALONE, Symbols::WIDE);
    have_names = FillFromIcu(f.long_month_names, names, count, 0);
    names = date_symbols.getMonths(count, Symbols::STANDALONE, Symbols::ABBREVIATED);
    have_names = have_names && FillFromIcu(f.short_month_names, names, count, 0);
    // ICU's weekday arrays start at index 1 with Sunday.
    names = date_symbols.getWeekdays(count, Symbols::FORMAT, Symbols::WIDE);
    have_names = have_names && FillFromIcu(f.long_day_names, names, count, 1);
    names = date_symbols.getWeekdays(count, Symbols::FORMAT, Symbols::ABBREVIATED);
    have_names = have_names && FillFromIcu(f.short_day_names, names, count, 1);
    names = date_symbols.getAmPmStrings(count);
    if (names != nullptr && count >= 2) {
      f.time_am = ToAnsi(names[0]);
      f.time_pm = ToAnsi(names[1]);
    }
  }
  if (!have_names && czech) {
    FillFromUtf8(f.long_month_names, kCzechLongMonths);
    FillFromUtf8(f.short_month_names, kCzechShortMonths);
    FillFromUtf8(f.long_day_names, kCzechLongDays);
    FillFromUtf8(f.short_day_names, kCzechShortDays);
  }

  if (czech) {
    // Windows' own Czech settings, which ICU writes differently ("dd.MM.yy").
    f.short_date_format = "d.M.yyyy";
    f.long_time_format = "H:mm:ss";
  } else {
    icu::UnicodeString pattern;
    const std::unique_ptr<icu::DateFormat> date(
        icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
    if (const auto* simple = dynamic_cast<const icu::SimpleDateFormat*>(date.get())) {
      f.short_date_format = WindowsPicture(simple->toPattern(pattern), true);
    }
    const std::unique_ptr<icu::DateFormat> time(
        icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, locale));
    if (const auto* simple = dynamic_cast<const icu::SimpleDateFormat*>(time.get())) {
      f.long_time_format = WindowsPicture(simple->toPattern(pattern), false);
    }
    if (f.short_date_format.empty()) f.short_date_format = "yyyy-MM-dd";
    if (f.long_time_format.empty()) f.long_time_format = "HH:mm:ss";
  }
  return f;
}

// A 256-entry case table; a character keeps its byte when its mapped form is not one
// Windows-1250 character (e.g. "ß" -> "SS").
std::array<char, 256> CaseTable(const icu::Locale& locale, bool upper) {
  const auto& unicode = AnsiToUnicodeTable();
  std::array<char, 256> table{};
  for (std::size_t b = 0; b < 256; ++b) {
    table[b] = static_cast<char>(b);
    icu::UnicodeString s(unicode[b]);
    if (upper) {
      s.toUpper(locale);
    } else {
      s.toLower(locale);
    }
    if (s.length() != 1 || s.charAt(0) == unicode[b]) continue;
    if (const std::optional<char> mapped = AnsiChar(s.charAt(0))) table[b] = *mapped;
  }
  return table;
}

bool IcuHasLanguage(const icu::Locale& locale) {
  if (locale.isBogus() || std::string_view(locale.getLanguage()).empty()) return false;
  int32_t count = 0;
  const icu::Locale* available = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i) {
    if (std::string_view(available[i].getLanguage()) == locale.getLanguage()) return true;
  }
  return false;
}

struct LocaleData {
  std::string name;
  icu::Locale locale;
  FormatSettings formats;
  std::array<char, 256> upper{};
  std::array<char, 256> lower{};
  std::unique_ptr<icu::Collator> collator;  // prototype, cloned per thread
};

std::unique_ptr<const LocaleData> BuildLocale(std::string_view icu_name) {
  auto data = std::make_unique<LocaleData>();
  data->name = std::string(icu_name);
  data->locale = icu::Locale(data->name.c_str());
  if (!IcuHasLanguage(data->locale)) {
    throw LocaleError(Utf8ToAnsi("Neznámé národní prostředí: ") + data->name);
  }
  UErrorCode status = U_ZERO_ERROR;
  data->collator.reset(icu::Collator::createInstance(data->locale, status));
  if (U_FAILURE(status) || !data->collator) {
    throw LocaleError(Utf8ToAnsi("Nelze vytvořit řazení pro národní prostředí: ") + data->name);
  }
  data->formats = BuildFormats(data->locale);
  data->upper = CaseTable(data->locale, true);
  data->lower = CaseTable(data->locale, false);
  return data;
}

// Every locale built so far stays alive, so references handed out by CurrentFormats and the
// per-thread collators never dangle; a process switches locale a handful of times at most.
struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<const LocaleData>> built;
  std::atomic<const LocaleData*> current{nullptr};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Must be called with the registry's mutex held.
const LocaleData& FindOrBuild(Registry& registry, std::string_view icu_name) {
  for (const auto& data : registry.built) {
    if (data->name == icu_name) return *data;
  }
  registry.built.push_back(BuildLocale(icu_name));
  return *registry.built.back();
}

const LocaleData& Current() {
  Registry& registry = TheRegistry();
  if (const LocaleData* data = registry.current.load(std::memory_order_acquire)) return *data;
  const std::lock_guard lock(registry.mutex);
  if (const LocaleData* data = registry.current.load(std::memory_order_acquire)) return *data;
  const LocaleData& data = FindOrBuild(registry, kDefaultLocale);
  registry.current.store(&data, std::memory_order_release);
  return data;
}

// Collators keep per-call state, so each thread compares with clones of its own.
struct ThreadCollation {
  const LocaleData* owner = nullptr;
  std::unique_ptr<icu::Collator> exact;
  std::unique_ptr<icu::Collator> ignore_case;
  std::u16string left;
  std::u16string right;
};

icu::Collator& CloneWithStrength(const icu::Collator& prototype, icu::Collator::ECollationStrength strength,
                                 std::unique_ptr<icu::Collator>& slot) {
  slot.reset(prototype.clone());
  if (!slot) throw LocaleError(Utf8ToAnsi("Nelze vytvořit řazení"));
  slot->setStrength(strength);
  return *slot;
}

void Widen(std::string_view ansi, std::u16string& out) {
  const auto& table = AnsiToUnicodeTable();
  out.resize(ansi.size());
  for (std::size_t i = 0; i < ansi.size(); ++i) out[i] = table[static_cast<unsigned char>(ansi[i])];
}

// `unicode`: both texts are UTF-8, else Windows-1250.
int Compare(std::string_view a, std::string_view b, bool ignore_case, bool unicode = false) {
  thread_local ThreadCollation state;
  const LocaleData& data = Current();
  if (state.owner != &data) {
    const std::lock_guard lock(TheRegistry().mutex);
    CloneWithStrength(*data.collator, icu::Collator::TERTIARY, state.exact);
    CloneWithStrength(*data.collator, icu::Collator::SECONDARY, state.ignore_case);
    state.owner = &data;
  }
  if (unicode) {
    state.left = Utf8ToUtf16(a);
    state.right = Utf8ToUtf16(b);
  } else {
    Widen(a, state.left);
    Widen(b, state.right);
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Collator& collator = ignore_case ? *state.ignore_case : *state.exact;
  const UCollationResult result =
      collator.compare(state.left.data(), static_cast<int32_t>(state.left.size()), state.right.data(),
                       static_cast<int32_t>(state.right.size()), status);
  return static_cast<int>(result);
}

std::string MapCase(std::string_view text, const std::array<char, 256>& table) {
  std::string out(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = table[static_cast<unsigned char>(text[i])];
  return out;
}

void AppendNumber(std::string& out, int value, int width) {
  const std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width)
    out.append(static_cast<std::size_t>(width) - digits.size(), '0');
  out += digits;
}

// The fields a Windows date/time picture can show.
struct DateTimeFields {
  int year = 0;
  int month = 1;
  int day = 1;
  int weekday = 0;  // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
};

std::string ApplyPicture(std::string_view picture, const DateTimeFields& v, const FormatSettings& f) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {
      const std::size_t close = picture.find('\'', i + 1);
      const std::size_t end = close == std::string_view::npos ? picture.size() : close;
      if (end == i + 1 && close != std::string_view::npos) {
        out += '\'';  // '' stands for a quote
      } else {
        out.append(picture.substr(i + 1, end - i - 1));
      }
      i = close == std::string_view::npos ? picture.size() : close + 1;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    const int n = static_cast<int>(run);
    switch (c) {
      case 'd':
        if (n >= 4)
          out += f.long_day_names[static_cast<std::size_t>(v.weekday)];
        else if (n == 3)
          out += f.short_day_names[static_cast<std::size_t>(v.weekday)];
        else
          AppendNumber(out, v.day, n);
        break;
      case 'M':
        if (n >= 4)
          out += f.long_month_names[static_cast<std::size_t>(v.month - 1)];
        else if (n == 3)
          out += f.short_month_names[static_cast<std::size_t>(v.month - 1)];
        else
          AppendNumber(out, v.month, n);
        break;
      case 'y':
        if (n <= 2)
          AppendNumber(out, v.year % 100, n);
        else
          AppendNumber(out, v.year, n);
        break;
      case 'H': AppendNumber(out, v.hour, std::min(n, 2)); break;
      case 'h': AppendNumber(out, v.hour % 12 == 0 ? 12 : v.hour % 12, std::min(n, 2)); break;
      case 'm': AppendNumber(out, v.minute, std::min(n, 2)); break;
      case 's': AppendNumber(out, v.second, std::min(n, 2)); break;
      case 't': {
        const std::string& marker = v.hour < 12 ? f.time_am : f.time_pm;
        out += n == 1 ? marker.substr(0, 1) : marker;
        break;
      }
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void SetLocale(std::string_view icu_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  const LocaleData& data = FindOrBuild(registry, icu_name);
  registry.current.store(&data, std::memory_order_release);
}

const std::string& CurrentLocaleName() { return Current().name; }

const FormatSettings& CurrentFormats() { return Current().formats; }

int CompareText(std::string_view a, std::string_view b) { return Compare(a, b, false); }

int CompareTextIgnoreCase(std::string_view a, std::string_view b) { return Compare(a, b, true); }

bool SameTextIgnoreCase(std::string_view a, std::string_view b) { return Compare(a, b, true) == 0; }

char UpperChar(char c) { return Current().upper[static_cast<unsigned char>(c)]; }

char LowerChar(char c) { return Current().lower[static_cast<unsigned char>(c)]; }

std::string UpperCase(std::string_view text) { return MapCase(text, Current().upper); }

std::string LowerCase(std::string_view text) { return MapCase(text, Current().lower); }

int CompareUnicodeText(std::string_view a, std::string_view b) { return Compare(a, b, false, true); }

std::string UpperCaseUnicode(std::string_view utf8) {
  icu::UnicodeString s =
      icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  s.toUpper(Current().locale);
  std::string out;
  s.toUTF8String(out);
  return out;
}

std::string FormatCurrency(double value) {
  if (!std::isfinite(value)) throw LocaleError(Utf8ToAnsi("Neplatná částka"));
  const FormatSettings& f = CurrentFormats();
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                       std::chars_format::fixed, f.currency_decimals);
  if (ec != std::errc()) throw LocaleError(Utf8ToAnsi("Neplatná částka"));
  const std::string_view plain(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t point = plain.find('.');
  const std::string_view whole = plain.substr(0, point);
  std::string number;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) number += f.thousand_separator;
    number += whole[i];
  }
  if (point != std::string_view::npos) {
    number += f.decimal_separator;
    number.append(plain.substr(point + 1));
  }
  const bool negative = std::signbit(value) && plain.find_first_not_of("0.") != std::string_view::npos;
  std::string out = negative ? "-" : "";
  switch (f.currency_format) {
    case 0: out += f.currency_string + number; break;
    case 1: out += number + f.currency_string; break;
    case 2: out += f.currency_string + ' ' + number; break;
    default: out += number + ' ' + f.currency_string; break;
  }
  return out;
}

std::string FormatDate(int year, int month, int day) {
  const bool in_range = year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
  const std::chrono::year_month_day date{std::chrono::year(in_range ? year : 1),
                                         std::chrono::month(static_cast<unsigned>(in_range ? month : 1)),
                                         std::chrono::day(static_cast<unsigned>(in_range ? day : 1))};
  if (!in_range || !date.ok()) {
    throw LocaleError(Utf8ToAnsi("Neplatné datum: ") + std::to_string(year) + '-' + std::to_string(month) +
                      '-' + std::to_string(day));
  }
  DateTimeFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.weekday = static_cast<int>(std::chrono::weekday(std::chrono::sys_days(date)).c_encoding());
  return ApplyPicture(CurrentFormats().short_date_format, fields, CurrentFormats());
}

std::string FormatTime(int hour, int minute, int second) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    throw LocaleError(Utf8ToAnsi("Neplatný čas: ") + std::to_string(hour) + ':' + std::to_string(minute) +
                      ':' + std::to_string(second));
  }
  DateTimeFields fields;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = second;
  return ApplyPicture(CurrentFormats().long_time_format, fields, CurrentFormats());
}

std::optional<double> ParseLocaleFloat(std::string_view text) {
  const FormatSettings& f = CurrentFormats();
  text = TrimBlanks(text);
  const auto is_group = [&f](char c) {
    return c == f.thousand_separator || (c == ' ' && f.thousand_separator == '\xA0');
  };

  std::string plain;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') plain += '-';
    ++i;
  }
  std::size_t digits = 0;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      plain += text[i];
      ++digits;
    } else if (is_group(text[i]) && text[i] != f.decimal_separator) {
      // A separator stands only between two digits of the whole part.
      if (plain.empty() || !IsDigit(plain.back()) || i + 1 >= text.size() || !IsDigit(text[i + 1])) {
        return std::nullopt;
      }
    } else {
      break;
    }
  }
  if (i < text.size() && text[i] == f.decimal_separator) {
    plain += '.';
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      plain += text[i];
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) plain += text[i++];
    const std::size_t exponent_start = i;
    for (; i < text.size() && IsDigit(text[i]); ++i) plain += text[i];
    if (i == exponent_start) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;

  double value = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size()) return std::nullopt;
  return value;
}

}  // namespace tamaril::text
