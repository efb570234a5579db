// ConvertFieldValue: turns one non-NULL field value, in place, from the
// encoding of one engine type into that of another, as a restructure does
// when a field changes type or size.
//
// On entry `buffer` holds the old value as a field read returns it
// (`oldSize` bytes; a string up to its terminating zero). On success it holds
// the new value in the new type's encoding, ready for a field write. On
// failure it holds the new type's zero value (zero bytes, an empty text, 0,
// or 1899-12-30 at midnight for dates, times and timestamps whose text could
// not be read) and the result is false.
//
// The buffer must be at least as large as both physical sizes and the fixed
// widths of both types; a smaller buffer gives false and is left untouched.
// Texts written are cut to fit the buffer with their terminating zero (256
// bytes hold every text). Nothing outside the buffer is ever read or written.
#pragma once

#include <cstdint>
#include <span>

namespace strata {

bool ConvertFieldValue(std::uint8_t oldType, std::uint16_t oldSize, std::span<std::uint8_t> buffer,
                       std::uint8_t newDecimals, std::uint16_t newSize, std::uint8_t newType);

}  // namespace strata
