#include "tools/import_value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/field_descriptor.h"
#include "engine/locale/windows1252.h"
#include "engine/values/bcd.h"
#include "engine/values/convert_error.h"
#include "engine/values/date_time.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"
#include "tools/export_value.h"

namespace strata::tools {

namespace {

using Kind = SourceValue::Kind;

// Longest value text a message quotes whole.
constexpr std::size_t kShownLength = 40;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The next code point of UTF-8 text; nullopt for a malformed sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = 0;
  char32_t point = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    point = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (i + static_cast<std::size_t>(length) > text.size()) return std::nullopt;
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    point = point << 6 | (next & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
    return std::nullopt;
  }
  i += static_cast<std::size_t>(length);
  return point;
}

std::string CodePointName(char32_t point) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(point));
  return name;
}

// UTF-8 to Windows-1252, every character kept or a reason why not.
bool ToWindows1252(std::string_view utf8, std::string& out, std::string& reason) {
  out.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const auto point = NextCodePoint(utf8, i);
    if (!point) {
      reason = "the text is not valid UTF-8";
      return false;
    }
    const auto byte = UnicodeToWindows1252(*point);
    if (!byte) {
      reason = "the text holds the character " + CodePointName(*point) +
               ", which the table's code page (Windows-1252) has not";
      return false;
    }
    out += *byte;
  }
  return true;
}

