#include "engine/formats/blob_block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/blob_file.h"

namespace strata {

namespace {

// The block header fields, where blob_block_layout.h places them.
using blob_block_layout::kPrevBlock;
using blob_block_layout::kNextBlock;
using blob_block_layout::kDataLength;
using blob_block_layout::kBlobRevision;
using blob_block_layout::kBlobLength;

}  // namespace

TBlock::TBlock(TBlobFile& owner) : TBuffer(owner), file_(owner) {}

void TBlock::CopyFrom(const TBuffer& other) {
  TBuffer::CopyFrom(other);
  if (const auto* block = dynamic_cast<const TBlock*>(&other)) header_ = block->header_;
}

void TBlock::Clear() {
  TBuffer::Clear();
  header_ = BlockHeader{};
}

void TBlock::ClearHeader() {
  header_ = BlockHeader{};
  Dirty = true;
}

void TBlock::LoadUnit(std::span<const std::byte> unit) {
  std::vector<std::uint8_t> image(unit.size() < kBlockHeaderSize ? kBlockHeaderSize : unit.size());
  std::memcpy(image.data(), unit.data(), unit.size());
  if (const UnitCipher* cipher = file_.Cipher()) cipher->Decipher(image);
  const std::uint8_t* p = image.data();
  header_.PrevBlock = LoadI32(p + kPrevBlock);
  header_.NextBlock = LoadI32(p + kNextBlock);
  header_.DataLength = LoadU16(p + kDataLength);
  header_.BlobRevision = LoadI32(p + kBlobRevision);
  header_.BlobLength = LoadI32(p + kBlobLength);
  TBuffer::LoadUnit(std::as_bytes(std::span(image)).subspan(kBlockHeaderSize));
}

void TBlock::SaveUnit(std::span<std::byte> unit) {
  if (unit.size() < kBlockHeaderSize) return;
  auto* p = reinterpret_cast<std::uint8_t*>(unit.data());
  StoreI32(p + kPrevBlock, header_.PrevBlock);
  StoreI32(p + kNextBlock, header_.NextBlock);
  StoreU16(p + kDataLength, header_.DataLength);
  StoreI32(p + kBlobRevision, header_.BlobRevision);
  StoreI32(p + kBlobLength, header_.BlobLength);
  TBuffer::SaveUnit(unit.subspan(kBlockHeaderSize));
  if (const UnitCipher* cipher = file_.Cipher()) cipher->Encipher({p, unit.size()});
}

void TBlock::SetPrevBlock(std::int32_t block) {
  header_.PrevBlock = block;
  Dirty = true;
}

void TBlock::SetNextBlock(std::int32_t block) {
  header_.NextBlock = block;
  Dirty = true;
}

void TBlock::SetBlobRevision(std::int32_t revision) {
  header_.BlobRevision = revision;
  Dirty = true;
}

void TBlock::SetBlobLength(std::int32_t length) {
  header_.BlobLength = length;
  Dirty = true;
}

void TBlock::RaiseInvalidLength() const {
  RaiseTableError(STRATA_INVALIDBLOBLEN, file_.Table().ErrorTableName(),
                  file_.Table().ErrorDatabaseName());
}

std::size_t TBlock::ReadPayload(std::size_t offset, std::span<std::uint8_t> out) const {
  const std::size_t payload = PayloadSize();
  if (out.size() > payload || offset > payload) RaiseInvalidLength();
  const std::size_t available = std::min<std::size_t>(header_.DataLength, payload);
  if (offset >= available) return 0;
  const std::size_t n = std::min(out.size(), available - offset);
  std::memcpy(out.data(), Data().data() + offset, n);
  return n;
}

void TBlock::WritePayload(std::size_t offset, std::span<const std::uint8_t> bytes) {
  const std::size_t payload = PayloadSize();
  if (bytes.size() > payload || offset > payload - bytes.size()) RaiseInvalidLength();
  std::memcpy(Data().data() + offset, bytes.data(), bytes.size());
  header_.DataLength = static_cast<std::uint16_t>(offset + bytes.size());
  Dirty = true;
}

}  // namespace strata
