#include "engine/files/memory_file.h"

#include <algorithm>
#include <cstring>

namespace strata {

TMemoryFile::TMemoryFile(std::string path) : TBaseFile(std::move(path)) {}

TMemoryFile::~TMemoryFile() = default;

std::int32_t TMemoryFile::CreateNew() {
  std::lock_guard io(IoLock());
  blocks_.clear();
  return TBaseFile::CreateNew();
}

std::int32_t TMemoryFile::Delete() {
  std::lock_guard io(IoLock());
  blocks_.clear();
  size_ = 0;
  return TBaseFile::Delete();
}

std::int64_t TMemoryFile::Read(std::int32_t handleId, std::span<std::byte> buffer) {
  std::lock_guard io(IoLock());
  const Handle* handle = FindHandle(handleId);
  if (handle == nullptr) return -1;
  const std::int64_t position = handle->position;
  const std::int64_t count = TBaseFile::Read(handleId, buffer);
  if (count > 0) CopyOut(position, buffer.first(static_cast<std::size_t>(count)));
  return count;
}

std::int64_t TMemoryFile::Write(std::int32_t handleId, std::span<const std::byte> data) {
  std::lock_guard io(IoLock());
  const Handle* handle = FindHandle(handleId);
  if (handle == nullptr) return -1;
  const std::int64_t position = handle->position;
  if (data.empty()) {
    TBaseFile::Write(handleId, data);
    if (size_ == 0) blocks_.clear();
    return 0;
  }
  const std::int64_t end = position + static_cast<std::int64_t>(data.size());
  const auto needed = static_cast<std::size_t>((end + kBlockSize - 1) / kBlockSize);
  while (blocks_.size() < needed) blocks_.push_back(std::make_unique<std::byte[]>(kBlockSize));
  // A truncated tail keeps its old bytes in the blocks; a write past the end
  // must not bring them back.
  if (position > size_) Zero(size_, position);
  CopyIn(position, data);
  return TBaseFile::Write(handleId, data);
}

void TMemoryFile::CopyOut(std::int64_t offset, std::span<std::byte> out) const {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    const auto inBlock = static_cast<std::size_t>(at % kBlockSize);
    const std::size_t n = std::min(out.size() - done, static_cast<std::size_t>(kBlockSize) - inBlock);
    std::memcpy(out.data() + done, blocks_[static_cast<std::size_t>(at / kBlockSize)].get() + inBlock, n);
    done += n;
  }
}

void TMemoryFile::CopyIn(std::int64_t offset, std::span<const std::byte> in) {
  std::size_t done = 0;
  while (done < in.size()) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    const auto inBlock = static_cast<std::size_t>(at % kBlockSize);
    const std::size_t n = std::min(in.size() - done, static_cast<std::size_t>(kBlockSize) - inBlock);
    std::memcpy(blocks_[static_cast<std::size_t>(at / kBlockSize)].get() + inBlock, in.data() + done, n);
    done += n;
  }
}

void TMemoryFile::Zero(std::int64_t from, std::int64_t to) {
  const std::int64_t allocated = AllocatedBytes();
  to = std::min(to, allocated);
  while (from < to) {
    const auto inBlock = static_cast<std::size_t>(from % kBlockSize);
    const std::int64_t n = std::min<std::int64_t>(to - from, kBlockSize - static_cast<std::int64_t>(inBlock));
    std::memset(blocks_[static_cast<std::size_t>(from / kBlockSize)].get() + inBlock, 0,
                static_cast<std::size_t>(n));
    from += n;
  }
}

}  // namespace strata
