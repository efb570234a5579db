// A decimal number text taken apart: sign, significant digits and a decimal
// exponent, so that the value is +-digits x 10^exponent. Shared by the float
// and currency parsers, which accept the same syntax (see number_text.h);
// leading and trailing blanks are skipped here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strata {

struct DecimalNumber {
  bool negative = false;
  std::string digits;      // no leading zeros; empty for zero
  long long exponent = 0;  // power of ten of the last digit
};

std::optional<DecimalNumber> ScanDecimalNumber(std::string_view text, char separator);

}  // namespace strata
