#include "engine/values/date_time.h"

#include <cmath>

#include "platform/process.h"

namespace strata {
namespace {

constexpr std::int64_t kDaysPer400Years = 146097;
constexpr std::int64_t kDaysPer100Years = 36524;
constexpr std::int64_t kDaysPer4Years = 1461;

// Well inside the range where a double converts to int64 without overflow.
constexpr double kSplitLimit = 1e15;

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<double> EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  std::int64_t days = day;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  const std::int64_t y = year - 1;
  days += y * 365 + y / 4 - y / 100 + y / 400;
  return static_cast<double>(days - kDayNumberOf18991230);
}

std::optional<double> EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return std::nullopt;
  }
  const std::int32_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / kMillisecondsPerDay;
}

double CombineDateAndTime(double date, double time) {
  return date >= 0 ? date + time : date - time;
}

std::optional<CalendarDate> DecodeDayNumber(std::int64_t dayNumber) {
  if (dayNumber < 1 || dayNumber > kMaxDayNumber) return std::nullopt;
  std::int64_t t = dayNumber - 1;
  std::int64_t year = 1 + 400 * (t / kDaysPer400Years);
  t %= kDaysPer400Years;
  std::int64_t centuries = t / kDaysPer100Years;
  t %= kDaysPer100Years;
  if (centuries == 4) {  // the last day of a 400-year cycle
    centuries = 3;
    t += kDaysPer100Years;
  }
  year += 100 * centuries;
  year += 4 * (t / kDaysPer4Years);
  t %= kDaysPer4Years;
  std::int64_t years = t / 365;
  t %= 365;
  if (years == 4) {  // the last day of a leap cycle
    years = 3;
    t += 365;
  }
  year += years;
  CalendarDate date;
  date.year = static_cast<int>(year);
  date.month = 1;
  while (t >= DaysInMonth(date.year, date.month)) {
    t -= DaysInMonth(date.year, date.month);
    ++date.month;
  }
  date.day = static_cast<int>(t) + 1;
  return date;
}

std::optional<TimeOfDay> DecodeMilliseconds(std::int64_t milliseconds) {
  if (milliseconds < 0 || milliseconds >= kMillisecondsPerDay) return std::nullopt;
  const int ms = static_cast<int>(milliseconds);
  return TimeOfDay{ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
}

std::optional<DayAndTime> SplitDateTime(double value) {
  if (!std::isfinite(value) || std::fabs(value) > kSplitLimit) return std::nullopt;
  const double whole = std::trunc(value);
  DayAndTime split;
  split.dayNumber = static_cast<std::int64_t>(whole) + kDayNumberOf18991230;
  const std::int64_t ms = std::llround(std::fabs(value - whole) * kMillisecondsPerDay);
  split.milliseconds = static_cast<std::int32_t>(ms);
  if (ms >= kMillisecondsPerDay) {  // rounds up to the next midnight
    split.milliseconds = 0;
    ++split.dayNumber;
  }
  return split;
}

std::int32_t DateTimeToDayNumber(double value) {
  if (std::isnan(value)) return 0;
  const double day = std::trunc(value) + kDayNumberOf18991230;
  if (day <= INT32_MIN) return INT32_MIN;
  if (day >= INT32_MAX) return INT32_MAX;
  return static_cast<std::int32_t>(day);
}

double DayNumberToDateTime(std::int32_t dayNumber) {
  return static_cast<double>(dayNumber) - kDayNumberOf18991230;
}

std::int32_t DateTimeToTimeMilliseconds(double value) {
  const auto split = SplitDateTime(value);
  return split ? split->milliseconds : 0;
}

double TimeMillisecondsToDateTime(std::int32_t milliseconds) {
  return static_cast<double>(milliseconds) / kMillisecondsPerDay;
}

double DateTimeToTimestampMilliseconds(double value) {
  const auto split = SplitDateTime(value);
  if (!split) return 0;
  return static_cast<double>(split->dayNumber) * kMillisecondsPerDay + split->milliseconds;
}

std::optional<double> TimestampMillisecondsToDateTime(double milliseconds) {
  if (!std::isfinite(milliseconds) || std::fabs(milliseconds) >= 9.2e18) return std::nullopt;
  const std::int64_t t = std::llround(milliseconds);
  const std::int64_t day = t / kMillisecondsPerDay;
  const std::int64_t ms = t % kMillisecondsPerDay;
  return CombineDateAndTime(static_cast<double>(day - kDayNumberOf18991230),
                            static_cast<double>(ms < 0 ? -ms : ms) / kMillisecondsPerDay);
}

double CurrentDateTime() {
  const platform::LocalDateTime now = platform::LocalNow();
  const double date = EncodeDate(now.year, now.month, now.day).value_or(0);
  const double time = EncodeTime(now.hour, now.minute, now.second, now.millisecond).value_or(0);
  return CombineDateAndTime(date, time);
}

}  // namespace strata
