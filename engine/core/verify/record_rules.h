// The rules a record in use must keep for a repair to leave it in its table,
// beyond the bytes its types allow (stored_value_rules.h):
//
// StringValueFault: a string value must be stored as the write path stores
// the text it holds: ended by a zero (a narrow text holds at most
// PhysicalSize - 1 characters), zeros after it, without trailing blanks
// (unless the field is fixed-length) and in the field's letter case. The
// fault is named; with fix the value is rewritten that way (a text left
// empty becomes NULL).
//
// BrokenRecordRule: what the table refuses to hold: a required field that is
// NULL, a NULL in a field of the primary index (the key that identifies the
// record everywhere it is exported), a value below its field's minimum or
// above its maximum. Limits that name the moment ("CURRENT_DATE",
// "CURRENT_TIME", "CURRENT_TIMESTAMP") are left out: a record that kept them
// when it was written may not keep them today. The first broken rule in
// field order is named; nullopt when the record keeps them all.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/formats/field_descriptor.h"
#include "engine/locale/collation.h"

namespace strata {

std::optional<std::string> StringValueFault(std::span<std::uint8_t> record,
                                            const FieldDescriptor& field,
                                            const Collation& collation, bool fix);

// primaryKeyFields: the fields of the primary index (system fields left
// out).
std::optional<std::string> BrokenRecordRule(
    std::span<const std::uint8_t> record, std::span<const FieldDescriptor> fields,
    const std::vector<const FieldDescriptor*>& primaryKeyFields, const Collation& collation);

}  // namespace strata
