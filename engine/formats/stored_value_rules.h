// The rules the bytes of a stored record follow beyond its header: every
// field's NullFlag is 0 or 1; a NULL field's value bytes are zero; a value
// is one its type can hold (a string starts with a character and has only
// zeros after its terminator, a wide string likewise by code units; a
// boolean is 0 or 1; a date a day from 0001-01-01 to 9999-12-31; a time
// below 24 hours; a timestamp a finite moment in those days; a BCD value
// readable with its precision and digits); a BLOB field has NullFlag 1
// exactly when its reference names a first block, and an all-zero
// reference otherwise; and the padding after the last field is zero.
// Verification reports a record that breaks them; a repair makes the field
// NULL (the padding zero).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "engine/formats/field_descriptor.h"

namespace strata {

// Why the field's stored bytes cannot be a value of the field; nullopt when
// they follow the rules.
std::optional<std::string> StoredValueFault(std::span<const std::uint8_t> record,
                                            const FieldDescriptor& field);

// True when every byte after the last field, up to the record's end, is 0.
bool RecordPaddingIsZero(std::span<const std::uint8_t> record,
                         std::span<const FieldDescriptor> fields);
// Zeroes those bytes.
void ZeroRecordPadding(std::span<std::uint8_t> record, std::span<const FieldDescriptor> fields);

}  // namespace strata
