#include "engine/values/field_conversion.h"

#include <gtest/gtest.h>

#include <limits>
#include <string_view>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/values/bcd.h"
#include "engine/values/date_time.h"
#include "engine/values/decimal_separator.h"
#include "engine/values/field_types.h"

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Str(std::string_view text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}
template <typename T, void (*Store)(std::uint8_t*, T)>
Bytes Encoded(T value) {
  Bytes bytes(sizeof(T));
  Store(bytes.data(), value);
  return bytes;
}
Bytes I16(std::int16_t v) { return Encoded<std::int16_t, StoreI16>(v); }
Bytes U16(std::uint16_t v) { return Encoded<std::uint16_t, StoreU16>(v); }
Bytes I32(std::int32_t v) { return Encoded<std::int32_t, StoreI32>(v); }
Bytes I64(std::int64_t v) { return Encoded<std::int64_t, StoreI64>(v); }
Bytes F64(double v) { return Encoded<double, StoreF64>(v); }
Bytes Bcd(Currency value, std::uint8_t decimals) {
  Bytes bytes(kBcdSize);
  EXPECT_TRUE(
      CurrencyToBcd(value, decimals, std::span<std::uint8_t, kBcdSize>(bytes.data(), kBcdSize)));
  return bytes;
}
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

std::int32_t DayNumber(int y, int m, int d) { return DateTimeToDayNumber(*EncodeDate(y, m, d)); }
constexpr double kMsPerDay = 86400000.0;

const std::int32_t kMarch7 = DayNumber(2024, 3, 7);
const double kZeroTimestamp = 693594 * kMsPerDay;  // 1899-12-30 00:00

struct Case {
  const char* name;
  std::uint8_t oldType;
  std::uint16_t oldSize;
  Bytes input;
  std::uint8_t newDecimals;
  std::uint16_t newSize;
  std::uint8_t newType;
  bool ok;
  Bytes expected;  // the buffer's first bytes afterwards
};

// Every case runs on a system whose decimal separator is ",".
class FieldConversionTest : public ::testing::Test {
 protected:
  // Runs a case on a 300-byte buffer: the input, zeros up to the old size,
  // then 0xCC filler.
  static Bytes Run(const Case& c, bool& ok) {
    Bytes buffer(300, 0xCC);
    std::fill_n(buffer.begin(), c.oldSize, std::uint8_t{0});
    std::copy(c.input.begin(), c.input.end(), buffer.begin());
    ok = ConvertFieldValue(c.oldType, c.oldSize, buffer, c.newDecimals, c.newSize, c.newType);
    return buffer;
  }

  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      bool ok = false;
      const Bytes buffer = Run(c, ok);
      EXPECT_EQ(ok, c.ok) << c.name;
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.expected.size()), c.expected) << c.name;
    }
  }

  ScopedDecimalSeparator comma_{','};
};

