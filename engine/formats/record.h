// TRecord: the cached buffer of one record slot of a data file. Its payload
// is the whole slot (RecordSize bytes). An enciphered table's slots are
// deciphered as they are loaded and enciphered as they are saved, each slot
// on its own. The header accessors read and write the first 25 bytes; the
// setters mark the buffer dirty.
#pragma once

#include <cstdint>
#include <span>

#include "engine/crypto/md5.h"
#include "engine/files/buffer.h"

namespace strata {

class TDataFile;

class TRecord : public TBuffer {
 public:
  explicit TRecord(TDataFile& owner);

  void LoadUnit(std::span<const std::byte> unit) override;
  void SaveUnit(std::span<std::byte> unit) override;

  // The slot as bytes, for the field value functions of record_values.h.
  std::span<std::uint8_t> Image();
  std::span<const std::uint8_t> Image() const;

  // 0 in use, 1 deleted (on the free chain); any value but 1 is in use.
  std::uint8_t RecordStatus() const;
  void SetRecordStatus(std::uint8_t status);
  bool Deleted() const;
  // Next free slot of a deleted slot, the slot's own number otherwise.
  std::int32_t RecordLink() const;
  void SetRecordLink(std::int32_t link);
  std::int32_t RecordID() const;
  void SetRecordID(std::int32_t id);
  Md5Digest RecordHash() const;
  void SetRecordHash(const Md5Digest& hash);

 private:
  TDataFile& file_;
};

}  // namespace strata
