#include "engine/values/bcd.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <map>

namespace strata {
namespace {

using Image = std::array<std::uint8_t, kBcdSize>;

// An image from its two header bytes and the non-zero digit bytes by offset.
Image MakeImage(std::uint8_t precision, std::uint8_t signAndPlaces,
                const std::map<int, std::uint8_t>& bytes) {
  Image image{};
  image[0] = precision;
  image[1] = signAndPlaces;
  for (const auto& [offset, byte] : bytes) image[offset] = byte;
  return image;
}

TEST(BcdTest, WritesPrecision32WithTheDigitsRightAligned) {
  struct Case {
    Currency value;
    std::uint8_t decimals;
    Image expected;
  };
  const Case cases[] = {
      // 12.50: thirty integer digits ...0012 and the decimals 50 fill
      // nibbles 0-31; the point sits before nibble 30.
      {125000, 2, MakeImage(0x20, 0x02, {{16, 0x12}, {17, 0x50}})},
      {-125000, 2, MakeImage(0x20, 0x82, {{16, 0x12}, {17, 0x50}})},
      {10000, 0, MakeImage(0x20, 0x00, {{17, 0x01}})},
      {1, 6, MakeImage(0x20, 0x06, {{16, 0x01}})},  // 0.000100
      {std::numeric_limits<std::int64_t>::max(), 4,
       MakeImage(0x20, 0x04,
                 {{8, 0x09},
                  {9, 0x22},
                  {10, 0x33},
                  {11, 0x72},
                  {12, 0x03},
                  {13, 0x68},
                  {14, 0x54},
                  {15, 0x77},
                  {16, 0x58},
                  {17, 0x07}})},
      {1250, 2, MakeImage(0x20, 0x02, {{17, 0x12}})},  // 0.125 to two places: halves to even
      {1350, 2, MakeImage(0x20, 0x02, {{17, 0x14}})},
      {-1, 2, MakeImage(0x20, 0x02, {})},  // rounds to zero, which has no sign
      {0, 0, MakeImage(0x20, 0x00, {})},
  };
  for (const Case& c : cases) {
    Image image;
    image.fill(0xEE);
    ASSERT_TRUE(CurrencyToBcd(c.value, c.decimals, image)) << c.value;
    EXPECT_EQ(image, c.expected) << c.value;
  }
}

TEST(BcdTest, RefusesValuesThatDoNotFit) {
  Image image;
  image.fill(0xEE);
  EXPECT_FALSE(CurrencyToBcd(125000, 31, image));  // 12.5 needs 2 + 31 digits
  EXPECT_FALSE(CurrencyToBcd(0, 33, image));
  EXPECT_EQ(image[0], 0xEE);
  EXPECT_TRUE(CurrencyToBcd(5000, 32, image));  // 0.5 with 32 places
  EXPECT_EQ(image[2], 0x50);
}

TEST(BcdTest, ReadsImagesOfAnyPrecision) {
  struct Case {
    Image image;
    std::optional<Currency> value;
  };
  const Case cases[] = {
      {MakeImage(0x20, 0x02, {{16, 0x12}, {17, 0x50}}), 125000},
      {MakeImage(0x20, 0x82, {{16, 0x12}, {17, 0x50}}), -125000},
      {MakeImage(5, 3, {{2, 0x12}, {3, 0x34}, {4, 0x50}}), 123450},            // 12.345
      {MakeImage(7, 6, {{2, 0x12}, {3, 0x34}, {4, 0x56}, {5, 0x50}}), 12346},  // 1.234565
      {MakeImage(7, 6, {{2, 0x12}, {3, 0x34}, {4, 0x55}, {5, 0x00}}), 12346},  // 1.234550
      {MakeImage(7, 6, {{2, 0x12}, {3, 0x34}, {4, 0x45}, {5, 0x00}}), 12344},  // 1.234450
      {MakeImage(2, 10, {{2, 0x99}}), 0},                                      // 0.0000000099
      {MakeImage(0, 0x82, {{2, 0x99}}), 0},                                    // no precision
      {MakeImage(2, 0, {{2, 0x1A}}), std::nullopt},                            // not a digit
      {MakeImage(65, 0, {}), std::nullopt},
      {MakeImage(20, 0, {{2, 0x99}, {3, 0x99}, {4, 0x99}, {5, 0x99}}), std::nullopt},  // too big
  };
  for (const Case& c : cases) EXPECT_EQ(BcdToCurrency(c.image), c.value) << int(c.image[0]);
}

TEST(BcdTest, WrittenValuesReadBack) {
  const Currency values[] = {0,
                             1,
                             -1,
                             125000,
                             -987654321,
                             std::numeric_limits<std::int64_t>::max(),
                             std::numeric_limits<std::int64_t>::min()};
  for (const Currency value : values) {
    Image image;
    ASSERT_TRUE(CurrencyToBcd(value, 4, image));
    EXPECT_EQ(BcdToCurrency(image), value);
  }
}

TEST(BcdTest, KeyValuesKeepValuesBeyondTheCurrencyRangeApart) {
  constexpr Currency kMin = std::numeric_limits<Currency>::min();
  constexpr Currency kMax = std::numeric_limits<Currency>::max();
  // 10^20 has 21 digits: precision 21, a 1 in nibble 0 and twenty zeros.
  const Image huge = MakeImage(21, 0x00, {{2, 0x10}});
  const Image hugeNegative = MakeImage(21, 0x80, {{2, 0x10}});
  const struct {
    const char* what;
    Image image;
    Currency key;
  } cases[] = {
      {"10^20", huge, kMax},
      {"-10^20", hugeNegative, kMin},
      {"0", MakeImage(0x20, 0x00, {}), 0},
      {"12.5", MakeImage(0x20, 0x02, {{16, 0x12}, {17, 0x50}}), 125000},
      {"a damaged digit", MakeImage(2, 0, {{2, 0x1A}}), 0},
      {"a damaged precision", MakeImage(65, 0, {}), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(BcdKeyValue(c.image), c.key) << c.what;
}

}  // namespace
}  // namespace strata