TEST_F(FieldConversionTest, SameType) {
  Check({
      {"string cut", kTypeString, 21, Str("abcdefghijklmnopqrst"), 0, 6, kTypeString, true,
       Str("abcde")},
      {"string grown", kTypeString, 6, Str("abcde"), 0, 21, kTypeString, true, Str("abcde")},
      {"bcd decimals", kTypeBcd, 34, Bcd(125000, 2), 4, 34, kTypeBcd, true, Bcd(125000, 2)},
      {"bytes cut",
       kTypeBytes,
       10,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       0,
       4,
       kTypeBytes,
       true,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
  });
}

TEST_F(FieldConversionTest, FromString) {
  Check({
      {"date", kTypeString, 21, Str("2024-3-7"), 0, 4, kTypeDate, true, I32(kMarch7)},
      {"bad date", kTypeString, 21, Str("2024/03/07"), 0, 4, kTypeDate, false, I32(693594)},
      {"time", kTypeString, 21, Str("09:05:30.7"), 0, 4, kTypeTime, true, I32(32730007)},
      {"bad time", kTypeString, 21, Str("13:00 PM"), 0, 4, kTypeTime, false, I32(0)},
      {"timestamp", kTypeString, 21, Str("2024-03-07 09:05"), 0, 8, kTypeTimestamp, true,
       F64(kMarch7 * kMsPerDay + 32700000)},
      {"bad timestamp", kTypeString, 21, Str("noon"), 0, 8, kTypeTimestamp, false,
       F64(kZeroTimestamp)},
      {"boolean", kTypeString, 21, Str("tRuE"), 0, 2, kTypeBoolean, true, U16(1)},
      {"bad boolean", kTypeString, 21, Str("yes"), 0, 2, kTypeBoolean, false, U16(0)},
      {"smallint low bits", kTypeString, 21, Str("70000"), 0, 2, kTypeSmallint, true, I16(4464)},
      {"word low bits", kTypeString, 21, Str("-1"), 0, 2, kTypeWord, true, U16(65535)},
      {"smallint beyond 32 bits", kTypeString, 21, Str("4294967296"), 0, 2, kTypeSmallint, false,
       I16(0)},
      {"integer", kTypeString, 21, Str("-2147483648"), 0, 4, kTypeInteger, true,
       I32(std::numeric_limits<std::int32_t>::min())},
      {"bad integer", kTypeString, 21, Str("abc"), 0, 4, kTypeInteger, false, I32(0)},
      {"largeint", kTypeString, 21, Str("9223372036854775807"), 0, 8, kTypeLargeint, true,
       I64(std::numeric_limits<std::int64_t>::max())},
      {"float with point", kTypeString, 21, Str("12.5"), 0, 8, kTypeFloat, true, F64(12.5)},
      {"float with comma", kTypeString, 21, Str("1,5E3"), 0, 8, kTypeFloat, true, F64(1500)},
      {"bad float", kTypeString, 21, Str("1.5.5"), 0, 8, kTypeFloat, false, F64(0)},
      {"bcd with the system separator", kTypeString, 21, Str("12,5"), 2, 34, kTypeBcd, true,
       Bcd(125000, 2)},
      {"bcd with a point", kTypeString, 21, Str("12.5"), 2, 34, kTypeBcd, false, Bcd(0, 2)},
      {"bcd too many digits", kTypeString, 21, Str("123"), 31, 34, kTypeBcd, false, Bcd(0, 31)},
      // The bytes after the terminating zero become zeros up to the smaller
      // length; those beyond it stay.
      {"bytes",
       kTypeString,
       6,
       {'a', 'b', 0, 'x', 'y', 'z'},
       0,
       5,
       kTypeBytes,
       true,
       {'a', 'b', 0, 0, 0, 'z', 0xCC}},
      {"blob", kTypeString, 21, Str("abc"), 0, 8, kTypeBlob, false, Zeros(8)},
  });
}

TEST_F(FieldConversionTest, FromDateTimeAndTimestamp) {
  const double march7At0905 = kMarch7 * kMsPerDay + 32700000;
  Check({
      {"date to string", kTypeDate, 4, I32(kMarch7), 0, 11, kTypeString, true, Str("2024-03-07")},
      {"invalid date to string", kTypeDate, 4, I32(0), 0, 11, kTypeString, false, Zeros(11)},
      {"date to timestamp", kTypeDate, 4, I32(kMarch7), 0, 8, kTypeTimestamp, true,
       F64(kMarch7 * kMsPerDay)},
      {"date to integer", kTypeDate, 4, I32(kMarch7), 0, 4, kTypeInteger, false, Zeros(4)},
      {"date to bytes", kTypeDate, 4, I32(kMarch7), 0, 2, kTypeBytes, true, I32(kMarch7)},
      {"time to string", kTypeTime, 4, I32(32730007), 0, 21, kTypeString, true, Str("09:05:30.7")},
      {"invalid time to string", kTypeTime, 4, I32(86400000), 0, 21, kTypeString, false, {0}},
      {"time to date", kTypeTime, 4, I32(1000), 0, 4, kTypeDate, false, Zeros(4)},
      {"timestamp to string", kTypeTimestamp, 8, F64(march7At0905), 0, 21, kTypeString, true,
       Str("2024-03-07 09:05")},
      {"negative timestamp to string", kTypeTimestamp, 8, F64(-5), 0, 21, kTypeString, false, {0}},
      {"timestamp to date", kTypeTimestamp, 8, F64(march7At0905), 0, 4, kTypeDate, true,
       I32(kMarch7)},
      {"timestamp to time", kTypeTimestamp, 8, F64(march7At0905), 0, 4, kTypeTime, true,
       I32(32700000)},
      {"unreadable timestamp to date", kTypeTimestamp, 8,
       F64(std::numeric_limits<double>::quiet_NaN()), 0, 4, kTypeDate, false, I32(693594)},
      {"timestamp to float", kTypeTimestamp, 8, F64(march7At0905), 0, 8, kTypeFloat, false,
       Zeros(8)},
  });
}

TEST_F(FieldConversionTest, TimeToTimestampTakesTheCurrentDay) {
  Bytes buffer = I32(32730007);
  buffer.resize(8);
  const std::int32_t before = DateTimeToDayNumber(CurrentDateTime());
  ASSERT_TRUE(ConvertFieldValue(kTypeTime, 4, buffer, 0, 8, kTypeTimestamp));
  const std::int32_t after = DateTimeToDayNumber(CurrentDateTime());
  const double stored = LoadF64(buffer.data());
  const auto day = static_cast<std::int32_t>(stored / kMsPerDay);
  EXPECT_TRUE(day == before || day == after);
  EXPECT_EQ(stored - day * kMsPerDay, 32730007);
}

TEST_F(FieldConversionTest, FromBooleanAndIntegers) {
  Check({
      {"true to string", kTypeBoolean, 2, U16(1), 0, 21, kTypeString, true, Str("True")},
      {"false to string", kTypeBoolean, 2, U16(0), 0, 21, kTypeString, true, Str("False")},
      {"any non-zero is true", kTypeBoolean, 2, U16(2), 0, 4, kTypeInteger, true, I32(1)},
      {"true to float", kTypeBoolean, 2, U16(1), 0, 8, kTypeFloat, true, F64(1.0)},
      {"true to bcd", kTypeBoolean, 2, U16(1), 2, 34, kTypeBcd, true, Bcd(10000, 2)},
      {"false to largeint", kTypeBoolean, 2, U16(0), 0, 8, kTypeLargeint, true, I64(0)},
      {"boolean to time", kTypeBoolean, 2, U16(1), 0, 4, kTypeTime, false, Zeros(4)},
      {"word to smallint", kTypeWord, 2, U16(65535), 0, 2, kTypeSmallint, true, I16(-1)},
      {"smallint to word", kTypeSmallint, 2, I16(-1), 0, 2, kTypeWord, true, U16(65535)},
      {"smallint sign-extended", kTypeSmallint, 2, I16(-2), 0, 8, kTypeLargeint, true, I64(-2)},
      {"word zero-extended", kTypeWord, 2, U16(65535), 0, 4, kTypeInteger, true, I32(65535)},
      {"largeint low bits", kTypeLargeint, 8, I64((1LL << 40) + 7), 0, 4, kTypeInteger, true,
       I32(7)},
      {"integer to string", kTypeInteger, 4, I32(-5), 0, 21, kTypeString, true, Str("-5")},
      {"integer to boolean", kTypeInteger, 4, I32(7), 0, 2, kTypeBoolean, true, U16(1)},
      {"largeint to float rounds", kTypeLargeint, 8, I64((1LL << 53) + 1), 0, 8, kTypeFloat, true,
       F64(9007199254740992.0)},
      {"integer to bcd", kTypeInteger, 4, I32(-3), 0, 34, kTypeBcd, true, Bcd(-30000, 0)},
      {"largeint beyond bcd", kTypeLargeint, 8, I64(std::numeric_limits<std::int64_t>::max()), 2,
       34, kTypeBcd, false, Bcd(0, 2)},
      {"integer to date", kTypeInteger, 4, I32(5), 0, 4, kTypeDate, false, Zeros(4)},
      {"integer to bytes",
       kTypeInteger,
       4,
       I32(0x04030201),
       0,
       8,
       kTypeBytes,
       true,
       {1, 2, 3, 4, 0xCC}},
  });
}

TEST_F(FieldConversionTest, FromFloatAndBcd) {
  Bytes invalidBcd = Bcd(125000, 2);
  invalidBcd[17] = 0x5A;
  Check({
      {"truncates toward zero", kTypeFloat, 8, F64(-2.9), 0, 4, kTypeInteger, true, I32(-2)},
      {"keeps the low bits", kTypeFloat, 8, F64(70000.9), 0, 2, kTypeSmallint, true, I16(4464)},
      {"beyond 64 bits", kTypeFloat, 8, F64(1e30), 0, 4, kTypeInteger, false, I32(0)},
      {"not a number", kTypeFloat, 8, F64(std::numeric_limits<double>::quiet_NaN()), 0, 8,
       kTypeLargeint, false, I64(0)},
      {"float to string uses a point", kTypeFloat, 8, F64(12.5), 0, 21, kTypeString, true,
       Str("12.5")},
      {"zero is false", kTypeFloat, 8, F64(0.0), 0, 2, kTypeBoolean, true, U16(0)},
      {"float to bcd", kTypeFloat, 8, F64(12.5), 2, 34, kTypeBcd, true, Bcd(125000, 2)},
      {"float beyond bcd", kTypeFloat, 8, F64(1e30), 2, 34, kTypeBcd, false, Bcd(0, 2)},
      {"float to timestamp", kTypeFloat, 8, F64(1.0), 0, 8, kTypeTimestamp, false, Zeros(8)},
      {"bcd to string uses the separator", kTypeBcd, 34, Bcd(125000, 2), 0, 21, kTypeString, true,
       Str("12,5")},
      {"bcd to float", kTypeBcd, 34, Bcd(125000, 2), 0, 8, kTypeFloat, true, F64(12.5)},
      {"bcd to integer truncates", kTypeBcd, 34, Bcd(-129000, 2), 0, 4, kTypeInteger, true,
       I32(-12)},
      {"bcd to boolean", kTypeBcd, 34, Bcd(1, 4), 0, 2, kTypeBoolean, true, U16(1)},
      {"unreadable bcd", kTypeBcd, 34, invalidBcd, 0, 4, kTypeInteger, false, I32(0)},
      {"bcd to date", kTypeBcd, 34, Bcd(125000, 2), 0, 4, kTypeDate, false, Zeros(4)},
  });
}

TEST_F(FieldConversionTest, FromBytesAndOtherTypes) {
  const Bytes ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Check({
      {"bytes to shorter varbytes",
       kTypeBytes,
       10,
       ten,
       0,
       4,
       kTypeVarBytes,
       true,
       {1, 2, 3, 0, 5, 6, 7, 8, 9, 10}},
      // Bytes beyond the old length keep what the buffer held.
      {"varbytes to longer bytes",
       kTypeVarBytes,
       4,
       {1, 2, 3, 4},
       0,
       10,
       kTypeBytes,
       true,
       {1, 2, 3, 4, 0xCC, 0xCC}},
      {"bytes to string", kTypeBytes, 10, ten, 0, 3, kTypeString, true, {1, 2, 0, 4}},
      {"bytes to integer", kTypeBytes, 4, {1, 2, 3, 4}, 0, 4, kTypeInteger, true, {1, 2, 3, 4}},
      {"bytes to blob", kTypeBytes, 10, ten, 0, 8, kTypeBlob, false, Zeros(8)},
      {"blob stays", kTypeBlob, 8, {1, 2, 3, 4}, 0, 21, kTypeString, true, {1, 2, 3, 4}},
      {"unlisted type stays",
       kTypeOtherInteger,
       4,
       {1, 2, 3, 4},
       0,
       4,
       kTypeInteger,
       true,
       {1, 2, 3, 4}},
  });
}

TEST_F(FieldConversionTest, NeverLeavesTheBuffer) {
  // Buffers of exactly the required size: texts are cut, not overrun.
  Bytes third = F64(1.0 / 3.0);
  EXPECT_TRUE(ConvertFieldValue(kTypeFloat, 8, third, 0, 8, kTypeString));
  EXPECT_EQ(third, Str("0.33333"));

  Bytes unterminated = {'1', '2', '3', '4'};
  EXPECT_TRUE(ConvertFieldValue(kTypeString, 4, unterminated, 0, 4, kTypeInteger));
  EXPECT_EQ(unterminated, I32(1234));

  Bytes small = {1, 2};  // too small for the integer it should become
  EXPECT_FALSE(ConvertFieldValue(kTypeSmallint, 2, small, 0, 4, kTypeInteger));
  EXPECT_EQ(small, (Bytes{1, 2}));
}

}  // namespace
}  // namespace strata
