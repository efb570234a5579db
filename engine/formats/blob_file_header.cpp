#include "engine/formats/blob_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"

namespace strata {

namespace {

// The header fields, where blob_file_header_layout.h places them.
using blob_header_layout::kFirstFreeBlock;
using blob_header_layout::kNextBlockNumber;
using blob_header_layout::kHeaderModified;

}  // namespace

void BlobFileHeader::Encode(std::span<std::uint8_t, kBlobHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  EncodeStart(image);
  StoreI32(p + kFirstFreeBlock, FirstFreeBlock);
  StoreI32(p + kNextBlockNumber, NextBlockNumber);
  p[kHeaderModified] = HeaderModified ? 1 : 0;
}

void BlobFileHeader::Decode(std::span<const std::uint8_t, kBlobHeaderSize> image) {
  const std::uint8_t* p = image.data();
  DecodeStart(image);
  FirstFreeBlock = LoadI32(p + kFirstFreeBlock);
  NextBlockNumber = LoadI32(p + kNextBlockNumber);
  HeaderModified = false;
}

}  // namespace strata
