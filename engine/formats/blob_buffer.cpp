#include "engine/formats/blob_buffer.h"

namespace strata {

TBlobBuffer::TBlobBuffer(const FieldDescriptor& field, const BlobReference& reference,
                         std::int32_t recordNumber, int openMode)
    : FirstBlock(reference.FirstBlock),
      Revision(reference.Revision),
      RecordNumber(recordNumber),
      OpenMode(openMode),
      field_(field) {}

void TBlobBuffer::SetValue(std::span<const std::uint8_t> bytes) {
  Value.assign(bytes.begin(), bytes.end());
  Modified = true;
}

void TBlobBuffer::SetLength(std::size_t length) {
  Value.resize(length);
  Modified = true;
}

void TBlobBuffer::ReleaseReference() {
  if (OpenCount > 0) --OpenCount;
}

std::vector<std::uint8_t> TBlobBuffer::StoredForm(const CompressionHooks& hooks) const {
  if (field_.Compression == 0 || Value.empty()) return Value;
  return hooks.Compress(Value, field_.Compression);
}

void TBlobBuffer::DecompressAfterRead(const CompressionHooks& hooks) {
  if (field_.Compression == 0 || Value.empty()) return;
  Value = hooks.Decompress(Value);
}

}  // namespace strata
