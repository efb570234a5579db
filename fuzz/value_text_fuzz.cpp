// Fuzzes the text forms of values: the engine's own texts of dates, times,
// timestamps, booleans and numbers, the number and currency parsers, BCD
// images and the conversion between field types. The first byte picks the
// reader; the text a writer makes of what a reader accepted must read back
// and be written the same again (a time's milliseconds are not written
// when its seconds are 0, so the first text may differ).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "engine/values/bcd.h"
#include "engine/values/convert_error.h"
#include "engine/values/currency.h"
#include "engine/values/decimal_number.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_conversion.h"
#include "engine/values/field_types.h"
#include "engine/values/number_text.h"

namespace {

using namespace strata;

void Require(bool condition) {
  if (!condition) std::abort();
}

template <typename Read, typename Write>
void RoundTrip(std::string_view text, Read read, Write write) {
  try {
    const auto value = read(text);
    std::string written;
    try {
      written = write(value);
    } catch (const EConvertError&) {
      return;  // readable, but outside what the writer covers
    }
    Require(write(read(written)) == written);
  } catch (const EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (selector % 10) {
    case 0: RoundTrip(text, EngineTextToDate, DateToEngineText); break;
    case 1: RoundTrip(text, EngineTextToTimestamp, TimestampToEngineText); break;
    case 2:
      try {
        const double time = EngineTextToTime(text);
        TimeToEngineText(time);
      } catch (const EConvertError&) {
      }
      break;
    case 3: RoundTrip(text, EngineTextToInteger, IntegerToEngineText); break;
    case 4: RoundTrip(text, EngineTextToLargeint, IntegerToEngineText); break;
    case 5:
      try {
        EngineTextToBoolean(text);
        EngineTextToFloat(text);
      } catch (const EConvertError&) {
      }
      break;
    case 6: {
      const char separator = selector & 0x80 ? ',' : '.';
      if (const auto value = ParseCurrency(text, separator)) {
        Require(ParseCurrency(CurrencyToText(*value, separator), separator) == *value);
      }
      ScanDecimalNumber(text, separator);
      if (const auto value = ParseFloat(text, separator); value && *value == *value) {
        Require(ParseFloat(FloatToText(*value, separator), separator).has_value());
      }
      ParseInt32(text);
      ParseInt64(text);
      break;
    }
    case 7: {
      std::array<std::uint8_t, kBcdSize> image{};
      std::copy_n(data + 1, std::min(size - 1, image.size()), image.begin());
      if (const auto value = BcdToCurrency(image)) {
        std::array<std::uint8_t, kBcdSize> written{};
        if (CurrencyToBcd(*value, 4, written)) Require(BcdToCurrency(written) == *value);
      }
      break;
    }
    default: {
      // Conversion between field types: old type, old size, new decimals,
      // new size and new type from the first bytes, the value after them.
      if (size < 7) break;
      const std::uint8_t oldType = data[1] % 24;
      const std::uint16_t oldSize = static_cast<std::uint16_t>(data[2] | (data[3] & 1) << 8);
      const std::uint8_t newDecimals = data[4] % 40;
      const std::uint16_t newSize = static_cast<std::uint16_t>(data[5] | (data[3] & 2) << 7);
      const std::uint8_t newType = data[6] % 24;
      std::vector<std::uint8_t> buffer(std::max<std::size_t>(300, size));
      std::copy(data + 7, data + size, buffer.begin());
      ConvertFieldValue(oldType, oldSize, buffer, newDecimals, newSize, newType);
      break;
    }
  }
  return 0;
}
