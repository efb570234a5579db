// Where the fields of an index file's header and of its index descriptors
// lie. An index file starts with this 512-byte header, then 32 descriptor
// slots of 768 bytes (slot 0 the primary index, 1 to 30 the secondary
// indexes, 31 the full-text index), then the pages (index_page_layout.h),
// page 1 at kFirstIndexPageOffset. When the table is enciphered the header
// and the descriptor area (as one unit) are enciphered.
//
//   header                              descriptor slot
//   offset size  field                  offset size  field
//        0    4  ChangeCount                 0   61  Name (text[60])
//        4    4  (reserved)                 61    2  KeyLength
//        8    1  FormatVersion              63   63  (reserved, zero)
//        9   16  SignatureDigest           126    1  Descending
//       25    4  FirstFreePage             127    1  CaseInsensitive
//       29    4  NextPageNumber            128    1  Unique
//       33    1  SecondaryIndexCount       129    1  Compression
//       34  128  RootPage, per slot        130    1  FieldCount
//      162  128  AuxPage, per slot         131  128  DescendingFields, per key field
//      290    1  HeaderModified            259  256  FieldNumbers, per key field
//      291  221  (reserved, zero)          515    1  FullText
//                                          516  252  (reserved, zero)
//
// Page numbers and field numbers are little-endian (4 and 2 bytes each);
// a text[N] is a length byte and N character bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/formats/table_file_header_layout.h"

namespace strata {

inline constexpr std::size_t kIndexHeaderSize = 512;
inline constexpr std::size_t kIndexDescriptorSize = 768;
inline constexpr std::size_t kIndexSlotCount = 32;
inline constexpr std::size_t kMaxKeyFields = 128;
inline constexpr std::size_t kDescriptorAreaSize = kIndexDescriptorSize * kIndexSlotCount;
// Offset of page 1: the header and the 32 descriptor slots come first.
inline constexpr std::int64_t kFirstIndexPageOffset = kIndexHeaderSize + kDescriptorAreaSize;

namespace index_header_layout {

// ChangeCount, FormatVersion and SignatureDigest, as in every table file.
using namespace table_file_header_layout;

inline constexpr std::size_t kFirstFreePage = 25;
inline constexpr std::size_t kFirstFreePageSize = 4;
inline constexpr std::size_t kNextPageNumber = 29;
inline constexpr std::size_t kNextPageNumberSize = 4;
inline constexpr std::size_t kSecondaryIndexCount = 33;
inline constexpr std::size_t kSecondaryIndexCountSize = 1;
// RootPage and AuxPage hold one page number per slot.
inline constexpr std::size_t kPageNumberSize = 4;
inline constexpr std::size_t kRootPage = 34;
inline constexpr std::size_t kRootPageSize = kPageNumberSize * kIndexSlotCount;
inline constexpr std::size_t kAuxPage = 162;
inline constexpr std::size_t kAuxPageSize = kPageNumberSize * kIndexSlotCount;
inline constexpr std::size_t kHeaderModified = 290;
inline constexpr std::size_t kHeaderModifiedSize = 1;

// The descriptor slots start right after the header.
inline constexpr std::size_t kDescriptors = kIndexHeaderSize;

static_assert(kHeaderModified + kHeaderModifiedSize <= kIndexHeaderSize);

}  // namespace index_header_layout

namespace index_descriptor_layout {

inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kNameLength = 60;  // characters at most
inline constexpr std::size_t kNameSize = 1 + kNameLength;
inline constexpr std::size_t kKeyLength = 61;
inline constexpr std::size_t kKeyLengthSize = 2;
inline constexpr std::size_t kDescending = 126;
inline constexpr std::size_t kDescendingSize = 1;
inline constexpr std::size_t kCaseInsensitive = 127;
inline constexpr std::size_t kCaseInsensitiveSize = 1;
inline constexpr std::size_t kUnique = 128;
inline constexpr std::size_t kUniqueSize = 1;
inline constexpr std::size_t kCompression = 129;
inline constexpr std::size_t kCompressionSize = 1;
inline constexpr std::size_t kFieldCount = 130;
inline constexpr std::size_t kFieldCountSize = 1;
// DescendingFields holds a byte per key field, FieldNumbers a field number.
inline constexpr std::size_t kDescendingFields = 131;
inline constexpr std::size_t kDescendingFieldsSize = kMaxKeyFields;
inline constexpr std::size_t kFieldNumberSize = 2;
inline constexpr std::size_t kFieldNumbers = 259;
inline constexpr std::size_t kFieldNumbersSize = kFieldNumberSize * kMaxKeyFields;
inline constexpr std::size_t kFullText = 515;
inline constexpr std::size_t kFullTextSize = 1;

static_assert(kFullText + kFullTextSize <= kIndexDescriptorSize);

}  // namespace index_descriptor_layout

}  // namespace strata
