#include "engine/core/schema/field_value_rules.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "engine/values/convert_error.h"
#include "engine/values/date_time.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"
#include "platform/process.h"

namespace strata {

namespace {

bool IsKeyword(std::string_view text, std::string_view keyword) {
  if (text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kWindows1252Upper[static_cast<unsigned char>(text[i])] !=
        static_cast<unsigned char>(keyword[i])) {
      return false;
    }
  }
  return true;
}

double Today(double now) { return std::trunc(now); }
double TimeOfDayOf(double now) { return now - std::trunc(now); }

// The moment a date, time or timestamp text stands for.
double MomentOf(std::uint8_t type, std::string_view text) {
  const bool date = IsKeyword(text, "CURRENT_DATE");
  const bool time = IsKeyword(text, "CURRENT_TIME");
  const bool stamp = IsKeyword(text, "CURRENT_TIMESTAMP");
  switch (type) {
    case kTypeDate:
      if (date) return Today(CurrentDateTime());
      return EngineTextToDate(text);
    case kTypeTime:
      if (time) return TimeOfDayOf(CurrentDateTime());
      return EngineTextToTime(text);
    default:
      if (stamp) return CurrentDateTime();
      if (date) return Today(CurrentDateTime());
      if (time) return TimeOfDayOf(CurrentDateTime());
      return EngineTextToTimestamp(text);
  }
}

template <typename T>
int Sign(T a, T b) {
  return (a > b) - (a < b);
}

// The order of the field's value against a value text; nullopt when the
// type has no order or the text cannot be read.
std::optional<int> CompareWithText(std::span<const std::uint8_t> record,
                                   const FieldDescriptor& field, std::string_view text,
                                   const Collation& collation) {
  try {
    switch (field.EngineType) {
      case kTypeString:
        return collation.Compare(ReadString(record, field), text, false);
      case kTypeDate:
        return Sign(ReadDate(record, field), MomentOf(field.EngineType, text));
      case kTypeTime:
        return Sign(ReadTime(record, field), MomentOf(field.EngineType, text));
      case kTypeTimestamp: {
        const std::optional<double> value = ReadTimestamp(record, field);
        if (!value) return std::nullopt;
        return Sign(*value, MomentOf(field.EngineType, text));
      }
      case kTypeBoolean:
        return Sign(ReadBoolean(record, field), EngineTextToBoolean(text));
      case kTypeSmallint:
      case kTypeInteger:
      case kTypeWord:
      case kTypeLargeint:
        return Sign(ReadInteger(record, field), EngineTextToLargeint(text));
      case kTypeFloat:
        return Sign(ReadFloat(record, field), EngineTextToFloat(text));
      case kTypeBcd: {
        const std::optional<Currency> value = ReadBcd(record, field);
        if (!value) return std::nullopt;
        return Sign(*value, EngineTextToCurrency(text));
      }
      default:
        return std::nullopt;
    }
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

}  // namespace

void ApplyDefaultValue(std::span<std::uint8_t> record, const FieldDescriptor& field,
                       const Collation& collation) {
  const std::string_view text = field.DefaultValue;
  if (text.empty() || field.EngineType == kTypeBlob || IsSystemField(field)) return;
  try {
    switch (field.EngineType) {
      case kTypeString:
        if (IsKeyword(text, "CURRENT_GUID")) {
          WriteString(record, field, platform::NewGuidText(), collation);
        } else {
          WriteString(record, field, text, collation);
        }
        return;
      case kTypeDate: WriteDate(record, field, MomentOf(field.EngineType, text)); return;
      case kTypeTime: WriteTime(record, field, MomentOf(field.EngineType, text)); return;
      case kTypeTimestamp: WriteTimestamp(record, field, MomentOf(field.EngineType, text)); return;
      case kTypeBoolean: WriteBoolean(record, field, EngineTextToBoolean(text) ? 1 : 0); return;
      case kTypeSmallint:
      case kTypeInteger:
      case kTypeWord:
      case kTypeLargeint: WriteInteger(record, field, EngineTextToLargeint(text)); return;
      case kTypeFloat: WriteFloat(record, field, EngineTextToFloat(text)); return;
      case kTypeBcd: WriteBcd(record, field, EngineTextToCurrency(text)); return;
      case kTypeBytes:
      case kTypeVarBytes:
        WriteBytes(record, field,
                   {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        return;
      default: return;
    }
  } catch (const EConvertError&) {
    // A default that does not convert to the field's type is not applied: the
    // field keeps what it holds and the record is still written.
  }
}

bool HasValueRules(const FieldDescriptor& field) {
  return field.Required != 0 || !field.MinValue.empty() || !field.MaxValue.empty();
}

ErrorCode CheckFieldValue(std::span<const std::uint8_t> record, const FieldDescriptor& field,
                          const Collation& collation) {
  const bool null = FieldIsNull(record, field);
  if (field.Required != 0 && null) return STRATA_REQDERR;
  if (null && field.EngineType != kTypeString) return 0;
  if (!field.MinValue.empty()) {
    const std::optional<int> order = CompareWithText(record, field, field.MinValue, collation);
    if (order && *order < 0) return STRATA_MINVALERR;
  }
  if (!field.MaxValue.empty()) {
    const std::optional<int> order = CompareWithText(record, field, field.MaxValue, collation);
    if (order && *order > 0) return STRATA_MAXVALERR;
  }
  return 0;
}

}  // namespace strata
