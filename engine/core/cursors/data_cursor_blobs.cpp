// TDataCursor: the BLOB values of record buffers. An open value is named in
// its buffer by the negated handle in the first four bytes of the field's
// reference; handle n is entry n - 1 of the cursor's list.
#include <algorithm>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/cursor_write_state.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/blob_buffer.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::size_t kMaxOpenBlobs = 128;

bool InTextIndex(const TDataTable& table, std::uint16_t number) {
  const IndexDescriptor& text = table.IndexFile()->Descriptor(kFullTextSlot);
  const std::size_t count = std::min<std::size_t>(text.FieldCount, kMaxKeyFields);
  return std::find(text.FieldNumbers.begin(), text.FieldNumbers.begin() + count, number) !=
         text.FieldNumbers.begin() + count;
}

}  // namespace

TBlobBuffer* TDataCursor::OpenBlobOf(std::span<const std::uint8_t> record,
                                     const FieldDescriptor& field) const {
  const std::int32_t first = ReadBlobReference(record, field).FirstBlock;
  if (first >= 0) return nullptr;
  const auto index = static_cast<std::size_t>(-static_cast<std::int64_t>(first)) - 1;
  if (index >= blobs_.size() || !blobs_[index]) Raise(STRATA_INVALIDBLOBOFFSET, field.Name);
  return blobs_[index].get();
}

std::size_t TDataCursor::OpenBlobCount() const {
  return static_cast<std::size_t>(
      std::count_if(blobs_.begin(), blobs_.end(), [](const auto& blob) { return blob != nullptr; }));
}

std::size_t TDataCursor::OpenBlob(std::span<std::uint8_t> record, std::uint16_t number, int mode) {
  RequireOpen();
  const FieldDescriptor& field = RequireField(number);
  if (field.EngineType != kTypeBlob) throw std::invalid_argument(field.Name + " is no BLOB field");
  if (TBlobBuffer* open = OpenBlobOf(record, field)) {
    open->AddReference();
    return open->Value.size();
  }
  if (OpenBlobCount() >= kMaxOpenBlobs) Raise(STRATA_OPENBLOBLIMIT, field.Name);
  const std::int32_t recordNumber = LoadI32(record.data() + record_layout::kLink);
  auto blob = std::make_unique<TBlobBuffer>(field, ReadBlobReference(record, field), recordNumber,
                                            mode);
  if (blob->FirstBlock > 0) {
    TBlobFile* file = table_->BlobFile();
    if (file == nullptr) Raise(STRATA_MEMOCORRUPT, field.Name);
    if (file->ReadBlobChain(*blob, this)) {
      // Changed by another user: the record as stored now names the value.
      std::vector<std::uint8_t> current(static_cast<std::size_t>(RecordSize()));
      const bool same = recordNumber >= 1 && recordNumber <= PhysicalRecordCount() &&
                        ReadRecord(recordNumber, current) &&
                        LoadI32(current.data() + record_layout::kId) ==
                            LoadI32(record.data() + record_layout::kId);
      if (!same) Raise(STRATA_KEYORRECDELETED, field.Name);
      const BlobReference stored = ReadBlobReference(current, field);
      WriteBlobReference(record, field, stored);
      blob->FirstBlock = stored.FirstBlock;
      blob->Revision = stored.Revision;
      if (file->ReadBlobChain(*blob, this)) Raise(STRATA_MEMOCORRUPT, field.Name);
    }
    if (InTextIndex(*table_, field.FieldNumber)) blob->KeepReadCopy();
  }
  blob->Modified = false;
  const std::size_t length = blob->Value.size();
  auto slot = std::find(blobs_.begin(), blobs_.end(), nullptr);
  if (slot == blobs_.end()) slot = blobs_.insert(blobs_.end(), nullptr);
  *slot = std::move(blob);
  const auto handle = static_cast<std::int32_t>(slot - blobs_.begin()) + 1;
  WriteBlobFirstBlock(record, field, -handle);
  record[field.FieldOffset] = length > 0 ? 1 : 0;
  return length;
}

std::span<const std::uint8_t> TDataCursor::BlobValue(std::span<const std::uint8_t> record,
                                                     std::uint16_t number) const {
  const FieldDescriptor& field = RequireField(number);
  const TBlobBuffer* blob = field.EngineType == kTypeBlob ? OpenBlobOf(record, field) : nullptr;
  if (blob == nullptr) Raise(STRATA_INVALIDBLOBOFFSET, field.Name);
  return blob->Value;
}

void TDataCursor::SetBlobValue(std::span<std::uint8_t> record, std::uint16_t number,
                               std::span<const std::uint8_t> bytes) {
  RequireOpen();
  const FieldDescriptor& field = RequireField(number);
  if (field.EngineType != kTypeBlob) throw std::invalid_argument(field.Name + " is no BLOB field");
  TBlobBuffer* blob = OpenBlobOf(record, field);
  if (blob == nullptr) {
    // The old value is replaced as a whole: it need not be read.
    if (OpenBlobCount() >= kMaxOpenBlobs) Raise(STRATA_OPENBLOBLIMIT, field.Name);
    auto created = std::make_unique<TBlobBuffer>(field, ReadBlobReference(record, field),
                                                 LoadI32(record.data() + record_layout::kLink),
                                                 TBlobBuffer::kOpenWrite);
    blob = created.get();
    auto slot = std::find(blobs_.begin(), blobs_.end(), nullptr);
    if (slot == blobs_.end()) slot = blobs_.insert(blobs_.end(), nullptr);
    *slot = std::move(created);
    WriteBlobFirstBlock(record, field, -(static_cast<std::int32_t>(slot - blobs_.begin()) + 1));
  }
  blob->SetValue(bytes);
  record[field.FieldOffset] = bytes.empty() ? 0 : 1;
}

void TDataCursor::CloseBlob(std::span<std::uint8_t> record, std::uint16_t number) {
  const FieldDescriptor& field = RequireField(number);
  TBlobBuffer* blob = field.EngineType == kTypeBlob ? OpenBlobOf(record, field) : nullptr;
  if (blob == nullptr) return;
  blob->ReleaseReference();
  if (blob->OpenCount > 0) return;
  WriteBlobReference(record, field, blob->Reference());
  for (auto& entry : blobs_) {
    if (entry.get() == blob) entry.reset();
  }
}

void TDataCursor::FreeBlobs() { blobs_.clear(); }

}  // namespace strata
