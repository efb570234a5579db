#include "engine/formats/index_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

// The header fields, where index_file_header_layout.h places them.
using index_header_layout::kFirstFreePage;
using index_header_layout::kNextPageNumber;
using index_header_layout::kSecondaryIndexCount;
using index_header_layout::kRootPage;
using index_header_layout::kAuxPage;
using index_header_layout::kHeaderModified;
using index_header_layout::kPageNumberSize;

// The descriptor fields.
using index_descriptor_layout::kName;
using index_descriptor_layout::kKeyLength;
using index_descriptor_layout::kDescending;
using index_descriptor_layout::kCaseInsensitive;
using index_descriptor_layout::kUnique;
using index_descriptor_layout::kCompression;
using index_descriptor_layout::kFieldCount;
using index_descriptor_layout::kDescendingFields;
using index_descriptor_layout::kFieldNumbers;
using index_descriptor_layout::kFullText;
using index_descriptor_layout::kFieldNumberSize;

using index_descriptor_layout::kNameLength;

}  // namespace

void IndexFileHeader::Encode(std::span<std::uint8_t, kIndexHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  EncodeStart(image);
  StoreI32(p + kFirstFreePage, FirstFreePage);
  StoreI32(p + kNextPageNumber, NextPageNumber);
  p[kSecondaryIndexCount] = SecondaryIndexCount;
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    StoreI32(p + kRootPage + kPageNumberSize * s, RootPage[s]);
    StoreI32(p + kAuxPage + kPageNumberSize * s, AuxPage[s]);
  }
  p[kHeaderModified] = HeaderModified ? 1 : 0;
}

void IndexFileHeader::Decode(std::span<const std::uint8_t, kIndexHeaderSize> image) {
  const std::uint8_t* p = image.data();
  DecodeStart(image);
  FirstFreePage = LoadI32(p + kFirstFreePage);
  NextPageNumber = LoadI32(p + kNextPageNumber);
  SecondaryIndexCount = p[kSecondaryIndexCount];
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    RootPage[s] = LoadI32(p + kRootPage + kPageNumberSize * s);
    AuxPage[s] = LoadI32(p + kAuxPage + kPageNumberSize * s);
  }
  HeaderModified = false;
}

void IndexDescriptor::Encode(std::span<std::uint8_t, kIndexDescriptorSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  WriteShortText(image.subspan(kName), kNameLength, Name);
  StoreU16(p + kKeyLength, KeyLength);
  p[kDescending] = Descending;
  p[kCaseInsensitive] = CaseInsensitive;
  p[kUnique] = Unique;
  p[kCompression] = Compression;
  p[kFieldCount] = FieldCount;
  for (std::size_t i = 0; i < kMaxKeyFields; ++i) {
    p[kDescendingFields + i] = DescendingFields[i];
    StoreU16(p + kFieldNumbers + kFieldNumberSize * i, FieldNumbers[i]);
  }
  p[kFullText] = FullText;
}

bool IndexDescriptor::Decode(std::span<const std::uint8_t, kIndexDescriptorSize> image) {
  const std::uint8_t* p = image.data();
  auto name = ReadShortText(image.subspan(kName), kNameLength);
  if (!name) return false;
  Name = std::move(*name);
  KeyLength = LoadU16(p + kKeyLength);
  Descending = p[kDescending];
  CaseInsensitive = p[kCaseInsensitive];
  Unique = p[kUnique];
  Compression = p[kCompression];
  FieldCount = p[kFieldCount];
  for (std::size_t i = 0; i < kMaxKeyFields; ++i) {
    DescendingFields[i] = p[kDescendingFields + i];
    FieldNumbers[i] = LoadU16(p + kFieldNumbers + kFieldNumberSize * i);
  }
  FullText = p[kFullText];
  return true;
}

}  // namespace strata
