#include "engine/values/decimal_number.h"

namespace strata {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this are far outside every supported range; capping them
// keeps the arithmetic below free of overflow.
constexpr long long kExponentCap = 100000;

}  // namespace

std::optional<DecimalNumber> ScanDecimalNumber(std::string_view text, char separator) {
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && text[i] == ' ') ++i;
  while (end > i && text[end - 1] == ' ') --end;

  DecimalNumber number;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }
  bool anyDigit = false;
  bool afterSeparator = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      anyDigit = true;
      if (afterSeparator) --number.exponent;
      if (c == '0' && number.digits.empty()) continue;  // leading zero
      number.digits += c;
    } else if (c == separator && !afterSeparator) {
      afterSeparator = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return std::nullopt;
  if (i < end) {
    if (text[i] != 'E' && text[i] != 'e') return std::nullopt;
    ++i;
    bool negativeExponent = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    if (i == end) return std::nullopt;
    long long exponent = 0;
    for (; i < end; ++i) {
      if (!IsDigit(text[i])) return std::nullopt;
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
    }
    number.exponent += negativeExponent ? -exponent : exponent;
  }
  // Trailing zeros of the digits move into the exponent.
  while (!number.digits.empty() && number.digits.back() == '0') {
    number.digits.pop_back();
    ++number.exponent;
  }
  if (number.digits.empty()) number.exponent = 0;
  return number;
}

}  // namespace strata
