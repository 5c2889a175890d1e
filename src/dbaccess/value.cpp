#include "dbaccess/value.h"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "dataset/date_codec.h"
#include "dbaccess/errors.h"
#include "text/ascii.h"

namespace tamaril::dbaccess {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads exactly `width` digits at `pos`.
std::optional<int> Digits(std::string_view text, std::size_t& pos, std::size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  pos += width;
  return value;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

[[noreturn]] void NotConvertible(const Value& value, std::string_view wanted) {
  throw DatabaseError(fmt::format("Value '{}' of kind {} cannot be read as {}", value.AsString(),
                                  ValueKindName(value.kind()), wanted));
}

}  // namespace

double DaysOf(const DateTime& value) {
  const auto day = static_cast<std::int32_t>(dataset::DayNumberFromCivil(value.year, value.month, value.day));
  const std::int32_t ms = ((value.hour * 60 + value.minute) * 60 + value.second) * 1000 + value.millisecond;
  return dataset::TimeStampToDateTime({day, ms});
}

std::string FormatDateTimeText(const DateTime& v) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", v.year, v.month, v.day, v.hour, v.minute,
                     v.second, v.millisecond);
}

std::optional<DateTime> ParseDateTimeText(std::string_view text) {
  text = text::TrimBlanks(text);
  std::size_t pos = 0;
  DateTime v;
  const auto year = Digits(text, pos, 4);
  if (!year) return std::nullopt;
  const char separator = pos < text.size() ? text[pos] : '\0';
  if (separator != '-' && separator != '/') return std::nullopt;
  ++pos;
  const auto month = Digits(text, pos, 2);
  if (!month || !Expect(text, pos, separator)) return std::nullopt;
  const auto day = Digits(text, pos, 2);
  if (!day) return std::nullopt;
  v.year = *year;
  v.month = *month;
  v.day = *day;
  if (v.month < 1 || v.month > 12 || v.day < 1 || v.day > DaysInMonth(v.year, v.month)) return std::nullopt;
  if (pos == text.size()) {
    v.hour = v.minute = v.second = v.millisecond = 0;
    return v;
  }
  if (!Expect(text, pos, ' ') && !Expect(text, pos, 'T')) return std::nullopt;
  const auto hour = Digits(text, pos, 2);
  if (!hour || !Expect(text, pos, ':')) return std::nullopt;
  const auto minute = Digits(text, pos, 2);
  if (!minute) return std::nullopt;
  v.hour = *hour;
  v.minute = *minute;
  v.second = 0;
  v.millisecond = 0;
  if (Expect(text, pos, ':')) {
    const auto second = Digits(text, pos, 2);
    if (!second) return std::nullopt;
    v.second = *second;
    if (Expect(text, pos, '.')) {
      // Up to nine fraction digits; milliseconds are kept, the rest is cut off.
      int scale = 100;
      std::size_t count = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && count < 9) {
        v.millisecond += (text[pos] - '0') * scale;
        scale /= 10;
        ++pos;
        ++count;
      }
      if (count == 0) return std::nullopt;
    }
  }
  if (pos != text.size()) return std::nullopt;
  if (v.hour > 23 || v.minute > 59 || v.second > 59) return std::nullopt;
  return v;
}

std::optional<std::string> NormalizeGuidText(std::string_view text) {
  // Each byte's upper-case hexadecimal digit, 0 for a byte that is none.
  static constexpr std::array<char, 256> kHexDigit = [] {
    std::array<char, 256> digits{};
    for (char c = '0'; c <= '9'; ++c) digits[static_cast<unsigned char>(c)] = c;
    for (char c = 'A'; c <= 'F'; ++c) {
      digits[static_cast<unsigned char>(c)] = c;
      digits[static_cast<unsigned char>(c - 'A' + 'a')] = c;
    }
    return digits;
  }();
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    return std::nullopt;
  std::string result(38, '-');
  result[0] = '{';
  result[37] = '}';
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    const char digit = kHexDigit[static_cast<unsigned char>(text[i])];
    if (digit == 0) return std::nullopt;
    result[i + 1] = digit;
  }
  return result;
}

std::string_view ValueKindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Null: return "Null";
    case ValueKind::Text: return "Text";
    case ValueKind::Integer: return "Integer";
    case ValueKind::Double: return "Double";
    case ValueKind::Boolean: return "Boolean";
    case ValueKind::DateTime: return "DateTime";
    case ValueKind::Guid: return "Guid";
    case ValueKind::Bytes: return "Bytes";
  }
  return "?";
}

std::string Value::AsString() const {
  switch (kind_) {
    case ValueKind::Null: return {};
    case ValueKind::Text:
    case ValueKind::Guid:
    case ValueKind::Bytes: return std::get<std::string>(storage_);
    case ValueKind::Integer: return std::to_string(std::get<std::int64_t>(storage_));
    case ValueKind::Double: return fmt::format("{}", std::get<double>(storage_));
    case ValueKind::Boolean: return std::get<bool>(storage_) ? "1" : "0";
    case ValueKind::DateTime: return FormatDateTimeText(std::get<DateTime>(storage_));
  }
  return {};
}

std::int64_t Value::AsInteger() const {
  switch (kind_) {
    case ValueKind::Null: return 0;
    case ValueKind::Integer: return std::get<std::int64_t>(storage_);
    case ValueKind::Boolean: return std::get<bool>(storage_) ? 1 : 0;
    case ValueKind::Double: {
      const double d = std::get<double>(storage_);
      if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18) {
        NotConvertible(*this, "integer");
      }
      return static_cast<std::int64_t>(d);
    }
    case ValueKind::Text: {
      const std::string_view text = text::TrimBlanks(std::get<std::string>(storage_));
      std::int64_t result = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
      if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return result;
      NotConvertible(*this, "integer");
    }
    default: NotConvertible(*this, "integer");
  }
}

double Value::AsDouble() const {
  switch (kind_) {
    case ValueKind::Null: return 0.0;
    case ValueKind::Double: return std::get<double>(storage_);
    case ValueKind::Integer: return static_cast<double>(std::get<std::int64_t>(storage_));
    case ValueKind::Boolean: return std::get<bool>(storage_) ? 1.0 : 0.0;
    case ValueKind::Text: {
      const std::string_view text = text::TrimBlanks(std::get<std::string>(storage_));
      double result = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
      if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return result;
      NotConvertible(*this, "number");
    }
    default: NotConvertible(*this, "number");
  }
}

bool Value::AsBoolean() const {
  switch (kind_) {
    case ValueKind::Null: return false;
    case ValueKind::Boolean: return std::get<bool>(storage_);
    case ValueKind::Integer: return std::get<std::int64_t>(storage_) != 0;
    case ValueKind::Double: return std::get<double>(storage_) != 0.0;
    case ValueKind::Text: {
      const std::string_view text = text::TrimBlanks(std::get<std::string>(storage_));
      if (text.empty()) return false;
      const char first = text::UpperAscii(text.front());
      if (first == 'T' || first == 'Y') return true;
      if (first == 'F' || first == 'N') return false;
      return AsDouble() != 0.0;
    }
    default: NotConvertible(*this, "boolean");
  }
}

DateTime Value::AsDateTime() const {
  switch (kind_) {
    case ValueKind::Null: return {};
    case ValueKind::DateTime: return std::get<DateTime>(storage_);
    case ValueKind::Text:
      if (auto parsed = ParseDateTimeText(std::get<std::string>(storage_))) return *parsed;
      NotConvertible(*this, "date-time");
    default: NotConvertible(*this, "date-time");
  }
}

}  // namespace tamaril::dbaccess
