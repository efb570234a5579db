#include "engine/files/base_file.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "engine/errors/error_codes.h"

namespace strata {

TBaseFile::TBaseFile(std::string path) : path_(std::move(path)) {
  handles_.reserve(64);
}

TBaseFile::~TBaseFile() = default;

bool TBaseFile::HasHandle(std::int32_t handleId) const {
  return std::any_of(handles_.begin(), handles_.end(),
                     [handleId](const Handle& h) { return h.id == handleId; });
}

TBaseFile::Handle* TBaseFile::FindHandle(std::int32_t handleId) {
  for (Handle& handle : handles_) {
    if (handle.id == handleId) return &handle;
  }
  return nullptr;
}

std::int32_t TBaseFile::AddHandle() {
  std::lock_guard io(ioLock_);
  ++openCount_;
  handles_.push_back(Handle{++lastHandleId_, 0});
  return lastHandleId_;
}

std::int64_t TBaseFile::GetSize() {
  std::lock_guard io(ioLock_);
  return size_;
}

std::int32_t TBaseFile::CreateNew() {
  std::lock_guard io(ioLock_);
  size_ = 0;
  written_ = false;
  return AddHandle();
}

std::int32_t TBaseFile::Open() {
  std::lock_guard io(ioLock_);
  if (openCount_ == 0) written_ = false;
  return AddHandle();
}

std::int32_t TBaseFile::Close(std::int32_t handleId) {
  std::lock_guard io(ioLock_);
  const auto it = std::find_if(handles_.begin(), handles_.end(),
                               [handleId](const Handle& h) { return h.id == handleId; });
  if (it == handles_.end()) return -static_cast<std::int32_t>(STRATA_OSEBADF);
  handles_.erase(it);
  --openCount_;
  return 0;
}

std::int32_t TBaseFile::Rename(const std::string& newPath) {
  std::lock_guard io(ioLock_);
  path_ = newPath;
  return 0;
}

std::int32_t TBaseFile::Delete() { return 0; }

std::int64_t TBaseFile::Read(std::int32_t handleId, std::span<std::byte> buffer) {
  std::lock_guard io(ioLock_);
  Handle* handle = FindHandle(handleId);
  if (handle == nullptr) return -1;
  const std::int64_t available = std::max<std::int64_t>(0, size_ - handle->position);
  const std::int64_t count = std::min<std::int64_t>(available, static_cast<std::int64_t>(buffer.size()));
  handle->position += count;
  return count;
}

std::int64_t TBaseFile::Write(std::int32_t handleId, std::span<const std::byte> data) {
  std::lock_guard io(ioLock_);
  Handle* handle = FindHandle(handleId);
  if (handle == nullptr) return -1;
  const auto count = static_cast<std::int64_t>(data.size());
  if (count == 0) {
    size_ = handle->position;
  } else {
    size_ = std::max(size_, handle->position + count);
    handle->position += count;
  }
  written_ = true;
  return count;
}

bool TBaseFile::Flush() { return true; }

std::int64_t TBaseFile::Seek(std::int32_t handleId, int origin, std::int64_t offset) {
  std::lock_guard io(ioLock_);
  Handle* handle = FindHandle(handleId);
  if (handle == nullptr) return -1;
  std::int64_t base = 0;
  switch (origin) {
    case kFromStart: base = 0; break;
    case kFromCurrent: base = handle->position; break;
    case kFromEnd: base = size_; break;
    default: return -1;
  }
  if (base + offset < 0) return -1;
  handle->position = base + offset;
  return handle->position;
}

bool TBaseFile::LockRange(std::int64_t length, std::int64_t offset) {
  return AddLockedRange(length, offset);
}

bool TBaseFile::UnlockRange(std::int64_t /*length*/, std::int64_t offset) {
  return RemoveLockedRange(offset);
}

bool TBaseFile::AddLockedRange(std::int64_t length, std::int64_t offset) {
  if (length <= 0 || offset < 0 || offset > std::numeric_limits<std::int64_t>::max() - length + 1) return false;
  const LockedRange range{offset, offset + (length - 1)};
  std::lock_guard guard(lockListLock_);
  if (lockedRanges_.capacity() == 0) lockedRanges_.reserve(8192);
  const auto next = std::lower_bound(
      lockedRanges_.begin(), lockedRanges_.end(), range.start,
      [](const LockedRange& r, std::int64_t start) { return r.start < start; });
  if (next != lockedRanges_.end() && next->start <= range.end) return false;
  if (next != lockedRanges_.begin() && std::prev(next)->end >= range.start) return false;
  lockedRanges_.insert(next, range);
  return true;
}

bool TBaseFile::RemoveLockedRange(std::int64_t offset) {
  std::lock_guard guard(lockListLock_);
  const auto it = std::lower_bound(
      lockedRanges_.begin(), lockedRanges_.end(), offset,
      [](const LockedRange& r, std::int64_t start) { return r.start < start; });
  if (it == lockedRanges_.end() || it->start != offset) return false;
  lockedRanges_.erase(it);
  return true;
}

}  // namespace strata
