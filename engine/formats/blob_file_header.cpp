#include "engine/formats/blob_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"

namespace strata {

namespace {

constexpr std::size_t kChangeCount = 0;
constexpr std::size_t kFormatVersion = 8;
constexpr std::size_t kSignatureDigest = 9;
constexpr std::size_t kFirstFreeBlock = 25;
constexpr std::size_t kNextBlockNumber = 29;
constexpr std::size_t kHeaderModified = 33;

}  // namespace

void BlobFileHeader::Encode(std::span<std::uint8_t, kBlobHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  StoreI32(p + kChangeCount, ChangeCount);
  p[kFormatVersion] = FormatVersion;
  std::copy(SignatureDigest.begin(), SignatureDigest.end(), p + kSignatureDigest);
  StoreI32(p + kFirstFreeBlock, FirstFreeBlock);
  StoreI32(p + kNextBlockNumber, NextBlockNumber);
  p[kHeaderModified] = HeaderModified ? 1 : 0;
}

void BlobFileHeader::Decode(std::span<const std::uint8_t, kBlobHeaderSize> image) {
  const std::uint8_t* p = image.data();
  ChangeCount = LoadI32(p + kChangeCount);
  FormatVersion = p[kFormatVersion];
  std::copy_n(p + kSignatureDigest, SignatureDigest.size(), SignatureDigest.begin());
  FirstFreeBlock = LoadI32(p + kFirstFreeBlock);
  NextBlockNumber = LoadI32(p + kNextBlockNumber);
  HeaderModified = false;
}

}  // namespace strata
