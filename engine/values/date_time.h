// The date-time value and the stored encodings of dates, times and
// timestamps.
//
// A date-time value is a double whose integer part counts days since
// 1899-12-30 and whose fraction is the time of day. Before 1899-12-30 the
// integer part is negative and the fraction still counts forward from
// midnight (-1.25 is 1899-12-29 06:00), so dates and times are combined with
// CombineDateAndTime, never by a plain sum.
//
// Stored forms: a date is an int32 day number (0001-01-01 is 1; a value d has
// the day number trunc(d) + 693594), a time an int32 count of milliseconds
// since midnight, a timestamp a double count of milliseconds since
// 0001-01-01 00:00 (day number x 86 400 000 + milliseconds of the day).
#pragma once

#include <cstdint>
#include <optional>

namespace strata {

inline constexpr std::int32_t kDayNumberOf18991230 = 693594;
inline constexpr std::int32_t kMaxDayNumber = 3652059;  // 9999-12-31
inline constexpr std::int32_t kMillisecondsPerDay = 86400000;

struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const CalendarDate&) const = default;
};

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  bool operator==(const TimeOfDay&) const = default;
};

// A date-time value split into its day number and the milliseconds of its
// day (rounded, a full day carried into the next).
struct DayAndTime {
  std::int64_t dayNumber = 0;
  std::int32_t milliseconds = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Date-time values of a calendar date (year 1 to 9999) and of a time of day
// (0-23, 0-59, 0-59, 0-999); nullopt when a part is out of range.
std::optional<double> EncodeDate(int year, int month, int day);
std::optional<double> EncodeTime(int hour, int minute, int second, int millisecond);
double CombineDateAndTime(double date, double time);

// Calendar date of a day number; nullopt outside 1 .. kMaxDayNumber.
std::optional<CalendarDate> DecodeDayNumber(std::int64_t dayNumber);
// Time of day of a millisecond count; nullopt outside 0 .. one day - 1.
std::optional<TimeOfDay> DecodeMilliseconds(std::int64_t milliseconds);
// nullopt for values that are not finite or lie far outside any calendar.
std::optional<DayAndTime> SplitDateTime(double value);

// Stored encodings. Values are expected to lie within 0001-01-01 to
// 9999-12-31; anything else is clamped, never undefined.
std::int32_t DateTimeToDayNumber(double value);
double DayNumberToDateTime(std::int32_t dayNumber);
std::int32_t DateTimeToTimeMilliseconds(double value);
double TimeMillisecondsToDateTime(std::int32_t milliseconds);
double DateTimeToTimestampMilliseconds(double value);
// nullopt when the stored value is not finite or outside the 64-bit range.
std::optional<double> TimestampMillisecondsToDateTime(double milliseconds);

// The local date and time now.
double CurrentDateTime();

}  // namespace strata
