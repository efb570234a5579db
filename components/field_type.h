// The component-level data types of a field definition and how each one is
// handed to the engine: engine type and sub-type codes, the size a new
// definition of the type starts with, and the rule its size must follow.
#pragma once

#include <cstdint>

#include "components/flag_set.h"

namespace strata {

// The ordinals are fixed: they are the values callers and stored component
// descriptions use.
enum TFieldType : std::uint8_t {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};
inline constexpr int kFieldTypeCount = 38;

enum TFieldCharCase : std::uint8_t { fcNoChange = 0, fcLowerCase = 1, fcUpperCase = 2 };

// Field attributes by bit value; only faRequired (the field must not be
// empty) is used.
enum TFieldAttribute : std::uint8_t { faRequired = 4 };
using TFieldAttributes = FlagSet<TFieldAttribute>;

struct EngineFieldType {
  std::uint8_t Type = 0;  // 0: the type has no engine counterpart
  std::uint8_t SubType = 0;
};

// Engine type and sub-type a field of this type is stored as.
EngineFieldType EngineFieldTypeOf(TFieldType type);

// The size a definition takes when its type is set.
std::int32_t DefaultFieldSize(TFieldType type);

// Checks the low 16 bits of size against the type's rule: 1 to 512 for the
// character and byte types, at most 32 decimal places for ftBCD, 0 for
// every other type. Raises EDatabaseError "Invalid field size" otherwise.
void ValidateFieldSize(TFieldType type, std::int32_t size);

}  // namespace strata
