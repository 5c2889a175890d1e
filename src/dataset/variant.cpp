#include "dataset/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "dataset/date_codec.h"
#include "dataset/errors.h"
#include "text/ascii.h"
#include "text/locale.h"

namespace tamaril::dataset {
namespace {

constexpr std::int64_t kCurrencyScale = 10000;

const char* KindName(Variant::Kind kind) {
  switch (kind) {
    case Variant::Kind::Empty: return "Empty";
    case Variant::Kind::Null: return "Null";
    case Variant::Kind::Integer: return "Int64";
    case Variant::Kind::Double: return "Double";
    case Variant::Kind::Currency: return "Currency";
    case Variant::Kind::Boolean: return "Boolean";
    case Variant::Kind::String: return "String";
    case Variant::Kind::DateTime: return "Date";
    case Variant::Kind::Bytes: return "Array Byte";
    case Variant::Kind::Array: return "Array Variant";
  }
  return "Unknown";
}

[[noreturn]] void ThrowCannotConvert(Variant::Kind from, const char* to) {
  throw DatasetError(std::string("Could not convert variant of type (") + KindName(from) + ") into type (" +
                     to + ")");
}

/// Rounds half to even into a 64-bit integer; nullopt when out of range or not a number.
std::optional<std::int64_t> RoundToInt64(double value) {
  const double rounded = std::nearbyint(value);
  if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(rounded);
}

std::optional<std::int64_t> ParseDecimalInteger(std::string_view text) {
  text = text::TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

/// A number written with the locale's separators, as the platform's variant conversion reads it.
std::optional<double> ParseNumber(std::string_view text) {
  if (const auto integer = ParseDecimalInteger(text)) return static_cast<double>(*integer);
  return text::ParseLocaleFloat(text::TrimBlanks(text));
}

/// A double as the platform writes it: up to 15 significant digits, the locale's separator.
std::string FormatDouble(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string result;
  const char separator = text::CurrentFormats().decimal_separator;
  for (const char* p = buffer; *p != '\0'; ++p) {
    if (*p == '.') {
      result += separator;
    } else if (*p == 'E') {
      result += 'E';
      if (p[1] == '+') ++p;
      if (p[1] == '-') result += *++p;
      while (p[1] == '0' && p[2] != '\0') ++p;
    } else {
      result += *p;
    }
  }
  return result;
}

std::string FormatCurrencyScaled(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(scaled) + 1 : static_cast<std::uint64_t>(scaled);
  std::string result = (negative ? "-" : "") + std::to_string(magnitude / kCurrencyScale);
  std::string decimals = std::to_string(magnitude % kCurrencyScale + kCurrencyScale).substr(1);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
  if (!decimals.empty()) result += text::CurrentFormats().decimal_separator + decimals;
  return result;
}

std::string FormatDateTime(double days) {
  const TimeStamp stamp = DateTimeToTimeStamp(days);
  const CivilDate date = CivilFromDayNumber(stamp.date);
  try {
    std::string result = text::FormatDate(static_cast<int>(date.year), date.month, date.day);
    const int seconds = stamp.time / 1000;
    if (seconds != 0) result += ' ' + text::FormatTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
    return result;
  } catch (const text::LocaleError& error) {
    throw DatasetError(error.what());
  }
}

/// Reads a date in the order of the short date picture, optionally followed by a time of day
/// (hours:minutes[:seconds[.milliseconds]]).
std::optional<double> ParseDateTime(std::string_view input) {
  input = text::TrimBlanks(input);
  std::size_t time_start = input.size();
  if (const std::size_t colon = input.find(':'); colon != std::string_view::npos) {
    time_start = colon;
    while (time_start > 0 && input[time_start - 1] >= '0' && input[time_start - 1] <= '9') --time_start;
  }
  auto numbers_of = [](std::string_view part) {
    std::vector<long long> numbers;
    for (std::size_t i = 0; i < part.size();) {
      if (part[i] < '0' || part[i] > '9') {
        ++i;
        continue;
      }
      long long value = 0;
      const auto [end, error] = std::from_chars(part.data() + i, part.data() + part.size(), value);
      if (error != std::errc()) return std::vector<long long>{};
      numbers.push_back(value);
      i = static_cast<std::size_t>(end - part.data());
    }
    return numbers;
  };
  const std::vector<long long> date_numbers = numbers_of(input.substr(0, time_start));
  const std::vector<long long> time_numbers = numbers_of(input.substr(time_start));
  double days = 0;
  if (!date_numbers.empty()) {
    if (date_numbers.size() != 3) return std::nullopt;
    std::string order;
    bool quoted = false;
    for (const char c : text::CurrentFormats().short_date_format) {
      if (c == '\'') quoted = !quoted;
      const char lower = static_cast<char>(c == 'M' ? 'm' : c);
      if (!quoted && (lower == 'd' || lower == 'm' || lower == 'y') &&
          order.find(lower) == std::string::npos) {
        order += lower;
      }
    }
    if (order.size() != 3) order = "dmy";
    long long year = date_numbers[order.find('y')];
    const long long month = date_numbers[order.find('m')];
    const long long day = date_numbers[order.find('d')];
    if (year < 100) year += year < 50 ? 2000 : 1900;
    if (month < 1 || month > 12 || day < 1 || year > 9999) return std::nullopt;
    const std::int64_t number = DayNumberFromCivil(year, static_cast<int>(month), static_cast<int>(day));
    if (CivilFromDayNumber(number).day != day) return std::nullopt;
    days = static_cast<double>(number - kDayNumberOf30Dec1899);
  } else if (time_numbers.empty()) {
    return std::nullopt;
  }
  if (!time_numbers.empty()) {
    if (time_numbers.size() > 4 || time_numbers[0] > 23 || time_numbers.size() < 2 || time_numbers[1] > 59 ||
        (time_numbers.size() > 2 && time_numbers[2] > 59) ||
        (time_numbers.size() > 3 && time_numbers[3] > 999)) {
      return std::nullopt;
    }
    const long long ms =
        ((time_numbers[0] * 60 + time_numbers[1]) * 60 + (time_numbers.size() > 2 ? time_numbers[2] : 0)) *
            1000 +
        (time_numbers.size() > 3 ? time_numbers[3] : 0);
    const double fraction = static_cast<double>(ms) / kMillisecondsPerDay;
    days = days < 0 ? days - fraction : days + fraction;
  }
  return days;
}

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.kind_ = Kind::Null;
  return v;
}

Variant Variant::Integer(std::int64_t value) {
  Variant v;
  v.kind_ = Kind::Integer;
  v.integer_ = value;
  return v;
}

Variant Variant::Double(double value) {
  Variant v;
  v.kind_ = Kind::Double;
  v.number_ = value;
  return v;
}

Variant Variant::Currency(double value) {
  const auto scaled = RoundToInt64(value * kCurrencyScale);
  if (!scaled) throw DatasetError("Floating point value out of the currency range");
  return CurrencyScaled(*scaled);
}

Variant Variant::CurrencyScaled(std::int64_t scaled) {
  Variant v;
  v.kind_ = Kind::Currency;
  v.integer_ = scaled;
  return v;
}

Variant Variant::Boolean(bool value) {
  Variant v;
  v.kind_ = Kind::Boolean;
  v.integer_ = value ? 1 : 0;
  return v;
}

Variant Variant::String(std::string ansi) {
  Variant v;
  v.kind_ = Kind::String;
  v.text_ = std::move(ansi);
  return v;
}

Variant Variant::DateTime(double days) {
  Variant v;
  v.kind_ = Kind::DateTime;
  v.number_ = days;
  return v;
}

Variant Variant::Bytes(std::string bytes) {
  Variant v;
  v.kind_ = Kind::Bytes;
  v.text_ = std::move(bytes);
  return v;
}

Variant Variant::Array(std::vector<Variant> items) {
  Variant v;
  v.kind_ = Kind::Array;
  v.items_ = std::move(items);
  return v;
}

std::string Variant::AsString() const {
  switch (kind_) {
    case Kind::Empty:
    case Kind::Null: return {};
    case Kind::Integer: return std::to_string(integer_);
    case Kind::Double: return FormatDouble(number_);
    case Kind::Currency: return FormatCurrencyScaled(integer_);
    case Kind::Boolean: return integer_ != 0 ? "True" : "False";
    case Kind::String: return text_;
    case Kind::DateTime: return FormatDateTime(number_);
    case Kind::Bytes:
    case Kind::Array: break;
  }
  ThrowCannotConvert(kind_, "String");
}

std::int64_t Variant::AsInteger() const {
  std::optional<std::int64_t> result;
  switch (kind_) {
    case Kind::Empty: return 0;
    case Kind::Integer: return integer_;
    case Kind::Boolean: return integer_ != 0 ? -1 : 0;
    case Kind::Currency: result = RoundToInt64(static_cast<double>(integer_) / kCurrencyScale); break;
    case Kind::Double:
    case Kind::DateTime: result = RoundToInt64(number_); break;
    case Kind::String:
      result = ParseDecimalInteger(text_);
      if (!result) {
        if (const auto number = ParseNumber(text_)) result = RoundToInt64(*number);
      }
      break;
    default: break;
  }
  if (!result) ThrowCannotConvert(kind_, "Int64");
  return *result;
}

double Variant::AsDouble() const {
  switch (kind_) {
    case Kind::Empty: return 0;
    case Kind::Integer: return static_cast<double>(integer_);
    case Kind::Boolean: return integer_ != 0 ? -1 : 0;
    case Kind::Currency: return static_cast<double>(integer_) / kCurrencyScale;
    case Kind::Double:
    case Kind::DateTime: return number_;
    case Kind::String:
      if (const auto number = ParseNumber(text_)) return *number;
      break;
    default: break;
  }
  ThrowCannotConvert(kind_, "Double");
}

std::int64_t Variant::AsCurrencyScaled() const {
  switch (kind_) {
    case Kind::Currency: return integer_;
    case Kind::Integer:
      if (integer_ <= std::numeric_limits<std::int64_t>::max() / kCurrencyScale &&
          integer_ >= std::numeric_limits<std::int64_t>::min() / kCurrencyScale) {
        return integer_ * kCurrencyScale;
      }
      break;
    case Kind::Empty:
    case Kind::Boolean:
    case Kind::Double:
    case Kind::DateTime:
    case Kind::String:
      if (const auto scaled = RoundToInt64(AsDouble() * kCurrencyScale)) return *scaled;
      break;
    default: break;
  }
  ThrowCannotConvert(kind_, "Currency");
}

bool Variant::AsBoolean() const {
  switch (kind_) {
    case Kind::Empty: return false;
    case Kind::Integer:
    case Kind::Currency:
    case Kind::Boolean: return integer_ != 0;
    case Kind::Double:
    case Kind::DateTime: return number_ != 0;
    case Kind::String:
      if (text::EqualsIgnoreCaseAscii(text::TrimBlanks(text_), "True")) return true;
      if (text::EqualsIgnoreCaseAscii(text::TrimBlanks(text_), "False")) return false;
      if (const auto number = ParseNumber(text_)) return *number != 0;
      break;
    default: break;
  }
  ThrowCannotConvert(kind_, "Boolean");
}

double Variant::AsDateTime() const {
  switch (kind_) {
    case Kind::String:
      if (const auto days = ParseDateTime(text_)) return *days;
      throw DatasetError("'" + text_ + "' is not a valid date and time");
    case Kind::Bytes:
    case Kind::Array:
    case Kind::Null: ThrowCannotConvert(kind_, "Date");
    default: return AsDouble();
  }
}

const std::string& Variant::AsBytes() const {
  if (kind_ != Kind::Bytes) throw DatasetError("Unsupported Variant Type");
  return text_;
}

const std::vector<Variant>& Variant::Items() const {
  if (kind_ != Kind::Array) ThrowCannotConvert(kind_, "Array Variant");
  return items_;
}

bool Variant::operator==(const Variant& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Empty:
    case Kind::Null: return true;
    case Kind::Integer:
    case Kind::Currency:
    case Kind::Boolean: return integer_ == other.integer_;
    case Kind::Double:
    case Kind::DateTime: return number_ == other.number_;
    case Kind::String:
    case Kind::Bytes: return text_ == other.text_;
    case Kind::Array: return items_ == other.items_;
  }
  return false;
}

}  // namespace tamaril::dataset
