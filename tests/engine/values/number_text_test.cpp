#include "engine/values/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/values/currency.h"

namespace strata {
namespace {

TEST(NumberTextTest, IntegerParsing) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> int32;
    std::optional<std::int64_t> int64;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"-17", -17, -17},
      {"+42", 42, 42},
      {"  7", 7, 7},
      {"007", 7, 7},
      {"2147483647", 2147483647, 2147483647},
      {"-2147483648", -2147483648LL, -2147483648LL},
      {"2147483648", std::nullopt, 2147483648LL},
      {"9223372036854775807", std::nullopt, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::nullopt, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt},
      {"7 ", std::nullopt, std::nullopt},
      {"1.5", std::nullopt, std::nullopt},
      {"abc", std::nullopt, std::nullopt},
      {"$1F", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto int32 = ParseInt32(c.text);
    const auto int64 = ParseInt64(c.text);
    EXPECT_EQ(int32 ? std::optional<std::int64_t>(*int32) : std::nullopt, c.int32) << c.text;
    EXPECT_EQ(int64, c.int64) << c.text;
  }
}

TEST(NumberTextTest, FloatTextIsGeneralWith15Digits) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0"},
      {12.5, "12,5"},
      {-2.9, "-2,9"},
      {0.1, "0,1"},
      {1.0 / 3.0, "0,333333333333333"},
      {0.0001, "0,0001"},
      {0.00001, "1E-5"},
      {1.5e-7, "1,5E-7"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {123456789012345678.0, "1,23456789012346E17"},
      {1e30, "1E30"},
      {-1e-300, "-1E-300"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FloatToText(value, ','), text) << text;
}

TEST(NumberTextTest, FloatParsing) {
  EXPECT_EQ(ParseFloat("12,5", ','), 12.5);
  EXPECT_EQ(ParseFloat(" -2.9 ", '.'), -2.9);
  EXPECT_EQ(ParseFloat("1E30", '.'), 1e30);
  EXPECT_EQ(ParseFloat("1.5e-7", '.'), 1.5e-7);
  EXPECT_EQ(ParseFloat("+.5", '.'), 0.5);
  EXPECT_EQ(ParseFloat("5.", '.'), 5.0);
  EXPECT_EQ(ParseFloat("1E-400", '.'), 0.0);
  EXPECT_EQ(ParseFloat("-inf", '.'), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(*ParseFloat("NaN", '.')));
  for (const char* bad : {"", ".", "-", "12.5", "1E", "1E+", "1,2,3", "1 2", "0x10", "1E400"}) {
    EXPECT_FALSE(ParseFloat(bad, ',')) << bad;
  }
}

TEST(NumberTextTest, EveryFloatTextReadsBack) {
  const double values[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           0.1,
                           1.0 / 3.0,
                           2.0 / 3.0,
                           12.5,
                           1e15,
                           1e-5,
                           123456.789e100,
                           std::numeric_limits<double>::max(),
                           -std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::epsilon(),
                           9007199254740993.0,
                           -4.4e-200};
  for (const char separator : {'.', ','}) {
    for (const double value : values) {
      const std::string text = FloatToText(value, separator);
      const auto back = ParseFloat(text, separator);
      ASSERT_TRUE(back) << text;
      EXPECT_NEAR(*back, value, std::fabs(value) * 1e-14) << text;
    }
  }
}

TEST(NumberTextTest, CurrencyParsingRoundsToFourDecimalsHalvesToEven) {
  struct Case {
    const char* text;
    std::optional<Currency> value;
  };
  const Case cases[] = {
      {"12,5", 125000},
      {"-0,0001", -1},
      {"0,00005", 0},
      {"0,00015", 2},
      {"0,000150001", 2},
      {"0,00025", 2},
      {"0,000251", 3},
      {"1E3", 10000000},
      {"2,5E-3", 25},
      {" 7 ", 70000},
      {"922337203685477,5807", std::numeric_limits<std::int64_t>::max()},
      {"-922337203685477,5808", std::numeric_limits<std::int64_t>::min()},
      {"922337203685477,5808", std::nullopt},
      {"1E30", std::nullopt},
      {"12.5", std::nullopt},
      {"", std::nullopt},
      {"INF", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCurrency(c.text, ','), c.value) << c.text;
}

TEST(NumberTextTest, CurrencyTextIsShortest) {
  EXPECT_EQ(CurrencyToText(125000, ','), "12,5");
  EXPECT_EQ(CurrencyToText(1000000, '.'), "100");
  EXPECT_EQ(CurrencyToText(-1, '.'), "-0.0001");
  EXPECT_EQ(CurrencyToText(0, '.'), "0");
  EXPECT_EQ(CurrencyToText(std::numeric_limits<std::int64_t>::min(), '.'), "-922337203685477.5808");
}

TEST(NumberTextTest, CurrencyFromNumbers) {
  EXPECT_EQ(FloatToCurrency(12.5), 125000);
  EXPECT_EQ(FloatToCurrency(0.00005), 0);    // half to even
  EXPECT_EQ(FloatToCurrency(-0.00025), -2);  // half to even
  EXPECT_EQ(FloatToCurrency(0.00035), 4);
  EXPECT_EQ(FloatToCurrency(1e30), std::nullopt);
  EXPECT_EQ(FloatToCurrency(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
  EXPECT_EQ(IntegerToCurrency(-3), -30000);
  EXPECT_EQ(IntegerToCurrency(std::numeric_limits<std::int64_t>::max() / 1000), std::nullopt);
}

}  // namespace
}  // namespace strata
