#include "engine/formats/field_rules.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/locale/windows1252.h"
#include "engine/values/convert_error.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

char UpperByte(char c) {
  return static_cast<char>(kWindows1252Upper[static_cast<unsigned char>(c)]);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperByte(a[i]) != UpperByte(b[i])) return false;
  }
  return true;
}

bool IntegerInRange(std::string_view text, std::int64_t low, std::int64_t high) {
  const std::int64_t value = EngineTextToLargeint(text);
  return value >= low && value <= high;
}

}  // namespace

std::string_view TrimName(std::string_view name) {
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
  return name;
}

bool IsValidFieldName(std::string_view name) {
  name = TrimName(name);
  if (name.empty() || name.size() > kMaxFieldNameLength) return false;
  const auto first = static_cast<unsigned char>(name.front());
  return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '_' ||
         (first >= 128 && first <= 254);
}

bool SameFieldName(std::string_view a, std::string_view b) {
  return SameIgnoringCase(TrimName(a), TrimName(b));
}

bool IsValidValueText(std::uint8_t engineType, std::string_view text) {
  if (text.empty()) return true;
  const auto is = [&](std::string_view keyword) { return SameIgnoringCase(text, keyword); };
  try {
    switch (engineType) {
      case kTypeBlob: return false;
      case kTypeDate:
        if (is("CURRENT_DATE")) return true;
        EngineTextToDate(text);
        return true;
      case kTypeBoolean:
        EngineTextToBoolean(text);
        return true;
      case kTypeSmallint:
        return IntegerInRange(text, std::numeric_limits<std::int16_t>::min(),
                              std::numeric_limits<std::int16_t>::max());
      case kTypeInteger:
        return IntegerInRange(text, std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max());
      case kTypeWord: return IntegerInRange(text, 0, std::numeric_limits<std::uint16_t>::max());
      case kTypeLargeint:
        EngineTextToLargeint(text);
        return true;
      case kTypeFloat:
      case kTypeBcd:
        // A decimal number: the parser's "INF" and "NAN" are no limit or
        // default (a NAN minimum would hold nothing back).
        return std::isfinite(EngineTextToFloat(text));
      case kTypeTime:
        if (is("CURRENT_TIME")) return true;
        EngineTextToTime(text);
        return true;
      case kTypeTimestamp:
        if (is("CURRENT_TIMESTAMP") || is("CURRENT_DATE") || is("CURRENT_TIME")) return true;
        EngineTextToTimestamp(text);
        return true;
      default:  // strings, bytes and the types without a text form
        return true;
    }
  } catch (const EConvertError&) {
    return false;
  }
}

bool HasDeclaredLength(std::uint8_t engineType) {
  return engineType == kTypeString || engineType == kTypeBytes || engineType == kTypeVarBytes;
}

std::uint16_t MaxDeclaredLength(std::uint8_t engineType, std::uint8_t subType) {
  if (!HasDeclaredLength(engineType)) return 0;
  return engineType == kTypeString && subType == kSubTypeWideString ? kMaxWideDeclaredLength
                                                                    : kMaxDeclaredLength;
}

bool IsValidDeclaredLength(std::uint8_t engineType, std::uint8_t subType,
                           std::uint16_t declaredLength) {
  return declaredLength <= MaxDeclaredLength(engineType, subType);
}

void ComputePhysicalSize(FieldDescriptor& field) {
  field.PhysicalSize = PhysicalSizeOf(field.EngineType, field.SubType, field.DeclaredLength);
  field.PhysicalDecimals = field.DeclaredDecimals;
}

}  // namespace strata