// UTF-8 to UTF-16 code units, little-endian.
bool ToUtf16(std::string_view utf8, std::u16string& out, std::string& reason) {
  out.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const auto point = NextCodePoint(utf8, i);
    if (!point) {
      reason = "the text is not valid UTF-8";
      return false;
    }
    if (*point >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((*point - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((*point - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(*point);
    }
  }
  return true;
}

// A decimal integer: optional sign, digits, nothing else (blanks around).
enum class Whole { Ok, NotWhole, TooLarge };
Whole ParseWhole(std::string_view text, std::int64_t& value) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return Whole::NotWhole;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (stop != end) return Whole::NotWhole;
  if (error == std::errc::result_out_of_range) return Whole::TooLarge;
  return error == std::errc() ? Whole::Ok : Whole::NotWhole;
}

enum class Decimal { Ok, NotNumber, TooLarge, TooManyPlaces };

// An exact decimal number (sign, digits, "." and digits, an exponent) as a
// currency number, when it has no more than `places` places that are not 0.
Decimal ParseDecimal(std::string_view text, int places, Currency& value) {
  text = Trimmed(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::string digits;
  int pointAt = -1;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c == '.' && pointAt < 0) {
      pointAt = static_cast<int>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return Decimal::NotNumber;
  if (pointAt < 0) pointAt = static_cast<int>(digits.size());
  if (i < text.size()) {
    if (text[i] != 'e' && text[i] != 'E') return Decimal::NotNumber;
    int exponent = 0;
    const std::string_view rest = text.substr(i + 1);
    const std::string_view number = !rest.empty() && rest.front() == '+' ? rest.substr(1) : rest;
    const auto [stop, error] =
        std::from_chars(number.data(), number.data() + number.size(), exponent);
    if (number.empty() || error != std::errc() || stop != number.data() + number.size()) {
      return Decimal::NotNumber;
    }
    if (exponent > 100 || exponent < -100)
      return exponent > 0 ? Decimal::TooLarge : Decimal::TooManyPlaces;
    pointAt += exponent;
  }
  // Digits before the point and after it, in ten-thousandths.
  const int kept = std::min(places, 4);
  Currency result = 0;
  const int count = static_cast<int>(digits.size());
  const int last = std::max(count, pointAt + 4);
  for (int k = std::min(0, pointAt); k < last; ++k) {
    const int digit = k >= 0 && k < count ? digits[static_cast<std::size_t>(k)] - '0' : 0;
    if (k - pointAt >= kept) {
      if (digit != 0) return Decimal::TooManyPlaces;
      if (k - pointAt >= 4) continue;
    }
    if (result > (std::numeric_limits<Currency>::max() - digit) / 10) return Decimal::TooLarge;
    result = result * 10 + digit;
  }
  value = negative ? -result : result;
  return Decimal::Ok;
}

struct IntegerRange {
  std::int64_t Least;
  std::int64_t Greatest;
};

std::optional<IntegerRange> RangeOf(const FieldDescriptor& field) {
  switch (field.EngineType) {
    case kTypeSmallint: return IntegerRange{INT16_MIN, INT16_MAX};
    case kTypeWord: return IntegerRange{0, UINT16_MAX};
    case kTypeInteger: return IntegerRange{INT32_MIN, INT32_MAX};
    case kTypeLargeint: return IntegerRange{INT64_MIN, INT64_MAX};
    case kTypeOtherInteger:
    case kTypeOtherLargeint:
      if (field.PhysicalSize == 4) return IntegerRange{INT32_MIN, INT32_MAX};
      if (field.PhysicalSize == 8) return IntegerRange{INT64_MIN, INT64_MAX};
      return std::nullopt;
    default: return std::nullopt;
  }
}

// The value as text, for the types read from text; nullopt for a boolean
// or bytes where a text is wanted.
std::optional<std::string_view> TextOf(const SourceValue& value, std::string& storage) {
  switch (value.Type) {
    case Kind::Text:
    case Kind::Number: return value.Text;
    case Kind::Integer: storage = std::to_string(value.Integer); return storage;
    case Kind::Real: storage = ShortestDouble(value.Real); return storage;
    default: return std::nullopt;
  }
}

std::optional<std::vector<std::uint8_t>> Base64Decoded(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t padding = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= 'A' && c <= 'Z') {
      digit = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      digit = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      digit = c - '0' + 52;
    } else if (c == '+') {
      digit = 62;
    } else if (c == '/') {
      digit = 63;
    } else if (c == '=') {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  // Leftover bits must be padding of a last group, and zero.
  if (count >= 6 || (bits & ((1u << count) - 1)) != 0 || padding > 2) return std::nullopt;
  if (padding > 0 && (text.size() % 4 != 0)) return std::nullopt;
  return out;
}

}  // namespace

ValueImporter::ValueImporter(TDataCursor& cursor)
    : cursor_(cursor), fields_(cursor.Fields().begin(), cursor.Fields().end()) {
  std::size_t widest = 8;
  for (const FieldDescriptor& field : fields_)
    widest = std::max<std::size_t>(widest, field.PhysicalSize);
  bytes_.resize(widest + 2);
}

std::string ValueImporter::Shown(const SourceValue& value) {
  switch (value.Type) {
    case Kind::Null: return "NULL";
    case Kind::Number: return std::string(value.Text);
    case Kind::Integer: return std::to_string(value.Integer);
    case Kind::Real: return ShortestDouble(value.Real);
    case Kind::Boolean: return value.Boolean ? "true" : "false";
    case Kind::Bytes:
      return "a binary value of " + std::to_string(value.Text.size()) +
             (value.Text.size() == 1 ? " byte" : " bytes");
    default:
      if (value.Text.size() <= kShownLength) return Quoted(value.Text);
      std::size_t cut = kShownLength;
      // Not inside a UTF-8 sequence.
      while (cut > 0 && (static_cast<unsigned char>(value.Text[cut]) & 0xC0) == 0x80) --cut;
      return Quoted(std::string(value.Text.substr(0, cut)) + "...");
  }
}

void ValueImporter::Store(std::span<std::uint8_t> record, std::uint16_t position,
                          std::size_t size) {
  cursor_.SetField(record, position, std::span<const std::uint8_t>(bytes_.data(), size));
}

bool ValueImporter::Set(std::span<std::uint8_t> record, std::uint16_t position,
                        const SourceValue& value, std::string& reason) {
  const FieldDescriptor& field = fields_[static_cast<std::size_t>(position - 1)];
  const bool empty = (value.Type == Kind::Text || value.Type == Kind::Bytes) && value.Text.empty();
  if (value.Type == Kind::Null || empty) {
    // A BLOB is NULL as the defaults left it: without a value.
    if (field.EngineType != kTypeBlob) cursor_.SetField(record, position, std::nullopt);
    return true;
  }
  switch (field.EngineType) {
    case kTypeString: return SetText(record, position, field, value, reason);
    case kTypeBlob:
      return IsMemo(field.EngineType, field.SubType)
                 ? SetText(record, position, field, value, reason)
                 : SetBytes(record, position, field, value, reason);
    case kTypeBoolean: return SetBoolean(record, position, value, reason);
    case kTypeFloat: return SetFloat(record, position, value, reason);
    case kTypeBcd: return SetDecimal(record, position, field, value, reason);
    case kTypeDate:
    case kTypeTime:
    case kTypeTimestamp: return SetMoment(record, position, field, value, reason);
    default:
      if (RangeOf(field)) return SetInteger(record, position, field, value, reason);
      return SetBytes(record, position, field, value, reason);
  }
}

bool ValueImporter::SetInteger(std::span<std::uint8_t> record, std::uint16_t position,
                               const FieldDescriptor& field, const SourceValue& value,
                               std::string& reason) {
  const IntegerRange range = *RangeOf(field);
  const std::string outOfRange = " is out of the field's range (" + std::to_string(range.Least) +
                                 " to " + std::to_string(range.Greatest) + ")";
  std::int64_t number = 0;
  if (value.Type == Kind::Integer) {
    number = value.Integer;
  } else if (value.Type == Kind::Real && value.Real == std::trunc(value.Real)) {
    // A whole real beyond the 64-bit range is beyond every field's.
    if (std::abs(value.Real) >= 9.2e18) {
      reason = Shown(value) + outOfRange;
      return false;
    }
    number = static_cast<std::int64_t>(value.Real);
  } else if (value.Type == Kind::Text || value.Type == Kind::Number) {
    switch (ParseWhole(value.Text, number)) {
      case Whole::Ok: break;
      case Whole::TooLarge: reason = Shown(value) + outOfRange; return false;
      case Whole::NotWhole: reason = Shown(value) + " is not a whole number"; return false;
    }
  } else {
    reason = Shown(value) + " is not a whole number";
    return false;
  }
  if (number < range.Least || number > range.Greatest) {
    reason = Shown(value) + outOfRange;
    return false;
  }
  if (field.PhysicalSize == 2) {
    StoreU16(bytes_.data(), static_cast<std::uint16_t>(number));
  } else if (field.PhysicalSize == 4) {
    StoreI32(bytes_.data(), static_cast<std::int32_t>(number));
  } else {
    StoreI64(bytes_.data(), number);
  }
  Store(record, position, field.PhysicalSize);
  return true;
}

bool ValueImporter::SetBoolean(std::span<std::uint8_t> record, std::uint16_t position,
                               const SourceValue& value, std::string& reason) {
  std::optional<bool> flag;
  if (value.Type == Kind::Boolean) {
    flag = value.Boolean;
  } else if (value.Type == Kind::Integer && (value.Integer == 0 || value.Integer == 1)) {
    flag = value.Integer == 1;
  } else if (value.Type == Kind::Text || value.Type == Kind::Number) {
    const std::string_view text = Trimmed(value.Text);
    if (text == "0" || text == "1") {
      flag = text == "1";
    } else if (value.Type == Kind::Text) {
      try {
        flag = EngineTextToBoolean(text);
      } catch (const EConvertError&) {
        // Neither true nor false: refused below.
      }
    }
  }
  if (!flag) {
    reason = Shown(value) + " is not a boolean (true or false)";
    return false;
  }
  StoreU16(bytes_.data(), *flag ? 1 : 0);
  Store(record, position, 2);
  return true;
}

bool ValueImporter::SetFloat(std::span<std::uint8_t> record, std::uint16_t position,
                             const SourceValue& value, std::string& reason) {
  double number = 0;
  if (value.Type == Kind::Integer) {
    number = static_cast<double>(value.Integer);
  } else if (value.Type == Kind::Real) {
    number = value.Real;
  } else if (value.Type == Kind::Text || value.Type == Kind::Number) {
    std::string_view text = Trimmed(value.Text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || stop != end ||
        (error != std::errc() && error != std::errc::result_out_of_range)) {
      reason = Shown(value) + " is not a number";
      return false;
    }
    if (error == std::errc::result_out_of_range) {
      reason = Shown(value) + " is out of the range of a floating-point number";
      return false;
    }
  } else {
    reason = Shown(value) + " is not a number";
    return false;
  }
  if (!std::isfinite(number)) {
    reason = Shown(value) + " is not a finite number";
    return false;
  }
  StoreF64(bytes_.data(), number);
  Store(record, position, 8);
  return true;
}

bool ValueImporter::SetDecimal(std::span<std::uint8_t> record, std::uint16_t position,
                               const FieldDescriptor& field, const SourceValue& value,
                               std::string& reason) {
  std::string storage;
  const std::optional<std::string_view> text = TextOf(value, storage);
  Currency number = 0;
  const Decimal parsed =
      text ? ParseDecimal(*text, field.DeclaredDecimals, number) : Decimal::NotNumber;
  std::fill(bytes_.begin(), bytes_.end(), 0);
  if (parsed == Decimal::Ok &&
      CurrencyToBcd(number, field.DeclaredDecimals,
                    std::span<std::uint8_t, kBcdSize>(bytes_.data(), kBcdSize))) {
    Store(record, position, kBcdSize);
    return true;
  }
  switch (parsed) {
    case Decimal::NotNumber: reason = Shown(value) + " is not a number"; break;
    case Decimal::TooManyPlaces:
      reason = Shown(value) + " has more decimal places than the field keeps (" +
               std::to_string(std::min<int>(field.DeclaredDecimals, 4)) + ")";
      break;
    default: reason = Shown(value) + " is out of the field's range"; break;
  }
  return false;
}

bool ValueImporter::SetMoment(std::span<std::uint8_t> record, std::uint16_t position,
                              const FieldDescriptor& field, const SourceValue& value,
                              std::string& reason) {
  if (value.Type != Kind::Text) {
    reason = Shown(value) + " is not a " +
             (field.EngineType == kTypeDate   ? "date"
              : field.EngineType == kTypeTime ? "time"
                                              : "date and time");
    return false;
  }
  const std::string text(Trimmed(value.Text));
  try {
    if (field.EngineType == kTypeDate) {
      StoreI32(bytes_.data(), DateTimeToDayNumber(EngineTextToDate(text)));
      Store(record, position, 4);
      return true;
    }
    if (field.EngineType == kTypeTime) {
      StoreI32(bytes_.data(), DateTimeToTimeMilliseconds(EngineTextToTime(text)));
      Store(record, position, 4);
      return true;
    }
  } catch (const EConvertError& error) {
    // The engine's reader says what is wrong with the text.
    reason = error.Message();
    return false;
  }
  // A timestamp: date and time apart ("T" as the export writes it, or a
  // blank as the engine's text form has it), each read exactly; a time
  // alone is on 1899-12-30 and a date alone at midnight, as the engine
  // reads them.
  std::string date = text;
  std::string time;
  const std::size_t split = text.find_first_of("Tt ");
  if (split != std::string::npos) {
    date = text.substr(0, split);
    time = text.substr(split + 1);
  } else if (text.find(':') != std::string::npos) {
    date.clear();
    time = text;
  }
  try {
    const std::int64_t day =
        date.empty() ? kDayNumberOf18991230 : DateTimeToDayNumber(EngineTextToDate(date));
    const std::int64_t milliseconds =
        time.empty() ? 0 : DateTimeToTimeMilliseconds(EngineTextToTime(time));
    StoreF64(bytes_.data(), static_cast<double>(day * kMillisecondsPerDay + milliseconds));
  } catch (const EConvertError&) {
    // Either part unreadable: the whole text is no date and time.
    reason = "'" + text + "' is not a valid date and time";
    return false;
  }
  Store(record, position, 8);
  return true;
}

bool ValueImporter::SetText(std::span<std::uint8_t> record, std::uint16_t position,
                            const FieldDescriptor& field, const SourceValue& value,
                            std::string& reason) {
  // A number or a boolean given for a text field is taken as its text.
  std::string storage;
  std::string_view utf8 = value.Text;
  if (value.Type == Kind::Boolean) {
    utf8 = value.Boolean ? "true" : "false";
  } else if (value.Type == Kind::Integer || value.Type == Kind::Real) {
    utf8 = *TextOf(value, storage);
  }
  const bool memo = field.EngineType == kTypeBlob;
  if (IsWideString(field.EngineType, field.SubType)) {
    std::u16string units;
    if (!ToUtf16(utf8, units, reason)) return false;
    while (!units.empty() && units.back() == u' ') units.pop_back();
    if (units.find(u'\0') != std::u16string::npos) {
      reason = "the text holds a NUL character, which a string field cannot";
      return false;
    }
    if (units.size() > field.DeclaredLength) {
      reason = "the text has " + std::to_string(units.size()) + " characters, the field holds " +
               std::to_string(field.DeclaredLength);
      return false;
    }
    for (std::size_t i = 0; i < units.size(); ++i) StoreU16(bytes_.data() + 2 * i, units[i]);
    StoreU16(bytes_.data() + 2 * units.size(), 0);
    Store(record, position, 2 * units.size() + 2);
    return true;
  }
  if (!ToWindows1252(utf8, text_, reason)) return false;
  if (memo) {
    cursor_.SetBlobValue(
        record, position,
        std::span(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size()));
    return true;
  }
  if (field.SubType != kSubTypeFixedChar) {
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
  }
  if (text_.find('\0') != std::string::npos) {
    reason = "the text holds a NUL character, which a string field cannot";
    return false;
  }
  if (text_.size() > field.DeclaredLength) {
    reason = "the text has " + std::to_string(text_.size()) + " characters, the field holds " +
             std::to_string(field.DeclaredLength);
    return false;
  }
  std::memcpy(bytes_.data(), text_.data(), text_.size());
  bytes_[text_.size()] = 0;
  Store(record, position, text_.size() + 1);
  return true;
}

bool ValueImporter::SetBytes(std::span<std::uint8_t> record, std::uint16_t position,
                             const FieldDescriptor& field, const SourceValue& value,
                             std::string& reason) {
  std::vector<std::uint8_t> decoded;
  if (value.Type == Kind::Bytes) {
    decoded.assign(value.Text.begin(), value.Text.end());
  } else if (value.Type == Kind::Text) {
    auto bytes = Base64Decoded(Trimmed(value.Text));
    if (!bytes) {
      reason = Shown(value) + " is not base64";
      return false;
    }
    decoded = std::move(*bytes);
  } else {
    reason = Shown(value) + " is not base64";
    return false;
  }
  if (field.EngineType == kTypeBlob) {
    cursor_.SetBlobValue(record, position, decoded);
    return true;
  }
  if (decoded.size() > field.PhysicalSize) {
    reason = "the value has " + std::to_string(decoded.size()) + " bytes, the field holds " +
             std::to_string(field.PhysicalSize);
    return false;
  }
  std::fill(bytes_.begin(), bytes_.end(), 0);
  std::copy(decoded.begin(), decoded.end(), bytes_.begin());
  Store(record, position, field.PhysicalSize);
  return true;
}

}  // namespace strata::tools
