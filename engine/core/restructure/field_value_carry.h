// Carrying one field value of an old record into the record of a new
// structure, as a full rebuild does for every field that keeps its number.
//
// A BLOB goes into a BLOB whole. A string and a memo carry their text into
// each other; a memo's text is cut to the string's size as a shortened
// string is. A wide string converts as the text it holds in the table's
// code page (Windows-1252): it is read as that text, and a wide field is
// written from the text the conversion gives; a wide string into a wide
// string keeps its code units. Every other pair goes through
// ConvertFieldValue; any other pair with a BLOB on one side is not carried.
//
// Returns true when the value arrived whole (a text cut to a smaller field
// counts as whole). False when it could not be carried, the new field left
// as it was, or when characters of a wide string have no byte in the code
// page: the new field then holds the text with "?" in their place.
#pragma once

#include <cstdint>
#include <span>

#include "engine/formats/field_descriptor.h"

namespace strata {

class TDataCursor;

// The old value (not NULL) is `oldValue`, as the source's GetField gives it
// for the field at `oldPosition` of `oldRecord`. `scratch` is a value buffer
// as ConvertFieldValue needs it for both fields.
bool CarryFieldValue(TDataCursor& source, std::span<std::uint8_t> oldRecord,
                     std::uint16_t oldPosition, const FieldDescriptor& oldField,
                     std::span<const std::uint8_t> oldValue, TDataCursor& target,
                     std::span<std::uint8_t> newRecord, const FieldDescriptor& newField,
                     std::span<std::uint8_t> scratch);

}  // namespace strata
