#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamaril::dataset {

// Date-time encodings of record buffers. A date-time value is a double of days since
// 30 December 1899 with the time of day as the fraction (for days before that date the
// fraction still counts forward from midnight: -1.25 is 29 December 1899 6:00). Record slots
// hold day numbers (1 January 0001 = 1) and milliseconds since midnight.

inline constexpr std::int32_t kDayNumberOf30Dec1899 = 693594;
inline constexpr std::int64_t kMillisecondsPerDay = 86400000;

/// A date-time split into day number and milliseconds of the day.
struct TimeStamp {
  std::int32_t date = 0;  ///< day number, 1 January 0001 = 1
  std::int32_t time = 0;  ///< milliseconds since midnight, 0 .. 86 399 999
};

/// Splits a date-time rounded to whole milliseconds; throws DatasetError for NaN, infinity or a
/// day number beyond 32 bits.
TimeStamp DateTimeToTimeStamp(double days);
/// The date-time of a day number and milliseconds of the day.
double TimeStampToDateTime(TimeStamp stamp);

/// A day of the proleptic Gregorian calendar.
struct CivilDate {
  std::int64_t year = 1;
  int month = 1;
  int day = 1;
};
/// The calendar date of a day number (1 January 0001 = 1).
CivilDate CivilFromDayNumber(std::int64_t day_number);
/// The day number of a calendar date (month and day may run over; 1 January 0001 = 1).
std::int64_t DayNumberFromCivil(std::int64_t year, int month, int day);

/// "YYYY-MM-DD" of a day number.
std::string IsoDateText(std::int64_t day_number);
/// "HH:MM:SS.mmm" of milliseconds since midnight.
std::string IsoTimeText(std::int64_t ms);
/// "YYYY-MM-DDTHH:MM:SS.mmm" of a time stamp.
std::string IsoDateTimeText(TimeStamp stamp);

/// "HH:MM:SS[.mmm]" as a fraction of a day; nothing when the text has another form or a part
/// is out of range.
std::optional<double> ParseIsoTimeOfDay(std::string_view text);
/// "YYYY-MM-DD[THH:MM:SS[.mmm]]" as a date-time; nothing when the text has another form or
/// names no calendar day or time.
std::optional<double> ParseIsoDateTime(std::string_view text);

}  // namespace tamaril::dataset
