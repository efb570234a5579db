// ForwardingFileSystem and ForwardingFileHandle: pass every operation on to
// another file system (by default the POSIX one) or handle. Wrappers that
// count, fail or stop operations derive from them and override only what
// they change; an operation added to the seam is forwarded here once and
// reaches every wrapper.
//
// Handles: every handle the inner file system opens passes through
// WrapHandle, which a wrapper overrides to put its own handle around it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace strata::platform {

class ForwardingFileHandle : public FileHandle {
 public:
  explicit ForwardingFileHandle(std::unique_ptr<FileHandle> inner) : inner_(std::move(inner)) {}

  std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
    return inner_->ReadAt(offset, buffer);
  }
  std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
    return inner_->WriteAt(offset, data);
  }
  std::int64_t Size() override { return inner_->Size(); }
  bool Truncate(std::int64_t size) override { return inner_->Truncate(size); }
  bool Sync() override { return inner_->Sync(); }
  bool LockRange(std::int64_t offset, std::int64_t length) override {
    return inner_->LockRange(offset, length);
  }
  bool UnlockRange(std::int64_t offset, std::int64_t length) override {
    return inner_->UnlockRange(offset, length);
  }
  bool Close() override { return inner_->Close(); }

 protected:
  FileHandle& Inner() { return *inner_; }

 private:
  std::unique_ptr<FileHandle> inner_;
};

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner = DefaultFileSystem()) : inner_(inner) {}

  OpenedFile Open(const std::string& path, const OpenRequest& request) override {
    OpenedFile opened = inner_.Open(path, request);
    if (opened.handle) opened.handle = WrapHandle(std::move(opened.handle));
    return opened;
  }
  std::unique_ptr<FileHandle> CreateAlways(const std::string& path) override {
    return WrapIfOpen(inner_.CreateAlways(path));
  }
  std::unique_ptr<FileHandle> CreateNew(const std::string& path) override {
    return WrapIfOpen(inner_.CreateNew(path));
  }
  bool Delete(const std::string& path) override { return inner_.Delete(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return inner_.Rename(from, to);
  }
  bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override {
    return inner_.ListFiles(directory, pattern, names);
  }
  bool ListDirectories(const std::string& directory, std::string_view pattern,
                       std::vector<std::string>& names) override {
    return inner_.ListDirectories(directory, pattern, names);
  }
  bool CreateDirectory(const std::string& path) override { return inner_.CreateDirectory(path); }
  bool RemoveDirectory(const std::string& path) override { return inner_.RemoveDirectory(path); }
  bool SyncDirectory(const std::string& directory) override {
    return inner_.SyncDirectory(directory);
  }

 protected:
  // The handle the caller receives for one the inner file system opened.
  virtual std::unique_ptr<FileHandle> WrapHandle(std::unique_ptr<FileHandle> handle) {
    return handle;
  }
  FileSystem& Inner() { return inner_; }

 private:
  std::unique_ptr<FileHandle> WrapIfOpen(std::unique_ptr<FileHandle> handle) {
    return handle ? WrapHandle(std::move(handle)) : nullptr;
  }

  FileSystem& inner_;
};

}  // namespace strata::platform
