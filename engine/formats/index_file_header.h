// IndexFileHeader (the first 512 bytes of an index file) and IndexDescriptor
// (one of the 32 768-byte slots that follow it: 0 the primary index, 1 to 30
// the secondary indexes, 31 the full-text index "Sys Text").
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/formats/index_file_header_layout.h"
#include "engine/formats/table_file_header.h"

namespace strata {

inline constexpr std::size_t kFullTextSlot = 31;

struct IndexFileHeader : TableFileHeader {
  std::int32_t FirstFreePage = 0;
  std::int32_t NextPageNumber = 1;
  std::uint8_t SecondaryIndexCount = 0;
  std::array<std::int32_t, kIndexSlotCount> RootPage{};
  std::array<std::int32_t, kIndexSlotCount> AuxPage{};
  bool HeaderModified = false;

  void Encode(std::span<std::uint8_t, kIndexHeaderSize> image) const;
  // HeaderModified is cleared whatever the image holds.
  void Decode(std::span<const std::uint8_t, kIndexHeaderSize> image);
};

struct IndexDescriptor {
  std::string Name;  // at most 60 characters
  std::uint16_t KeyLength = 0;
  std::uint8_t Descending = 0;       // whole-index flag kept for the components
  std::uint8_t CaseInsensitive = 0;
  std::uint8_t Unique = 0;
  std::uint8_t Compression = 0;      // 0 none, 1 duplicate-byte, 2 trailing-byte, 3 both
  std::uint8_t FieldCount = 0;
  std::array<std::uint8_t, kMaxKeyFields> DescendingFields{};
  std::array<std::uint16_t, kMaxKeyFields> FieldNumbers{};
  std::uint8_t FullText = 0;

  // Fills the 768-byte image; reserved and bookkeeping bytes are zero.
  void Encode(std::span<std::uint8_t, kIndexDescriptorSize> image) const;
  // False when the name's length byte is out of range.
  bool Decode(std::span<const std::uint8_t, kIndexDescriptorSize> image);

  bool operator==(const IndexDescriptor&) const = default;
};

}  // namespace strata
