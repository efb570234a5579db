// The platform's number texts: integer parsing, and floating-point text and
// parsing with a given decimal separator. Nothing here depends on the C
// library's locale; the separator is always passed in.
//
// Integer texts: optional leading blanks, an optional "+" or "-", then one or
// more decimal digits and nothing else; the value must fit the target width.
// Hexadecimal forms are not accepted: every integer text the engine stores is
// decimal.
//
// Floating-point texts: optional leading and trailing blanks, an optional
// sign, digits with at most one decimal separator (at least one digit in
// all), and an optional exponent "E" or "e" with an optional sign and digits.
// "INF", "-INF" and "NAN" (any letter case) name the special values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace strata {

std::optional<std::int32_t> ParseInt32(std::string_view text);
std::optional<std::int64_t> ParseInt64(std::string_view text);

// General format with 15 significant digits: the shortest text, no trailing
// zeros, an exponent ("1E30", "1.5E-7") when the decimal exponent is below
// -4 or at least 15.
std::string FloatToText(double value, char separator);

// nullopt for a malformed text or a finite value beyond the double range.
std::optional<double> ParseFloat(std::string_view text, char separator);

}  // namespace strata
