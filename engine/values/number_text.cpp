#include "engine/values/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

#include "engine/values/decimal_number.h"

namespace strata {
namespace {

template <typename Int>
std::optional<Int> ParseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate the magnitude in the unsigned type so the most negative value
  // parses too.
  using Unsigned = std::make_unsigned_t<Int>;
  const Unsigned limit = negative ? Unsigned(std::numeric_limits<Int>::max()) + 1u
                                  : Unsigned(std::numeric_limits<Int>::max());
  Unsigned magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    const Unsigned digit = static_cast<Unsigned>(c - '0');
    if (magnitude > (limit - digit) / 10u) return std::nullopt;
    magnitude = static_cast<Unsigned>(magnitude * 10u + digit);
  }
  return negative ? static_cast<Int>(Unsigned(0) - magnitude) : static_cast<Int>(magnitude);
}

// The largest double written with 15 significant digits,
// 1.79769313486232E308: its digits and its count of digits before the point.
constexpr std::string_view kLargestDigits = "179769313486232";
constexpr long long kLargestMagnitude = 309;

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  return ParseInteger<std::int32_t>(text);
}

std::optional<std::int64_t> ParseInt64(std::string_view text) {
  return ParseInteger<std::int64_t>(text);
}

std::string FloatToText(double value, char separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string raw(buffer, result.ptr);
  // Rewrite "1.5e-07" as "1.5E-7" and "1e+30" as "1E30".
  std::string text;
  const std::size_t e = raw.find('e');
  const std::string_view mantissa = std::string_view(raw).substr(0, e);
  for (const char c : mantissa) text += c == '.' ? separator : c;
  if (e != std::string::npos) {
    text += 'E';
    std::size_t i = e + 1;
    if (raw[i] == '-') text += '-';
    if (raw[i] == '-' || raw[i] == '+') ++i;
    while (i + 1 < raw.size() && raw[i] == '0') ++i;
    text.append(raw, i, std::string::npos);
  }
  return text;
}

std::optional<double> ParseFloat(std::string_view text, char separator) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  const std::string_view body = text.substr(begin, end - begin);
  const bool negative = !body.empty() && body[0] == '-';
  const std::string_view unsignedBody =
      !body.empty() && (body[0] == '-' || body[0] == '+') ? body.substr(1) : body;
  if (EqualsIgnoringCase(unsignedBody, "INF")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (EqualsIgnoringCase(unsignedBody, "NAN")) return std::numeric_limits<double>::quiet_NaN();

  const auto number = ScanDecimalNumber(body, separator);
  if (!number) return std::nullopt;
  // Hand a canonical "digitsEexponent" text to the locale-free parser.
  if (number->digits.empty()) return number->negative ? -0.0 : 0.0;
  std::string canonical = number->digits;
  canonical += 'e';
  canonical += std::to_string(number->exponent);
  double value = 0;
  const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too small to represent reads as zero. Too large fails, except up to
    // the 15-digit text of the largest double, which FloatToText writes for
    // it and which must read back.
    const long long magnitude = number->exponent + static_cast<long long>(number->digits.size());
    if (magnitude == kLargestMagnitude && number->digits <= kLargestDigits) {
      value = std::numeric_limits<double>::max();
    } else if (magnitude > 0) {
      return std::nullopt;
    } else {
      value = 0;
    }
  } else if (result.ec != std::errc() || result.ptr != canonical.data() + canonical.size()) {
    return std::nullopt;
  }
  return number->negative ? -value : value;
}

}  // namespace strata
