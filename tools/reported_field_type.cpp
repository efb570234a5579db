#include "tools/reported_field_type.h"

#include <array>

#include "engine/values/field_types.h"

namespace strata::tools {

namespace {

constexpr std::array<std::string_view, kFieldTypeCount> kFieldTypeNames = {
    "ftUnknown",   "ftString",     "ftSmallint",   "ftInteger",     "ftWord",
    "ftBoolean",   "ftFloat",      "ftCurrency",   "ftBCD",         "ftDate",
    "ftTime",      "ftDateTime",   "ftBytes",      "ftVarBytes",    "ftAutoInc",
    "ftBlob",      "ftMemo",       "ftGraphic",    "ftFmtMemo",     "ftParadoxOle",
    "ftDBaseOle",  "ftTypedBinary", "ftCursor",    "ftFixedChar",   "ftWideString",
    "ftLargeint",  "ftADT",        "ftArray",      "ftReference",   "ftDataSet",
    "ftOraBlob",   "ftOraClob",    "ftVariant",    "ftInterface",   "ftIDispatch",
    "ftGuid",      "ftTimeStamp",  "ftFMTBcd",
};

TFieldType BlobFieldType(std::uint8_t subType) {
  switch (subType) {
    case kSubTypeMemo:
    case kSubTypeMemoAlt1:
    case kSubTypeMemoAlt2: return ftMemo;
    case kSubTypeGraphic: return ftGraphic;
    default: return ftBlob;
  }
}

}  // namespace

TFieldType ReportedFieldType(std::uint8_t engineType, std::uint8_t subType) {
  switch (engineType) {
    case kTypeString:
      if (subType == kSubTypeFixedChar) return ftFixedChar;
      if (subType == kSubTypeWideString) return ftWideString;
      if (subType == kSubTypeGuid) return ftGuid;
      return ftString;
    case kTypeDate: return ftDate;
    case kTypeBlob: return BlobFieldType(subType);
    case kTypeBoolean: return ftBoolean;
    case kTypeSmallint: return ftSmallint;
    case kTypeInteger: return subType == kSubTypeAutoInc ? ftAutoInc : ftInteger;
    case kTypeFloat: return subType == kSubTypeCurrency ? ftCurrency : ftFloat;
    case kTypeBcd: return ftBCD;
    case kTypeBytes: return ftBytes;
    case kTypeTime: return ftTime;
    case kTypeTimestamp: return ftDateTime;
    case kTypeWord: return ftWord;
    case kTypeOtherInteger: return ftInteger;
    case kTypeVarBytes: return ftVarBytes;
    case kTypeLargeint:
    case kTypeOtherLargeint: return ftLargeint;
    case kTypeAdt: return ftADT;
    case kTypeArray: return ftArray;
    case kTypeReference: return ftReference;
    case kTypeDataSet: return ftDataSet;
    default: return ftUnknown;
  }
}

std::int32_t ReportedFieldSize(const FieldDescriptor& field) {
  switch (ReportedFieldType(field.EngineType, field.SubType)) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid:
    case ftBytes:
    case ftVarBytes: return field.DeclaredLength;
    case ftBCD: return field.DeclaredDecimals;
    default: return 0;
  }
}

std::string_view FieldTypeName(TFieldType type) {
  return type < kFieldTypeCount ? kFieldTypeNames[type] : kFieldTypeNames[ftUnknown];
}

std::string CharCaseName(std::uint8_t charCase) {
  switch (charCase) {
    case fcNoChange: return "fcNoChange";
    case fcLowerCase: return "fcLowerCase";
    case fcUpperCase: return "fcUpperCase";
    default: return std::to_string(charCase);
  }
}

std::string IndexCompressionName(std::uint8_t compression) {
  static constexpr std::array<const char*, 4> kNames = {"icNone", "icDuplicateByte",
                                                        "icTrailingByte", "icFull"};
  return compression < kNames.size() ? kNames[compression] : std::to_string(compression);
}

}  // namespace strata::tools
