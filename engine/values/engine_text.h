// The engine's own text forms of values, independent of regional settings:
// the texts of minimum, maximum and default values in field descriptors.
//
//   date       2024-03-07 (year 4 digits, month and day 2 digits)
//   time       09:05, 09:05:30, 09:05:30.250 (24-hour clock; seconds only
//              when not 0, then milliseconds only when not 0, unpadded)
//   timestamp  2024-03-07 09:05
//   boolean    True, False
//   float      general format with 15 significant digits and "." as the
//              decimal point (12.5, 1E30, 1.5E-7, INF, NAN)
//   integer    decimal with a leading "-" when negative
//
// Readers raise EConvertError with the messages "'<text>' is not a valid
// date" (time, date and time, boolean, floating point value, integer value
// likewise). Writers raise EConvertError when the value lies outside
// 0001-01-01 .. 9999-12-31 or is not finite.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/values/currency.h"

namespace strata {

std::string DateToEngineText(double value);
std::string TimeToEngineText(double value);
std::string TimestampToEngineText(double value);
std::string BooleanToEngineText(bool value);
std::string FloatToEngineText(double value);
std::string IntegerToEngineText(std::int64_t value);

// Parts need no padding (2024-3-7). Returns the whole-day value.
double EngineTextToDate(std::string_view text);
// hours:minutes[:seconds[.milliseconds]] with an optional "AM" or "PM"
// anywhere; the part after "." counts milliseconds (30.5 is 30 s 5 ms).
// Returns the fraction of a day.
double EngineTextToTime(std::string_view text);
// "date time", a time alone (the text contains ":", on 1899-12-30) or a date
// alone (at midnight).
double EngineTextToTimestamp(std::string_view text);
// "TRUE" or "FALSE" in any letter case.
bool EngineTextToBoolean(std::string_view text);
// "." and the system's decimal separator both serve as the decimal point.
double EngineTextToFloat(std::string_view text);
Currency EngineTextToCurrency(std::string_view text);
std::int32_t EngineTextToInteger(std::string_view text);
std::int64_t EngineTextToLargeint(std::string_view text);

}  // namespace strata
