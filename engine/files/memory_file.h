// TMemoryFile: a store whose content lives only in memory, for the in-memory
// database. The content at offset p is in block p / 65528 at p % 65528.
// Truncating keeps the blocks (they are freed when the size goes to 0);
// bytes between the end of the content and a later write read as zeros.
#pragma once

#include <memory>
#include <vector>

#include "engine/files/base_file.h"

namespace strata {

class TMemoryFile final : public TBaseFile {
 public:
  static constexpr std::int64_t kBlockSize = 65528;

  explicit TMemoryFile(std::string path);
  ~TMemoryFile() override;

  std::int32_t CreateNew() override;
  std::int32_t Delete() override;
  std::int64_t Read(std::int32_t handleId, std::span<std::byte> buffer) override;
  std::int64_t Write(std::int32_t handleId, std::span<const std::byte> data) override;

  std::int64_t AllocatedBytes() const {
    return static_cast<std::int64_t>(blocks_.size()) * kBlockSize;
  }

 private:
  void CopyOut(std::int64_t offset, std::span<std::byte> out) const;
  void CopyIn(std::int64_t offset, std::span<const std::byte> in);
  void Zero(std::int64_t from, std::int64_t to);

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
};

}  // namespace strata
