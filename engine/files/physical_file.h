// TPhysicalFile: a store backed by one open file of the platform's file
// system, shared by every handle of the store. Transfers are positioned
// (pread/pwrite at the handle's own position), so handles never disturb one
// another. Byte-range locks are entered in the in-process list first (so two
// users of the one OS file exclude each other) and then taken with the OS
// (so other processes are excluded).
#pragma once

#include <memory>

#include "engine/files/base_file.h"
#include "platform/file_system.h"

namespace strata {

class TPhysicalFile final : public TBaseFile {
 public:
  // files: the file system to use; null for the process's current one.
  explicit TPhysicalFile(std::string path, platform::FileSystem* files = nullptr);
  ~TPhysicalFile() override;

  std::int64_t GetSize() override;
  std::int32_t CreateNew() override;
  std::int32_t Open() override;
  std::int32_t Close(std::int32_t handleId) override;
  std::int32_t Rename(const std::string& newPath) override;
  std::int32_t Delete() override;
  std::int64_t Read(std::int32_t handleId, std::span<std::byte> buffer) override;
  std::int64_t Write(std::int32_t handleId, std::span<const std::byte> data) override;
  bool Flush() override;
  std::int64_t Seek(std::int32_t handleId, int origin, std::int64_t offset) override;
  bool LockRange(std::int64_t length, std::int64_t offset) override;
  bool UnlockRange(std::int64_t length, std::int64_t offset) override;
  bool HandleReadOnly() const override { return file_ != nullptr && fileReadOnly_; }
  platform::FileHandle* SyncHandle() override { return file_.get(); }

 private:
  platform::FileSystem& Files() const { return platform::FileSystemOf(files_); }

  platform::FileSystem* files_;
  std::unique_ptr<platform::FileHandle> file_;
  bool fileReadOnly_ = false;
};

}  // namespace strata
