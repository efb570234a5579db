#include "engine/files/buffer.h"

#include <algorithm>
#include <cstring>

#include "engine/files/buffered_file.h"

namespace strata {

TBuffer::TBuffer(TBufferedFile& owner)
    : owner_(owner), data_(static_cast<std::size_t>(std::max(0, owner.PayloadSize()))) {}

TBuffer::~TBuffer() {
  if (linked_) owner_.Unlink(this);
}

void TBuffer::CopyFrom(const TBuffer& other) {
  Dirty = other.Dirty;
  Number = other.Number;
  const std::size_t n = std::min(data_.size(), other.data_.size());
  std::copy_n(other.data_.begin(), n, data_.begin());
}

void TBuffer::Assign(std::span<const std::byte> bytes) {
  std::copy_n(bytes.begin(), std::min(bytes.size(), data_.size()), data_.begin());
  Dirty = true;
}

void TBuffer::CopyOut(std::span<std::byte> bytes) const {
  std::copy_n(data_.begin(), std::min(bytes.size(), data_.size()), bytes.begin());
}

void TBuffer::Clear() {
  std::fill(data_.begin(), data_.end(), std::byte{0});
  Dirty = false;
}

void TBuffer::LoadUnit(std::span<const std::byte> unit) {
  const std::size_t n = std::min(unit.size(), data_.size());
  std::copy_n(unit.begin(), n, data_.begin());
  std::fill(data_.begin() + static_cast<std::ptrdiff_t>(n), data_.end(), std::byte{0});
  Dirty = false;
}

void TBuffer::SaveUnit(std::span<std::byte> unit) {
  const std::size_t n = std::min(unit.size(), data_.size());
  std::copy_n(data_.begin(), n, unit.begin());
  std::fill(unit.begin() + static_cast<std::ptrdiff_t>(n), unit.end(), std::byte{0});
  Dirty = false;
}

bool TBuffer::SameAs(const TBuffer& other) const { return data_ == other.data_; }

bool TBuffer::SameAsBytes(std::span<const std::byte> bytes) const {
  return bytes.size() <= data_.size() &&
         std::equal(bytes.begin(), bytes.end(), data_.begin());
}

}  // namespace strata
