#include "engine/values/bcd.h"

#include <algorithm>
#include <array>
#include <limits>

namespace strata {
namespace {

constexpr int kNibbles = 64;
constexpr std::uint8_t kNegativeBit = 0x80;
constexpr std::uint8_t kPlacesMask = 0x3F;

int Nibble(std::span<const std::uint8_t, kBcdSize> image, int index) {
  const std::uint8_t byte = image[2 + index / 2];
  return index % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

}  // namespace

std::optional<Currency> BcdToCurrency(std::span<const std::uint8_t, kBcdSize> image) {
  const int precision = image[0];
  if (precision == 0) return 0;
  if (precision > kNibbles) return std::nullopt;
  const bool negative = (image[1] & kNegativeBit) != 0;
  const int places = image[1] & kPlacesMask;

  // Accumulate the digits down to four places; the digits below decide the
  // rounding. The number is digits x 10^-places, the result in units of
  // 10^-4.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  const int kept = precision - std::max(0, places - 4);  // nibbles at or above 10^-4
  std::uint64_t magnitude = 0;
  for (int i = 0; i < precision; ++i) {
    const int digit = Nibble(image, i);
    if (digit > 9) return std::nullopt;
    if (i >= kept) continue;
    if (magnitude > (limit - static_cast<std::uint64_t>(digit)) / 10u) return std::nullopt;
    magnitude = magnitude * 10u + static_cast<std::uint64_t>(digit);
  }
  // Fewer than four places: scale up.
  for (int p = places; p < 4; ++p) {
    if (magnitude > limit / 10u) return std::nullopt;
    magnitude *= 10u;
  }
  if (kept < precision) {
    // Dropped digits: above half rounds up, exactly half rounds to even.
    const int lead = Nibble(image, std::max(kept, 0));
    bool rest = false;
    for (int i = std::max(kept, 0) + 1; i < precision; ++i) rest = rest || Nibble(image, i) != 0;
    const bool dropsAll = kept < 0;  // dropped part below 10^-5: below half
    if (!dropsAll && (lead > 5 || (lead == 5 && (rest || magnitude % 2 == 1)))) {
      if (magnitude == limit) return std::nullopt;
      ++magnitude;
    }
  }
  return negative ? static_cast<Currency>(std::uint64_t{0} - magnitude)
                  : static_cast<Currency>(magnitude);
}

Currency BcdKeyValue(std::span<const std::uint8_t, kBcdSize> image) {
  if (const auto value = BcdToCurrency(image)) return *value;
  const int precision = image[0];
  if (precision > kNibbles) return 0;
  for (int i = 0; i < precision; ++i) {
    if (Nibble(image, i) > 9) return 0;
  }
  // Readable digits that do not fit: saturate by sign.
  return (image[1] & kNegativeBit) != 0 ? std::numeric_limits<Currency>::min()
                                        : std::numeric_limits<Currency>::max();
}

bool CurrencyToBcd(Currency value, std::uint8_t decimals, std::span<std::uint8_t, kBcdSize> image) {
  if (decimals > kBcdPrecision) return false;
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                     : static_cast<std::uint64_t>(value);
  // Digits of the value with `decimals` places, least significant first.
  std::array<int, kBcdPrecision + 1> digits{};
  int count = 0;
  if (decimals < 4) {
    std::uint64_t divisor = 1;
    for (int p = decimals; p < 4; ++p) divisor *= 10u;
    const std::uint64_t quotient = magnitude / divisor;
    const std::uint64_t remainder = magnitude % divisor;
    const std::uint64_t half = divisor / 2;
    magnitude = quotient + ((remainder > half || (remainder == half && quotient % 2 == 1)) ? 1 : 0);
  } else {
    // Places beyond the four of a currency number are zeros.
    for (int p = 4; p < decimals; ++p) digits[count++] = 0;
  }
  while (magnitude != 0) {
    if (count == kBcdPrecision) return false;
    digits[count++] = static_cast<int>(magnitude % 10u);
    magnitude /= 10u;
  }
  std::fill(image.begin(), image.end(), std::uint8_t{0});
  image[0] = kBcdPrecision;
  image[1] = decimals;
  if (negative && count > 0) image[1] |= kNegativeBit;
  for (int i = 0; i < count; ++i) {
    const int index = kBcdPrecision - 1 - i;  // nibble position, most significant first
    std::uint8_t& byte = image[2 + index / 2];
    byte |= static_cast<std::uint8_t>(index % 2 == 0 ? digits[i] << 4 : digits[i]);
  }
  return true;
}

}  // namespace strata
