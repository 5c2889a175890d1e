#include "dataset/date_codec.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "dataset/errors.h"

namespace tamaril::dataset {
namespace {

/// Day number of 1 January 1970, where the civil-date arithmetic counts from.
constexpr std::int64_t kDayNumberOfEpoch = 719163;

}  // namespace

TimeStamp DateTimeToTimeStamp(double days) {
  constexpr double kLimit = 2147483647.0 - kDayNumberOf30Dec1899 - 1;
  if (!std::isfinite(days) || days > kLimit || days < -kLimit) {
    throw DatasetError("Invalid date-time value");
  }
  double whole = std::trunc(days);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(days - whole) * kMillisecondsPerDay));
  if (ms >= kMillisecondsPerDay) {  // rounded up to the next midnight
    ms -= kMillisecondsPerDay;
    whole += days < 0 ? -1 : 1;
  }
  return TimeStamp{static_cast<std::int32_t>(whole) + kDayNumberOf30Dec1899, static_cast<std::int32_t>(ms)};
}

double TimeStampToDateTime(TimeStamp stamp) {
  const double days = static_cast<double>(stamp.date) - kDayNumberOf30Dec1899;
  const double fraction = static_cast<double>(stamp.time) / kMillisecondsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

// Civil-date arithmetic after H. Hinnant's days_from_civil / civil_from_days.
CivilDate CivilFromDayNumber(std::int64_t day_number) {
  const std::int64_t z = day_number - kDayNumberOfEpoch + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return CivilDate{yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t DayNumberFromCivil(std::int64_t year, int month, int day) {
  year += (month - 1) / 12;
  month = (month - 1) % 12 + 1;
  if (month <= 0) {
    month += 12;
    --year;
  }
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yoe = year - era * 400;
  const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kDayNumberOfEpoch;
}

std::string IsoDateText(std::int64_t day_number) {
  const CivilDate date = CivilFromDayNumber(day_number);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(date.year), date.month,
                date.day);
  return buffer;
}

std::string IsoTimeText(std::int64_t ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  return buffer;
}

std::string IsoDateTimeText(TimeStamp stamp) {
  return IsoDateText(stamp.date) + 'T' + IsoTimeText(stamp.time);
}

namespace {

// Reads exactly `width` decimal digits of `text` from `at` (no sign, no blank) as a number.
bool ReadDigits(std::string_view text, std::size_t& at, std::size_t width, int& value) {
  if (at + width > text.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  at += width;
  return true;
}

bool ReadChar(std::string_view text, std::size_t& at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<double> ParseIsoTimeOfDay(std::string_view text) {
  std::size_t at = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!ReadDigits(text, at, 2, hour) || !ReadChar(text, at, ':') || !ReadDigits(text, at, 2, minute) ||
      !ReadChar(text, at, ':') || !ReadDigits(text, at, 2, second)) {
    return std::nullopt;
  }
  if (at < text.size() && (!ReadChar(text, at, '.') || !ReadDigits(text, at, 3, millisecond)))
    return std::nullopt;
  if (at != text.size() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return ((hour * 60 + minute) * 60 + second + millisecond / 1000.0) / 86400.0;
}

std::optional<double> ParseIsoDateTime(std::string_view text) {
  std::size_t at = 0;
  int year = 0, month = 0, day = 0;
  if (!ReadDigits(text, at, 4, year) || !ReadChar(text, at, '-') || !ReadDigits(text, at, 2, month) ||
      !ReadChar(text, at, '-') || !ReadDigits(text, at, 2, day)) {
    return std::nullopt;
  }
  std::optional<double> time = 0.0;
  if (at < text.size()) time = text[at] == 'T' ? ParseIsoTimeOfDay(text.substr(at + 1)) : std::nullopt;
  if (!time || year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
  const std::int64_t day_number = DayNumberFromCivil(year, month, day);
  const CivilDate check = CivilFromDayNumber(day_number);
  if (check.month != month || check.day != day) return std::nullopt;
  return static_cast<double>(day_number - kDayNumberOf30Dec1899) + *time;
}

}  // namespace tamaril::dataset
