#include "engine/values/date_time.h"

#include <gtest/gtest.h>

#include <limits>

namespace strata {
namespace {

TEST(DateTimeTest, EveryDayNumberDecodesAndEncodesBack) {
  CalendarDate previous{0, 12, 31};
  for (std::int32_t day = 1; day <= kMaxDayNumber; ++day) {
    const auto date = DecodeDayNumber(day);
    ASSERT_TRUE(date) << day;
    // Consecutive days step through the calendar one day at a time.
    const bool nextDay = date->year == previous.year && date->month == previous.month &&
                         date->day == previous.day + 1;
    const bool nextMonth = date->year == previous.year && date->month == previous.month + 1 &&
                           date->day == 1 &&
                           previous.day == DaysInMonth(previous.year, previous.month);
    const bool nextYear = date->year == previous.year + 1 && date->month == 1 && date->day == 1 &&
                          previous.month == 12 && previous.day == 31;
    ASSERT_TRUE(nextDay || nextMonth || nextYear) << day;
    ASSERT_EQ(DateTimeToDayNumber(*EncodeDate(date->year, date->month, date->day)), day);
    previous = *date;
  }
  EXPECT_EQ(previous, (CalendarDate{9999, 12, 31}));
  EXPECT_FALSE(DecodeDayNumber(0));
  EXPECT_FALSE(DecodeDayNumber(kMaxDayNumber + 1));
}

TEST(DateTimeTest, CalendarRulesAndInvalidParts) {
  EXPECT_TRUE(EncodeDate(2000, 2, 29));
  EXPECT_TRUE(EncodeDate(2024, 2, 29));
  EXPECT_FALSE(EncodeDate(1900, 2, 29));
  EXPECT_FALSE(EncodeDate(2023, 2, 29));
  EXPECT_FALSE(EncodeDate(0, 1, 1));
  EXPECT_FALSE(EncodeDate(10000, 1, 1));
  EXPECT_FALSE(EncodeDate(2024, 13, 1));
  EXPECT_FALSE(EncodeDate(2024, 4, 31));
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0));
  EXPECT_FALSE(EncodeTime(0, 60, 0, 0));
  EXPECT_FALSE(EncodeTime(0, 0, 60, 0));
  EXPECT_FALSE(EncodeTime(0, 0, 0, 1000));
  EXPECT_FALSE(EncodeTime(-1, 0, 0, 0));
}

TEST(DateTimeTest, StoredEncodings) {
  EXPECT_EQ(*EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(DateTimeToDayNumber(*EncodeDate(1899, 12, 30)), 693594);
  EXPECT_EQ(DateTimeToDayNumber(*EncodeDate(1, 1, 1)), 1);
  EXPECT_EQ(DateTimeToTimeMilliseconds(*EncodeTime(12, 0, 0, 0)), 43200000);
  EXPECT_EQ(DateTimeToTimeMilliseconds(*EncodeTime(9, 5, 30, 7)), 32730007);

  const double moment = *EncodeDate(2024, 3, 7) + *EncodeTime(9, 5, 30, 250);
  const double stored = DateTimeToTimestampMilliseconds(moment);
  EXPECT_EQ(stored, static_cast<double>(DateTimeToDayNumber(moment)) * 86400000 + 32730250);
  EXPECT_EQ(*TimestampMillisecondsToDateTime(stored), moment);
  EXPECT_FALSE(TimestampMillisecondsToDateTime(1e300));
}

TEST(DateTimeTest, DaysBefore18991230KeepTheirTimeOfDay) {
  // Before 1899-12-30 the fraction counts forward from midnight although the
  // value is negative; a plain sum would land on the wrong day and hour.
  const double moment = CombineDateAndTime(*EncodeDate(1850, 1, 1), *EncodeTime(10, 0, 0, 0));
  const auto split = SplitDateTime(moment);
  ASSERT_TRUE(split);
  EXPECT_EQ(*DecodeDayNumber(split->dayNumber), (CalendarDate{1850, 1, 1}));
  EXPECT_EQ(split->milliseconds, 36000000);
  EXPECT_EQ(*TimestampMillisecondsToDateTime(DateTimeToTimestampMilliseconds(moment)), moment);
}

TEST(DateTimeTest, TimeRoundingUpToMidnightCarriesIntoTheNextDay) {
  const auto split = SplitDateTime(*EncodeDate(2024, 3, 7) + 0.9999999999);
  ASSERT_TRUE(split);
  EXPECT_EQ(*DecodeDayNumber(split->dayNumber), (CalendarDate{2024, 3, 8}));
  EXPECT_EQ(split->milliseconds, 0);
  EXPECT_FALSE(SplitDateTime(std::numeric_limits<double>::quiet_NaN()));
}

}  // namespace
}  // namespace strata
