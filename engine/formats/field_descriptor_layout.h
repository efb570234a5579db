// Where the fields of a field descriptor lie. The descriptors of a table's
// fields follow the data file header, one 768-byte entry per field in field
// order, and are enciphered as one block when the table is.
//
//   offset size  field                offset size  field
//        0    2  FieldNumber             172    2  FieldOffset
//        2   61  Name (text[60])         174    1  Required
//       63  101  Description (text[100]) 175    1  CharCase
//      164    1  EngineType              176  101  MinValue (text[100])
//      165    1  SubType                 277  101  MaxValue (text[100])
//      166    2  DeclaredLength          378  101  DefaultValue (text[100])
//      168    1  DeclaredDecimals        479    1  Compression
//      169    2  PhysicalSize            480    1  Computed
//      171    1  PhysicalDecimals        481  287  (reserved, zero)
//
// Integers are little-endian; a text[N] is a length byte and N character
// bytes.
#pragma once

#include <cstddef>

namespace strata {

inline constexpr std::size_t kFieldDescriptorSize = 768;

namespace field_descriptor_layout {

inline constexpr std::size_t kFieldNumber = 0;
inline constexpr std::size_t kFieldNumberSize = 2;
inline constexpr std::size_t kName = 2;
inline constexpr std::size_t kNameLength = 60;  // characters at most
inline constexpr std::size_t kNameSize = 1 + kNameLength;
// The description and the three value texts hold 100 characters each.
inline constexpr std::size_t kTextLength = 100;
inline constexpr std::size_t kDescription = 63;
inline constexpr std::size_t kDescriptionSize = 1 + kTextLength;
inline constexpr std::size_t kEngineType = 164;
inline constexpr std::size_t kEngineTypeSize = 1;
inline constexpr std::size_t kSubType = 165;
inline constexpr std::size_t kSubTypeSize = 1;
inline constexpr std::size_t kDeclaredLength = 166;
inline constexpr std::size_t kDeclaredLengthSize = 2;
inline constexpr std::size_t kDeclaredDecimals = 168;
inline constexpr std::size_t kDeclaredDecimalsSize = 1;
inline constexpr std::size_t kPhysicalSize = 169;
inline constexpr std::size_t kPhysicalSizeSize = 2;
inline constexpr std::size_t kPhysicalDecimals = 171;
inline constexpr std::size_t kPhysicalDecimalsSize = 1;
inline constexpr std::size_t kFieldOffset = 172;
inline constexpr std::size_t kFieldOffsetSize = 2;
inline constexpr std::size_t kRequired = 174;
inline constexpr std::size_t kRequiredSize = 1;
inline constexpr std::size_t kCharCase = 175;
inline constexpr std::size_t kCharCaseSize = 1;
inline constexpr std::size_t kMinValue = 176;
inline constexpr std::size_t kMinValueSize = 1 + kTextLength;
inline constexpr std::size_t kMaxValue = 277;
inline constexpr std::size_t kMaxValueSize = 1 + kTextLength;
inline constexpr std::size_t kDefaultValue = 378;
inline constexpr std::size_t kDefaultValueSize = 1 + kTextLength;
inline constexpr std::size_t kCompression = 479;
inline constexpr std::size_t kCompressionSize = 1;
inline constexpr std::size_t kComputed = 480;
inline constexpr std::size_t kComputedSize = 1;

static_assert(kComputed + kComputedSize <= kFieldDescriptorSize);

}  // namespace field_descriptor_layout

}  // namespace strata
