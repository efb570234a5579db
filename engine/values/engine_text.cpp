#include "engine/values/engine_text.h"

#include <cmath>
#include <optional>

#include "engine/values/convert_error.h"
#include "engine/values/date_time.h"
#include "engine/values/decimal_separator.h"
#include "engine/values/number_text.h"

namespace strata {
namespace {

[[noreturn]] void RaiseConvertError(std::string_view text, const char* what) {
  std::string message = "'";
  message.append(text);
  message += "' is not a valid ";
  message += what;
  throw EConvertError(std::move(message));
}

std::string Padded(int value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

std::string DateText(const CalendarDate& date) {
  return Padded(date.year, 4) + "-" + Padded(date.month, 2) + "-" + Padded(date.day, 2);
}

std::string TimeText(const TimeOfDay& time) {
  std::string text = Padded(time.hour, 2) + ":" + Padded(time.minute, 2);
  if (time.second != 0) {
    text += ":" + Padded(time.second, 2);
    if (time.millisecond != 0) text += "." + std::to_string(time.millisecond);
  }
  return text;
}

std::string ReplaceAll(std::string_view text, char from, char to) {
  std::string result(text);
  for (char& c : result) {
    if (c == from) c = to;
  }
  return result;
}

std::optional<double> ReadDate(std::string_view text) {
  const std::size_t first = text.find('-');
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view rest = text.substr(first + 1);
  const std::size_t second = rest.find('-');
  if (second == std::string_view::npos) return std::nullopt;
  const auto year = ParseInt32(text.substr(0, first));
  const auto month = ParseInt32(rest.substr(0, second));
  const auto day = ParseInt32(rest.substr(second + 1));
  if (!year || !month || !day) return std::nullopt;
  return EncodeDate(*year, *month, *day);
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::optional<double> ReadTime(std::string_view original) {
  std::string text(original);
  std::string upper(original);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  enum class Half { kNone, kAm, kPm } half = Half::kNone;
  if (const std::size_t at = upper.find("AM"); at != std::string::npos) {
    text.erase(at, 2);
    half = Half::kAm;
  } else if (const std::size_t pm = upper.find("PM"); pm != std::string::npos) {
    text.erase(pm, 2);
    half = Half::kPm;
  }
  std::string_view body = text;
  while (!body.empty() && IsBlankOrControl(body.front())) body.remove_prefix(1);
  while (!body.empty() && IsBlankOrControl(body.back())) body.remove_suffix(1);

  const std::size_t colon = body.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto hour = ParseInt32(body.substr(0, colon));
  const std::string_view rest = body.substr(colon + 1);
  std::optional<std::int32_t> minute;
  std::optional<std::int32_t> second = 0;
  std::optional<std::int32_t> millisecond = 0;
  if (const std::size_t colon2 = rest.find(':'); colon2 != std::string_view::npos) {
    minute = ParseInt32(rest.substr(0, colon2));
    const std::string_view seconds = rest.substr(colon2 + 1);
    if (const std::size_t dot = seconds.find('.'); dot != std::string_view::npos) {
      second = ParseInt32(seconds.substr(0, dot));
      millisecond = ParseInt32(seconds.substr(dot + 1));
    } else {
      second = ParseInt32(seconds);
    }
  } else {
    minute = ParseInt32(rest);
  }
  if (!hour || !minute || !second || !millisecond) return std::nullopt;
  std::int32_t h = *hour;
  if (half == Half::kAm && h == 12) h = 0;
  if (half == Half::kPm && h != 12 && h <= 23) h += 12;  // larger hours fail below
  return EncodeTime(h, *minute, *second, *millisecond);
}

}  // namespace

std::string DateToEngineText(double value) {
  const auto split = SplitDateTime(value);
  const auto date = DecodeDayNumber(DateTimeToDayNumber(value));
  if (!split || !date) RaiseConvertError(FloatToEngineText(value), "date");
  return DateText(*date);
}

std::string TimeToEngineText(double value) {
  const auto split = SplitDateTime(value);
  if (!split) RaiseConvertError(FloatToEngineText(value), "time");
  return TimeText(*DecodeMilliseconds(split->milliseconds));
}

std::string TimestampToEngineText(double value) {
  const auto split = SplitDateTime(value);
  const auto date = split ? DecodeDayNumber(split->dayNumber) : std::nullopt;
  if (!date) RaiseConvertError(FloatToEngineText(value), "date and time");
  return DateText(*date) + " " + TimeText(*DecodeMilliseconds(split->milliseconds));
}

std::string BooleanToEngineText(bool value) { return value ? "True" : "False"; }

std::string FloatToEngineText(double value) {
  // The platform's text with its decimal separator, which then becomes ".".
  const char separator = SystemDecimalSeparator();
  return ReplaceAll(FloatToText(value, separator), separator, '.');
}

std::string IntegerToEngineText(std::int64_t value) { return std::to_string(value); }

double EngineTextToDate(std::string_view text) {
  const auto value = ReadDate(text);
  if (!value) RaiseConvertError(text, "date");
  return *value;
}

double EngineTextToTime(std::string_view text) {
  const auto value = ReadTime(text);
  if (!value) RaiseConvertError(text, "time");
  return *value;
}

double EngineTextToTimestamp(std::string_view text) {
  std::optional<double> value;
  if (const std::size_t blank = text.find(' '); blank != std::string_view::npos) {
    const auto date = ReadDate(text.substr(0, blank));
    const auto time = ReadTime(text.substr(blank + 1));
    if (date && time) value = CombineDateAndTime(*date, *time);
  } else if (text.find(':') != std::string_view::npos) {
    value = ReadTime(text);
  } else {
    value = ReadDate(text);
  }
  if (!value) RaiseConvertError(text, "date and time");
  return *value;
}

bool EngineTextToBoolean(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == "TRUE") return true;
  if (upper == "FALSE") return false;
  RaiseConvertError(text, "boolean");
}

double EngineTextToFloat(std::string_view text) {
  const char separator = SystemDecimalSeparator();
  const auto value = ParseFloat(ReplaceAll(text, '.', separator), separator);
  if (!value) RaiseConvertError(text, "floating point value");
  return *value;
}

Currency EngineTextToCurrency(std::string_view text) {
  const char separator = SystemDecimalSeparator();
  const auto value = ParseCurrency(ReplaceAll(text, '.', separator), separator);
  if (!value) RaiseConvertError(text, "floating point value");
  return *value;
}

std::int32_t EngineTextToInteger(std::string_view text) {
  const auto value = ParseInt32(text);
  if (!value) RaiseConvertError(text, "integer value");
  return *value;
}

std::int64_t EngineTextToLargeint(std::string_view text) {
  const auto value = ParseInt64(text);
  if (!value) RaiseConvertError(text, "integer value");
  return *value;
}

}  // namespace strata
