// The rules a stored field must follow: the shape of a field name, the value
// texts (minimum, maximum, default) each type accepts, and the record layout
// that the descriptors of a table give (PhysicalSize, FieldOffset and the
// record size). Table creation and the data file's consistency check both
// use them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/record_layout.h"

namespace strata {

inline constexpr std::size_t kMaxFieldNameLength = field_descriptor_layout::kNameLength;
inline constexpr std::uint16_t kMaxFieldCount = 1024;
inline constexpr std::uint16_t kMaxBlobFieldCount = 128;
inline constexpr std::int32_t kMaxRecordSize = 65534;
// The longest declared length of a string or byte field; a wide string
// holds at most half as many characters.
inline constexpr std::uint16_t kMaxDeclaredLength = 512;
inline constexpr std::uint16_t kMaxWideDeclaredLength = 256;

// The name without leading and trailing blanks (spaces and control bytes).
std::string_view TrimName(std::string_view name);
// 1 to 60 characters after trimming, first character a letter, "_" or a
// byte from 128 to 254.
bool IsValidFieldName(std::string_view name);
// Names compare without regard to letter case (the code page's own case
// mapping), after trimming.
bool SameFieldName(std::string_view a, std::string_view b);

// True when the text is an acceptable minimum, maximum or default value of a
// field of the type: empty always is; BLOB fields take no value text.
bool IsValidValueText(std::uint8_t engineType, std::string_view text);

// Whether fields of the type have a declared length: strings and byte fields.
bool HasDeclaredLength(std::uint8_t engineType);
// The longest declared length a field of the type may have: 512 characters or
// bytes for strings and byte fields (256 for wide strings), 0 otherwise.
std::uint16_t MaxDeclaredLength(std::uint8_t engineType, std::uint8_t subType);

// The declared length a stored field of the type may have: 1..512 characters
// or bytes for strings and byte fields (256 for wide strings), 0 otherwise.
bool IsValidDeclaredLength(std::uint8_t engineType, std::uint8_t subType,
                           std::uint16_t declaredLength);

// Fills PhysicalSize and PhysicalDecimals from the type and declared values.
void ComputePhysicalSize(FieldDescriptor& field);

// Rounds up to a multiple of 8.
constexpr std::int64_t RoundUpTo8(std::int64_t value) { return (value + 7) / 8 * 8; }

}  // namespace strata
