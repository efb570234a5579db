#include "tools/export_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "engine/values/date_time.h"
#include "engine/values/field_types.h"

namespace strata::tools {

namespace {

bool IsMemo(std::uint8_t subType) {
  return subType == kSubTypeMemo || subType == kSubTypeMemoAlt1 || subType == kSubTypeMemoAlt2;
}

// UTF-16LE code units up to the first zero unit; unpaired surrogates
// become U+FFFD.
std::string WideText(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t unit = LoadU16(bytes.data() + i);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = LoadU16(bytes.data() + i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;
    AppendUtf8(out, unit);
  }
  return out;
}

// The stored packed decimal as exact text; false for a damaged value.
bool BcdText(std::span<const std::uint8_t> image, std::string& text) {
  const int precision = image[0];
  const int places = image[1] & 0x3F;
  const bool negative = (image[1] & 0x80) != 0;
  if (precision > 64 || places > precision) return false;
  std::string digits;
  for (int i = 0; i < precision; ++i) {
    const std::uint8_t byte = image[2 + i / 2];
    const int digit = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (digit > 9) return false;
    digits += static_cast<char>('0' + digit);
  }
  std::string whole = digits.substr(0, static_cast<std::size_t>(precision - places));
  const std::string fraction = digits.substr(static_cast<std::size_t>(precision - places));
  const std::size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
  text = (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
  return true;
}

}  // namespace

std::string DateText(std::int64_t dayNumber, bool& valid) {
  const auto date = DecodeDayNumber(dayNumber);
  valid = date.has_value();
  if (!valid) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date->year, date->month, date->day);
  return text;
}

std::string TimeText(std::int64_t milliseconds, bool& valid) {
  const auto time = DecodeMilliseconds(milliseconds);
  valid = time.has_value();
  if (!valid) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time->hour, time->minute, time->second,
                time->millisecond);
  return text;
}

std::string ShortestDouble(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void AppendNumber(std::string& out, const ExportValue& value) {
  char text[32];
  char* end = value.Type == ExportValue::Kind::Integer
                        ? std::to_chars(text, text + sizeof text, value.Integer).ptr
                        : std::to_chars(text, text + sizeof text, value.Float).ptr;
  out.append(text, static_cast<std::size_t>(end - text));
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const auto n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 16 |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                              static_cast<unsigned char>(bytes[i + 2]));
    out += kDigits[n >> 18];
    out += kDigits[(n >> 12) & 63];
    out += kDigits[(n >> 6) & 63];
    out += kDigits[n & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) << 16);
    if (i + 1 < bytes.size()) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kDigits[n >> 18];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

ExportValue::Kind ExportKindOf(const FieldDescriptor& field) {
  using Kind = ExportValue::Kind;
  switch (field.EngineType) {
    case kTypeString: return Kind::Text;
    case kTypeDate: return Kind::Date;
    case kTypeBlob: return IsMemo(field.SubType) ? Kind::Text : Kind::Binary;
    case kTypeBoolean: return Kind::Boolean;
    case kTypeSmallint:
    case kTypeInteger:
    case kTypeWord:
    case kTypeLargeint:
    case kTypeOtherInteger:
    case kTypeOtherLargeint: return Kind::Integer;
    case kTypeFloat: return Kind::Float;
    case kTypeBcd: return Kind::Decimal;
    case kTypeTime: return Kind::Time;
    case kTypeTimestamp: return Kind::Timestamp;
    default: return Kind::Binary;
  }
}

RecordValueReader::RecordValueReader(TDataCursor& cursor, std::string tableName)
    : cursor_(cursor),
      tableName_(std::move(tableName)),
      fields_(cursor.Fields().begin(), cursor.Fields().end()) {}

void RecordValueReader::Fail(const FieldDescriptor& field, std::int32_t recordNumber,
                             const char* what) const {
  throw ExportValueError("table '" + Windows1252ToUtf8(tableName_) + "', record " +
                         std::to_string(recordNumber) + ", field '" +
                         Windows1252ToUtf8(field.Name) + "': " + what);
}

void RecordValueReader::Read(std::span<std::uint8_t> record, std::int32_t recordNumber,
                             std::vector<ExportValue>& values) {
  using Kind = ExportValue::Kind;
  values.resize(fields_.size());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const FieldDescriptor& field = fields_[i];
    ExportValue& value = values[i];
    value.Text.clear();
    if (FieldIsNull(record, field) || HasNoStoredValue(field.EngineType)) {
      value.Type = Kind::Null;
      continue;
    }
    value.Type = ExportKindOf(field);
    const ConstRecordImage bytes = FieldBytes(record, field);
    // The loads below read the type's size from the slot.
    if (bytes.size() < FixedValueSize(field.EngineType)) {
      Fail(field, recordNumber, "the stored value is shorter than its type");
    }
    bool valid = true;
    switch (field.EngineType) {
      case kTypeString:
        if (field.SubType == kSubTypeWideString) {
          value.Text = WideText(bytes);
        } else {
          value.Text = Windows1252ToUtf8(ReadString(record, field));
        }
        break;
      case kTypeBlob: {
        const auto number = static_cast<std::uint16_t>(i + 1);
        cursor_.OpenBlob(record, number);
        const std::span<const std::uint8_t> content = cursor_.BlobValue(record, number);
        const std::string_view raw(reinterpret_cast<const char*>(content.data()), content.size());
        value.Text = value.Type == Kind::Text ? Windows1252ToUtf8(raw) : std::string(raw);
        cursor_.CloseBlob(record, number);
        break;
      }
      case kTypeBoolean: value.Boolean = LoadU16(bytes.data()) != 0; break;
      case kTypeSmallint: value.Integer = LoadI16(bytes.data()); break;
      case kTypeWord: value.Integer = LoadU16(bytes.data()); break;
      case kTypeInteger: value.Integer = LoadI32(bytes.data()); break;
      case kTypeLargeint: value.Integer = LoadI64(bytes.data()); break;
      case kTypeFloat:
        value.Float = LoadF64(bytes.data());
        if (!std::isfinite(value.Float)) value.Type = Kind::Null;
        break;
      case kTypeBcd:
        if (!BcdText(bytes, value.Text)) Fail(field, recordNumber, "the decimal value is damaged");
        break;
      case kTypeDate:
        value.Text = DateText(LoadI32(bytes.data()), valid);
        if (!valid) Fail(field, recordNumber, "the stored day number is no date");
        break;
      case kTypeTime:
        value.Text = TimeText(LoadI32(bytes.data()), valid);
        if (!valid) Fail(field, recordNumber, "the stored value is no time of day");
        break;
      case kTypeTimestamp: {
        const double stored = LoadF64(bytes.data());
        if (!std::isfinite(stored)) Fail(field, recordNumber, "the stored value is no timestamp");
        const auto total = static_cast<std::int64_t>(std::llround(stored));
        const std::int64_t day = total / kMillisecondsPerDay;
        value.Text = DateText(day, valid);
        if (valid) value.Text += 'T' + TimeText(total - day * kMillisecondsPerDay, valid);
        if (!valid) Fail(field, recordNumber, "the stored value is no timestamp");
        break;
      }
      default:
        value.Text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        break;
    }
  }
}

}  // namespace strata::tools
