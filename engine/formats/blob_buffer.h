// TBlobBuffer: one BLOB value held in memory while it is open: the field it
// belongs to, its reference (first block and revision), the number of the
// record it belongs to, the value itself and, for fields that need the old
// words removed from the full-text index, a copy of the value as it was
// read. The stored form of a field with a compression level of 1 to 9 is the
// compressed value; an empty value never goes through the hooks.
//
// Open handles (how a cursor's record buffer names its open BLOBs) belong to
// the cursor, not here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/crypto/compression_hooks.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/record_values.h"

namespace strata {

class TBlobBuffer {
 public:
  // Open modes as the components pass them; a value open in mode 3 is never
  // written back.
  static constexpr int kOpenRead = 1;
  static constexpr int kOpenWrite = 2;
  static constexpr int kOpenNoWriteBack = 3;

  TBlobBuffer(const FieldDescriptor& field, const BlobReference& reference,
              std::int32_t recordNumber, int openMode = kOpenRead);

  const FieldDescriptor& Field() const { return field_; }
  BlobReference Reference() const { return {FirstBlock, Revision}; }

  // Replaces the value, or cuts or zero-extends it; both mark it modified.
  void SetValue(std::span<const std::uint8_t> bytes);
  void SetLength(std::size_t length);
  // Open count: +1, and -1 (not below 0).
  void AddReference() { ++OpenCount; }
  void ReleaseReference();
  // Keeps the current value as the copy as read.
  void KeepReadCopy() { ReadCopy = Value; }
  // The bytes to store: the value, compressed at the field's level when it
  // has one (STRATA_COMPRESS when the hook fails).
  std::vector<std::uint8_t> StoredForm(const CompressionHooks& hooks) const;
  // Replaces the stored bytes just read by the value they hold (STRATA_UNCOMPRESS when
  // the hook fails).
  void DecompressAfterRead(const CompressionHooks& hooks);

  std::int32_t FirstBlock = 0;
  std::int32_t Revision = 0;
  std::int32_t RecordNumber = 0;
  int OpenMode = kOpenRead;
  int OpenCount = 1;
  bool Modified = false;
  std::vector<std::uint8_t> Value;
  std::vector<std::uint8_t> ReadCopy;

 private:
  FieldDescriptor field_;
};

}  // namespace strata
