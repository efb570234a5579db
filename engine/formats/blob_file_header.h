// BlobFileHeader: the first 512 bytes of a table's BLOB file.
#pragma once

#include <cstdint>
#include <span>

#include "engine/formats/blob_file_header_layout.h"
#include "engine/formats/table_file_header.h"

namespace strata {

struct BlobFileHeader : TableFileHeader {
  std::int32_t FirstFreeBlock = 0;
  std::int32_t NextBlockNumber = 1;
  bool HeaderModified = false;

  // Fills the 512-byte image; reserved bytes are zero.
  void Encode(std::span<std::uint8_t, kBlobHeaderSize> image) const;
  // HeaderModified is cleared whatever the image holds.
  void Decode(std::span<const std::uint8_t, kBlobHeaderSize> image);
};

}  // namespace strata
