#include "engine/values/engine_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "engine/values/convert_error.h"
#include "engine/values/date_time.h"
#include "engine/values/decimal_separator.h"

namespace strata {
namespace {

// The message a reader raises, or "" when it returns.
template <typename Read>
std::string ErrorOf(Read read) {
  try {
    read();
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "";
}

double Date(int y, int m, int d) { return *EncodeDate(y, m, d); }
double Time(int h, int m, int s = 0, int ms = 0) { return *EncodeTime(h, m, s, ms); }

TEST(EngineTextTest, Writers) {
  EXPECT_EQ(DateToEngineText(Date(2024, 3, 7)), "2024-03-07");
  EXPECT_EQ(DateToEngineText(Date(1, 1, 1)), "0001-01-01");
  EXPECT_EQ(DateToEngineText(Date(2024, 3, 7) + Time(23, 59)), "2024-03-07");
  EXPECT_EQ(TimeToEngineText(Time(9, 5)), "09:05");
  EXPECT_EQ(TimeToEngineText(Time(9, 5, 0, 250)), "09:05");  // no seconds, no milliseconds
  EXPECT_EQ(TimeToEngineText(Time(9, 5, 30)), "09:05:30");
  EXPECT_EQ(TimeToEngineText(Time(9, 5, 30, 250)), "09:05:30.250");
  EXPECT_EQ(TimeToEngineText(Time(9, 5, 30, 7)), "09:05:30.7");
  EXPECT_EQ(TimeToEngineText(Date(2024, 3, 7) + Time(23, 0)), "23:00");
  EXPECT_EQ(TimestampToEngineText(Date(2024, 3, 7) + Time(9, 5)), "2024-03-07 09:05");
  EXPECT_EQ(TimestampToEngineText(CombineDateAndTime(Date(1850, 1, 1), Time(10, 0))),
            "1850-01-01 10:00");
  EXPECT_EQ(BooleanToEngineText(true), "True");
  EXPECT_EQ(BooleanToEngineText(false), "False");
  EXPECT_EQ(IntegerToEngineText(-42), "-42");

  EXPECT_NE(ErrorOf([] { DateToEngineText(Date(1, 1, 1) - 1); }), "");
  EXPECT_NE(ErrorOf([] { TimestampToEngineText(std::numeric_limits<double>::infinity()); }), "");
}

TEST(EngineTextTest, FloatTextUsesAPointWhateverTheSeparator) {
  const ScopedDecimalSeparator comma(',');
  EXPECT_EQ(FloatToEngineText(12.5), "12.5");
  EXPECT_EQ(FloatToEngineText(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(EngineTextToFloat("12.5"), 12.5);
  EXPECT_EQ(EngineTextToFloat("-1.5E-7"), -1.5e-7);
  EXPECT_EQ(EngineTextToCurrency("12.5"), 125000);
  EXPECT_EQ(ErrorOf([] { EngineTextToFloat("1.2x"); }),
            "'1.2x' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { EngineTextToCurrency("1E30"); }),
            "'1E30' is not a valid floating point value");
}

TEST(EngineTextTest, DateReader) {
  struct Case {
    const char* text;
    std::optional<double> expected;  // nullopt: the reader fails
  };
  const Case cases[] = {
      {"2024-03-07", Date(2024, 3, 7)},
      {"2024-3-7", Date(2024, 3, 7)},
      {"1-1-1", Date(1, 1, 1)},
      {"9999-12-31", Date(9999, 12, 31)},
      {"2024-02-29", Date(2024, 2, 29)},
      {"2023-02-29", std::nullopt},
      {"2024/03/07", std::nullopt},
      {"2024-03", std::nullopt},
      {"10000-01-01", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-03-07 10:00", std::nullopt},
      {"-2024-03-07", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.expected) {
      EXPECT_EQ(EngineTextToDate(c.text), *c.expected) << c.text;
    } else {
      EXPECT_EQ(ErrorOf([&] { EngineTextToDate(c.text); }),
                std::string("'") + c.text + "' is not a valid date");
    }
  }
}

TEST(EngineTextTest, TimeReader) {
  struct Case {
    const char* text;
    std::optional<double> expected;  // nullopt: the reader fails
  };
  const Case cases[] = {
      {"09:05", Time(9, 5)},
      {"9:5", Time(9, 5)},
      {"09:05:30", Time(9, 5, 30)},
      {"09:05:30.7", Time(9, 5, 30, 7)},
      {"10:20:30.5", Time(10, 20, 30, 5)},  // milliseconds, not a fraction
      {"09:05:30.250", Time(9, 5, 30, 250)},
      {" 23:59:59.999 ", Time(23, 59, 59, 999)},
      {"12:30 AM", Time(0, 30)},
      {"12:30 pm", Time(12, 30)},
      {"1:00 PM", Time(13, 0)},
      {"11:15am", Time(11, 15)},
      {"AM 12:00", Time(0, 0)},
      {"13:00 PM", std::nullopt},
      {"24:00", std::nullopt},
      {"10:60", std::nullopt},
      {"10:20:60", std::nullopt},
      {"10:20:30.1000", std::nullopt},
      {"10", std::nullopt},
      {"10:x", std::nullopt},
      {"10:20:", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.expected) {
      EXPECT_EQ(EngineTextToTime(c.text), *c.expected) << c.text;
    } else {
      EXPECT_EQ(ErrorOf([&] { EngineTextToTime(c.text); }),
                std::string("'") + c.text + "' is not a valid time");
    }
  }
  // What the writer writes, the reader reads.
  for (const double t : {Time(9, 5, 30, 7), Time(0, 0), Time(23, 59, 59, 999), Time(12, 0, 1)}) {
    EXPECT_EQ(EngineTextToTime(TimeToEngineText(t)), t);
  }
}

TEST(EngineTextTest, TimestampReader) {
  EXPECT_EQ(EngineTextToTimestamp("10:00"), Time(10, 0));  // on 1899-12-30
  EXPECT_EQ(EngineTextToTimestamp("2024-03-07"), Date(2024, 3, 7));
  EXPECT_EQ(EngineTextToTimestamp("2024-03-07 09:05:30.7"), Date(2024, 3, 7) + Time(9, 5, 30, 7));
  EXPECT_EQ(EngineTextToTimestamp("2024-3-7 1:00 PM"), Date(2024, 3, 7) + Time(13, 0));
  const double early = EngineTextToTimestamp("1850-01-01 10:00");
  EXPECT_EQ(TimestampToEngineText(early), "1850-01-01 10:00");
  for (const char* bad : {"2024-03-07 25:00", "2024/03/07 10:00", "2024-03-07T10:00", "noon", ""}) {
    EXPECT_EQ(ErrorOf([&] { EngineTextToTimestamp(bad); }),
              std::string("'") + bad + "' is not a valid date and time");
  }
}

TEST(EngineTextTest, BooleanReader) {
  EXPECT_TRUE(EngineTextToBoolean("true"));
  EXPECT_TRUE(EngineTextToBoolean("TrUe"));
  EXPECT_FALSE(EngineTextToBoolean("FALSE"));
  for (const char* bad : {"yes", "1", " true", ""}) {
    EXPECT_EQ(ErrorOf([&] { EngineTextToBoolean(bad); }),
              std::string("'") + bad + "' is not a valid boolean");
  }
}

TEST(EngineTextTest, IntegerReaders) {
  EXPECT_EQ(EngineTextToInteger("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(EngineTextToLargeint("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ErrorOf([] { EngineTextToInteger("2147483648"); }),
            "'2147483648' is not a valid integer value");
}

}  // namespace
}  // namespace strata
