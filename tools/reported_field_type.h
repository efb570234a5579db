// The component view of a stored field: the component type a field of an
// engine type and sub-type reports as, the size it reports, and the names
// of the component enumerations as the tool prints them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/field_type.h"
#include "engine/formats/field_descriptor.h"

namespace strata::tools {

TFieldType ReportedFieldType(std::uint8_t engineType, std::uint8_t subType);

// The component size: characters or bytes for the string and byte types,
// the decimals for ftBCD, 0 for every other type.
std::int32_t ReportedFieldSize(const FieldDescriptor& field);

// "ftString" ...; "ftUnknown" outside the enumeration.
std::string_view FieldTypeName(TFieldType type);
// "fcNoChange", "fcLowerCase", "fcUpperCase"; other stored values as their
// number.
std::string CharCaseName(std::uint8_t charCase);
// "icNone", "icDuplicateByte", "icTrailingByte", "icFull"; other stored
// values as their number.
std::string IndexCompressionName(std::uint8_t compression);

}  // namespace strata::tools
