#include "engine/formats/record.h"

#include <algorithm>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/data_file.h"
#include "engine/formats/record_values.h"

namespace strata {

TRecord::TRecord(TDataFile& owner) : TBuffer(owner), file_(owner) {}

void TRecord::LoadUnit(std::span<const std::byte> unit) {
  TBuffer::LoadUnit(unit);
  if (const UnitCipher* cipher = file_.Cipher()) cipher->Decipher(Image());
}

void TRecord::SaveUnit(std::span<std::byte> unit) {
  TBuffer::SaveUnit(unit);
  if (const UnitCipher* cipher = file_.Cipher()) {
    cipher->Encipher({reinterpret_cast<std::uint8_t*>(unit.data()), unit.size()});
  }
}

std::span<std::uint8_t> TRecord::Image() {
  const std::span<std::byte> data = Data();
  return {reinterpret_cast<std::uint8_t*>(data.data()), data.size()};
}

std::span<const std::uint8_t> TRecord::Image() const {
  const std::span<const std::byte> data = Data();
  return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

std::uint8_t TRecord::RecordStatus() const { return Image()[record_layout::kStatus]; }

void TRecord::SetRecordStatus(std::uint8_t status) {
  Image()[record_layout::kStatus] = status;
  Dirty = true;
}

bool TRecord::Deleted() const { return RecordStatus() == kRecordDeleted; }

std::int32_t TRecord::RecordLink() const { return LoadI32(Image().data() + record_layout::kLink); }

void TRecord::SetRecordLink(std::int32_t link) {
  StoreI32(Image().data() + record_layout::kLink, link);
  Dirty = true;
}

std::int32_t TRecord::RecordID() const { return LoadI32(Image().data() + record_layout::kId); }

void TRecord::SetRecordID(std::int32_t id) {
  StoreI32(Image().data() + record_layout::kId, id);
  Dirty = true;
}

Md5Digest TRecord::RecordHash() const {
  Md5Digest hash{};
  std::copy_n(Image().begin() + record_layout::kHash, hash.size(), hash.begin());
  return hash;
}

void TRecord::SetRecordHash(const Md5Digest& hash) {
  std::copy(hash.begin(), hash.end(), Image().begin() + record_layout::kHash);
  Dirty = true;
}

}  // namespace strata
