// The value rules of a field that an insert applies to a record: the
// default value (from the field's default text) and the required flag,
// minimum and maximum (from its value texts).
//
// Value texts are read with the engine's own text forms. The keywords
// "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP" (date, time and
// timestamp fields) and "CURRENT_GUID" (string fields) are recognised
// without regard to letter case and stand for the moment (or a new GUID)
// when the rule is applied.
#pragma once

#include <span>

#include "engine/errors/error_codes.h"
#include "engine/formats/field_descriptor.h"
#include "engine/locale/collation.h"

namespace strata {

// Stores the field's default value when it has a default text (BLOB fields
// have none). A text that cannot be read leaves the field as it was.
void ApplyDefaultValue(std::span<std::uint8_t> record, const FieldDescriptor& field,
                       const Collation& collation);

// 0 when the field's value keeps its rules; else STRATA_REQDERR (required
// and NULL), STRATA_MINVALERR or STRATA_MAXVALERR. Strings compare in the
// table's collation (a NULL string as the empty text), dates, times and
// timestamps as moments, booleans with false below true, numbers
// numerically; other NULL values are not compared.
ErrorCode CheckFieldValue(std::span<const std::uint8_t> record, const FieldDescriptor& field,
                          const Collation& collation);

// Whether the field has a rule CheckFieldValue tests.
bool HasValueRules(const FieldDescriptor& field);

}  // namespace strata
