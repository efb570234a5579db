#include "components/field_type.h"

#include <array>

#include "components/definition_error.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

enum class SizeRule : std::uint8_t {
  kZero,      // the size must be 0
  kLength,    // characters or bytes, 1 to 512
  kDecimals,  // decimal places, 0 to 32
};

struct FieldTypeInfo {
  std::uint8_t EngineType;
  std::uint8_t SubType;
  std::int32_t DefaultSize;
  SizeRule Rule;
};

constexpr std::uint8_t kTypeCursor = 17;  // no stored representation of its own
constexpr std::uint16_t kMaxLength = 512;
constexpr std::uint16_t kMaxDecimals = 32;

constexpr FieldTypeInfo kNone{kTypeInvalid, kSubTypeNone, 0, SizeRule::kZero};
constexpr FieldTypeInfo kPlainBlob{kTypeBlob, kSubTypeNone, 0, SizeRule::kZero};

// Indexed by TFieldType ordinal.
constexpr std::array<FieldTypeInfo, kFieldTypeCount> kFieldTypes = {{
    kNone,                                                     // ftUnknown
    {kTypeString, kSubTypeNone, 20, SizeRule::kLength},        // ftString
    {kTypeSmallint, kSubTypeNone, 0, SizeRule::kZero},         // ftSmallint
    {kTypeInteger, kSubTypeNone, 0, SizeRule::kZero},          // ftInteger
    {kTypeWord, kSubTypeNone, 0, SizeRule::kZero},             // ftWord
    {kTypeBoolean, kSubTypeNone, 0, SizeRule::kZero},          // ftBoolean
    {kTypeFloat, kSubTypeNone, 0, SizeRule::kZero},            // ftFloat
    {kTypeFloat, kSubTypeCurrency, 0, SizeRule::kZero},        // ftCurrency
    {kTypeBcd, kSubTypeNone, 4, SizeRule::kDecimals},          // ftBCD
    {kTypeDate, kSubTypeNone, 0, SizeRule::kZero},             // ftDate
    {kTypeTime, kSubTypeNone, 0, SizeRule::kZero},             // ftTime
    {kTypeTimestamp, kSubTypeNone, 0, SizeRule::kZero},        // ftDateTime
    {kTypeBytes, kSubTypeNone, 16, SizeRule::kLength},         // ftBytes
    {kTypeVarBytes, kSubTypeNone, 16, SizeRule::kLength},      // ftVarBytes
    {kTypeInteger, kSubTypeAutoInc, 0, SizeRule::kZero},       // ftAutoInc
    kPlainBlob,                                                // ftBlob
    {kTypeBlob, kSubTypeMemo, 0, SizeRule::kZero},             // ftMemo
    {kTypeBlob, kSubTypeGraphic, 0, SizeRule::kZero},          // ftGraphic
    {kTypeBlob, kSubTypeMemo, 0, SizeRule::kZero},             // ftFmtMemo
    kPlainBlob,                                                // ftParadoxOle
    kPlainBlob,                                                // ftDBaseOle
    kPlainBlob,                                                // ftTypedBinary
    {kTypeCursor, kSubTypeNone, 0, SizeRule::kZero},           // ftCursor
    {kTypeString, kSubTypeFixedChar, 20, SizeRule::kLength},   // ftFixedChar
    {kTypeString, kSubTypeWideString, 20, SizeRule::kLength},  // ftWideString
    {kTypeLargeint, kSubTypeNone, 0, SizeRule::kZero},         // ftLargeint
    {kTypeAdt, kSubTypeNone, 0, SizeRule::kZero},              // ftADT
    {kTypeArray, kSubTypeNone, 10, SizeRule::kZero},           // ftArray
    {kTypeReference, kSubTypeNone, 0, SizeRule::kZero},        // ftReference
    {kTypeDataSet, kSubTypeNone, 0, SizeRule::kZero},          // ftDataSet
    kPlainBlob,                                                // ftOraBlob
    kPlainBlob,                                                // ftOraClob
    kNone,                                                     // ftVariant
    kNone,                                                     // ftInterface
    kNone,                                                     // ftIDispatch
    {kTypeString, kSubTypeGuid, 38, SizeRule::kLength},        // ftGuid
    kNone,                                                     // ftTimeStamp
    kNone,                                                     // ftFMTBcd
}};

// A value outside the enumeration (a cast from a damaged description) is
// treated like ftUnknown.
constexpr const FieldTypeInfo& InfoOf(TFieldType type) {
  return type < kFieldTypeCount ? kFieldTypes[type] : kNone;
}

}  // namespace

EngineFieldType EngineFieldTypeOf(TFieldType type) {
  const FieldTypeInfo& info = InfoOf(type);
  return {info.EngineType, info.SubType};
}

std::int32_t DefaultFieldSize(TFieldType type) { return InfoOf(type).DefaultSize; }

void ValidateFieldSize(TFieldType type, std::int32_t size) {
  const auto low = static_cast<std::uint16_t>(size);
  bool valid = false;
  switch (InfoOf(type).Rule) {
    case SizeRule::kZero:
      valid = low == 0;
      break;
    case SizeRule::kLength:
      valid = low >= 1 && low <= kMaxLength;
      break;
    case SizeRule::kDecimals:
      valid = low <= kMaxDecimals;
      break;
  }
  if (!valid) RaiseDatabaseError("Invalid field size");
}

}  // namespace strata
