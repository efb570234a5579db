// TBlock: the cached buffer of one BLOB block. A block is an 18-byte header
// (PrevBlock, NextBlock, DataLength, BlobRevision, BlobLength) and a payload
// of block size - 18 bytes; the buffer keeps the header in fields and the
// payload as its data. An enciphered table's blocks are deciphered whole as
// they are loaded and enciphered whole as they are saved. The setters mark
// the buffer dirty.
#pragma once

#include <cstdint>
#include <span>

#include "engine/files/buffer.h"
#include "engine/formats/blob_block_layout.h"

namespace strata {

class TBlobFile;

struct BlockHeader {
  std::int32_t PrevBlock = 0;
  std::int32_t NextBlock = 0;
  std::uint16_t DataLength = 0;
  std::int32_t BlobRevision = 0;
  std::int32_t BlobLength = 0;  // the whole value's stored length, first block only
};

class TBlock : public TBuffer {
 public:
  explicit TBlock(TBlobFile& owner);

  void CopyFrom(const TBuffer& other) override;
  void Clear() override;
  void LoadUnit(std::span<const std::byte> unit) override;
  void SaveUnit(std::span<std::byte> unit) override;

  const BlockHeader& Header() const { return header_; }
  void SetPrevBlock(std::int32_t block);
  void SetNextBlock(std::int32_t block);
  void SetBlobRevision(std::int32_t revision);
  void SetBlobLength(std::int32_t length);
  // Zeroes the header.
  void ClearHeader();

  // Copies up to out.size() bytes from payload offset `offset`, no further
  // than DataLength; returns the count. More than a payload: STRATA_INVALIDBLOBLEN.
  std::size_t ReadPayload(std::size_t offset, std::span<std::uint8_t> out) const;
  // Writes the bytes at payload offset `offset`; DataLength := offset + n.
  // Past the payload: STRATA_INVALIDBLOBLEN.
  void WritePayload(std::size_t offset, std::span<const std::uint8_t> bytes);

 private:
  [[noreturn]] void RaiseInvalidLength() const;

  TBlobFile& file_;
  BlockHeader header_;
};

}  // namespace strata
