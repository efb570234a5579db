// The currency number: a signed 64-bit integer holding the value x 10 000,
// a fixed-point number with four decimal places. Its text is the platform's
// currency text: the shortest form with up to four decimals, a leading "-"
// when negative, the given decimal separator and no grouping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace strata {

using Currency = std::int64_t;
inline constexpr std::int64_t kCurrencyScale = 10000;

// Reads a number text (the syntax of ParseFloat, no special values), rounding
// to four decimals with halves to even; nullopt when malformed or outside the
// currency range.
std::optional<Currency> ParseCurrency(std::string_view text, char separator);
std::string CurrencyToText(Currency value, char separator);

// value x 10 000 rounded to the nearest integer, halves to even; nullopt when
// not finite or outside the 64-bit range.
std::optional<Currency> FloatToCurrency(double value);
// value x 10 000; nullopt when that does not fit in 64 bits.
std::optional<Currency> IntegerToCurrency(std::int64_t value);

}  // namespace strata
