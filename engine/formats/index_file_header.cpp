#include "engine/formats/index_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

// Header offsets.
constexpr std::size_t kChangeCount = 0;
constexpr std::size_t kFormatVersion = 8;
constexpr std::size_t kSignatureDigest = 9;
constexpr std::size_t kFirstFreePage = 25;
constexpr std::size_t kNextPageNumber = 29;
constexpr std::size_t kSecondaryIndexCount = 33;
constexpr std::size_t kRootPage = 34;
constexpr std::size_t kAuxPage = 162;
constexpr std::size_t kHeaderModified = 290;

// Descriptor offsets.
constexpr std::size_t kName = 0;
constexpr std::size_t kKeyLength = 61;
constexpr std::size_t kDescending = 126;
constexpr std::size_t kCaseInsensitive = 127;
constexpr std::size_t kUnique = 128;
constexpr std::size_t kCompression = 129;
constexpr std::size_t kFieldCount = 130;
constexpr std::size_t kDescendingFields = 131;
constexpr std::size_t kFieldNumbers = 259;
constexpr std::size_t kFullText = 515;

constexpr std::size_t kNameLength = 60;

}  // namespace

void IndexFileHeader::Encode(std::span<std::uint8_t, kIndexHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  StoreI32(p + kChangeCount, ChangeCount);
  p[kFormatVersion] = FormatVersion;
  std::copy(SignatureDigest.begin(), SignatureDigest.end(), p + kSignatureDigest);
  StoreI32(p + kFirstFreePage, FirstFreePage);
  StoreI32(p + kNextPageNumber, NextPageNumber);
  p[kSecondaryIndexCount] = SecondaryIndexCount;
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    StoreI32(p + kRootPage + 4 * s, RootPage[s]);
    StoreI32(p + kAuxPage + 4 * s, AuxPage[s]);
  }
  p[kHeaderModified] = HeaderModified ? 1 : 0;
}

void IndexFileHeader::Decode(std::span<const std::uint8_t, kIndexHeaderSize> image) {
  const std::uint8_t* p = image.data();
  ChangeCount = LoadI32(p + kChangeCount);
  FormatVersion = p[kFormatVersion];
  std::copy_n(p + kSignatureDigest, SignatureDigest.size(), SignatureDigest.begin());
  FirstFreePage = LoadI32(p + kFirstFreePage);
  NextPageNumber = LoadI32(p + kNextPageNumber);
  SecondaryIndexCount = p[kSecondaryIndexCount];
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    RootPage[s] = LoadI32(p + kRootPage + 4 * s);
    AuxPage[s] = LoadI32(p + kAuxPage + 4 * s);
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
    StoreU16(p + kFieldNumbers + 2 * i, FieldNumbers[i]);
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
    FieldNumbers[i] = LoadU16(p + kFieldNumbers + 2 * i);
  }
  FullText = p[kFullText];
  return true;
}

}  // namespace strata
