// The 34-byte packed decimal stored for BCD fields:
//   byte 0      precision, the number of digits;
//   byte 1      bit 7 set for a negative value, bits 0-5 the number of
//               decimal places;
//   bytes 2-33  64 digit nibbles, most significant first (high nibble of a
//               byte before its low nibble); the first `precision` nibbles
//               hold the number, the last `places` of them after the point,
//               and the remaining nibbles are zero.
// Values are read into and written from currency numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/values/currency.h"
#include "engine/values/field_types.h"

namespace strata {

// A precision of 0 reads as 0. nullopt for a digit nibble above 9, a
// precision above 64, or a value outside the currency range. More than four
// places are rounded to four, halves to even.
std::optional<Currency> BcdToCurrency(std::span<const std::uint8_t, kBcdSize> image);

// The value as an index key orders it: the currency number, or, for a value
// beyond the currency range, the least or greatest currency number by its
// sign, so that it sorts after (or before) every value in range instead of
// among them. 0 for a value that does not read (damaged digits).
Currency BcdKeyValue(std::span<const std::uint8_t, kBcdSize> image);

// Writes `value` with precision 32 and `decimals` places, rounded with
// halves to even when `decimals` is below 4. Returns false, leaving `image`
// untouched, when `decimals` exceeds 32 or the integer part needs more digits
// than 32 - `decimals`.
bool CurrencyToBcd(Currency value, std::uint8_t decimals, std::span<std::uint8_t, kBcdSize> image);

}  // namespace strata
