#include "engine/values/currency.h"

#include <cmath>

#include "engine/values/decimal_number.h"

namespace strata {
namespace {

constexpr int kCurrencyDecimals = 4;

// The magnitude of +-digits x 10^exponent in units of 1/10 000, rounded with
// halves to even; nullopt above `limit`.
std::optional<std::uint64_t> ScaledMagnitude(const DecimalNumber& number, std::uint64_t limit) {
  const long long shift = number.exponent + kCurrencyDecimals;
  const std::string& digits = number.digits;
  if (digits.empty()) return 0;
  // Digits that land at or above the units place of the scaled value.
  const long long whole = static_cast<long long>(digits.size()) + shift;
  if (whole > 20) return std::nullopt;  // more than 20 digits exceed 64 bits
  std::uint64_t magnitude = 0;
  for (long long i = 0; i < whole; ++i) {
    const std::uint64_t digit =
        i < static_cast<long long>(digits.size()) ? static_cast<std::uint64_t>(digits[i] - '0') : 0;
    if (magnitude > (limit - digit) / 10u) return std::nullopt;
    magnitude = magnitude * 10u + digit;
  }
  if (shift < 0) {
    // Round on the dropped digits: above half rounds up, exactly half to even.
    const long long first = whole < 0 ? -1 : whole;  // index of the first dropped digit
    int compare = -1;                                // dropped part against one half
    if (first >= 0) {
      const char lead = digits[first];
      if (lead > '5') {
        compare = 1;
      } else if (lead == '5') {
        compare = first + 1 < static_cast<long long>(digits.size()) ? 1 : 0;
      }
    }
    if (compare > 0 || (compare == 0 && magnitude % 2 == 1)) {
      if (magnitude == limit) return std::nullopt;
      ++magnitude;
    }
  }
  return magnitude;
}

}  // namespace

std::optional<Currency> ParseCurrency(std::string_view text, char separator) {
  const auto number = ScanDecimalNumber(text, separator);
  if (!number) return std::nullopt;
  const std::uint64_t limit =
      number->negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  const auto magnitude = ScaledMagnitude(*number, limit);
  if (!magnitude) return std::nullopt;
  return number->negative ? static_cast<Currency>(std::uint64_t{0} - *magnitude)
                          : static_cast<Currency>(*magnitude);
}

std::string CurrencyToText(Currency value, char separator) {
  const bool negative = value < 0;
  const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                           : static_cast<std::uint64_t>(value);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / kCurrencyScale);
  std::uint64_t fraction = magnitude % kCurrencyScale;
  if (fraction != 0) {
    std::string decimals(kCurrencyDecimals, '0');
    for (int i = kCurrencyDecimals - 1; i >= 0; --i) {
      decimals[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    while (decimals.back() == '0') decimals.pop_back();
    text += separator;
    text += decimals;
  }
  return text;
}

std::optional<Currency> FloatToCurrency(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // nearbyint rounds halves to even under the default rounding mode.
  const double scaled = std::nearbyint(value * kCurrencyScale);
  if (scaled < -9223372036854775808.0 || scaled >= 9223372036854775808.0) return std::nullopt;
  return static_cast<Currency>(scaled);
}

std::optional<Currency> IntegerToCurrency(std::int64_t value) {
  Currency result = 0;
  if (__builtin_mul_overflow(value, kCurrencyScale, &result)) return std::nullopt;
  return result;
}

}  // namespace strata
