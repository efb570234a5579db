// Engine type and sub-type codes of stored fields, and the number of bytes a
// value of each type occupies in a record (its physical size). The codes are
// part of the file format: they are stored in every field descriptor.
#pragma once

#include <cstdint>

namespace strata {

// Engine type codes. 0 is invalid.
inline constexpr std::uint8_t kTypeInvalid = 0;
inline constexpr std::uint8_t kTypeString = 1;          // zero-terminated characters
inline constexpr std::uint8_t kTypeDate = 2;            // int32 day number, 0001-01-01 = 1
inline constexpr std::uint8_t kTypeBlob = 3;            // BLOB reference: first block, revision
inline constexpr std::uint8_t kTypeBoolean = 4;         // uint16 0 or 1
inline constexpr std::uint8_t kTypeSmallint = 5;        // int16
inline constexpr std::uint8_t kTypeInteger = 6;         // int32
inline constexpr std::uint8_t kTypeFloat = 7;           // IEEE 754 double
inline constexpr std::uint8_t kTypeBcd = 8;             // 34-byte packed decimal
inline constexpr std::uint8_t kTypeBytes = 9;           // fixed bytes
inline constexpr std::uint8_t kTypeTime = 10;           // int32 milliseconds since midnight
inline constexpr std::uint8_t kTypeTimestamp = 11;      // double milliseconds since 0001-01-01
inline constexpr std::uint8_t kTypeWord = 12;           // uint16
inline constexpr std::uint8_t kTypeOtherInteger = 13;   // reported as an integer
inline constexpr std::uint8_t kTypeVarBytes = 15;       // variable bytes
inline constexpr std::uint8_t kTypeLargeint = 18;       // int64
inline constexpr std::uint8_t kTypeOtherLargeint = 19;  // reported as a largeint
inline constexpr std::uint8_t kTypeAdt = 20;
inline constexpr std::uint8_t kTypeArray = 21;
inline constexpr std::uint8_t kTypeReference = 22;
inline constexpr std::uint8_t kTypeDataSet = 23;

// Sub-type codes.
inline constexpr std::uint8_t kSubTypeNone = 0;
inline constexpr std::uint8_t kSubTypeCurrency = 21;     // float
inline constexpr std::uint8_t kSubTypeMemo = 22;         // BLOB
inline constexpr std::uint8_t kSubTypeMemoAlt1 = 24;     // BLOB, reported as memo
inline constexpr std::uint8_t kSubTypeGraphic = 26;      // BLOB
inline constexpr std::uint8_t kSubTypeAutoInc = 29;      // integer
inline constexpr std::uint8_t kSubTypeFixedChar = 31;    // string
inline constexpr std::uint8_t kSubTypeWideString = 32;   // string
inline constexpr std::uint8_t kSubTypeMemoAlt2 = 33;     // BLOB, reported as memo
inline constexpr std::uint8_t kSubTypeGuid = 50;         // string
inline constexpr std::uint8_t kSubTypeRecordHash = 100;  // bytes of the RecordHash field

// A string field whose values are UTF-16 code units rather than bytes.
constexpr bool IsWideString(std::uint8_t type, std::uint8_t subType) {
  return type == kTypeString && subType == kSubTypeWideString;
}

// A BLOB field that holds text: the memo sub-types.
constexpr bool IsMemo(std::uint8_t type, std::uint8_t subType) {
  return type == kTypeBlob &&
         (subType == kSubTypeMemo || subType == kSubTypeMemoAlt1 || subType == kSubTypeMemoAlt2);
}

// Physical size of a BCD value and the precision values are stored with.
inline constexpr std::uint16_t kBcdSize = 34;
inline constexpr std::uint8_t kBcdPrecision = 32;

// Bytes a value occupies in a record, from its type, sub-type and declared
// length (characters for strings, bytes for the byte types).
constexpr std::uint16_t PhysicalSizeOf(std::uint8_t type, std::uint8_t subType,
                                       std::uint16_t declaredLength) {
  switch (type) {
    case kTypeString:
      return static_cast<std::uint16_t>(
          (subType == kSubTypeWideString ? 2 * declaredLength : declaredLength) + 1);
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime: return 4;
    case kTypeBlob:
    case kTypeFloat:
    case kTypeTimestamp:
    case kTypeLargeint: return 8;
    case kTypeBoolean:
    case kTypeSmallint:
    case kTypeWord: return 2;
    case kTypeBcd: return kBcdSize;
    default:  // bytes, varbytes and every other code
      return declaredLength;
  }
}

// The bytes a reader decodes from a value of the type: the size of the
// fixed-size types; 0 for strings and bytes (as long as their slot) and for
// the codes without an encoding of their own (13 and 19 among them), whose
// values carry no bytes and read as NULL.
constexpr std::uint16_t FixedValueSize(std::uint8_t type) {
  switch (type) {
    case kTypeString:
    case kTypeBytes:
    case kTypeVarBytes: return 0;
    default: return PhysicalSizeOf(type, kSubTypeNone, 0);
  }
}

// The codes reported as numbers that have no stored value of their own.
constexpr bool HasNoStoredValue(std::uint8_t type) {
  return type == kTypeOtherInteger || type == kTypeOtherLargeint;
}

}  // namespace strata
