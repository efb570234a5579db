// A file system for fault sweeps: it forwards to the default one and makes
// one chosen operation of a run fail, or stops every operation after it as
// if the process had died there.
#pragma once

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forwarding_file_system.h"
#include "platform/os_error.h"

namespace strata::testing {

// Forwards to the default file system (or the one given). The failAt-th operation (counting
// from 1) fails with `error` (EIO unless set); with dies, it succeeds and is
// the last one that reaches the disk: every later operation fails as if the
// process had been killed right after it (handles still close and locks
// still go, as they do when a process dies). Existence tests and unlocking are not counted.
// It is in force for the whole of a round, counting only once armed. A
// write also fails when failWrite, given the file's path and the write's
// offset, says so.
class FaultingFileSystem : public platform::ForwardingFileSystem {
 public:
  explicit FaultingFileSystem(platform::FileSystem& inner = platform::DefaultFileSystem())
      : ForwardingFileSystem(inner) {}
  bool armed = false;  // nothing counts or fails before
  int error = EIO;
  int failAt = 0;
  bool dies = false;
  int count = 0;
  std::string failed;  // the operation that failed, for the test's trace
  std::function<bool(const std::string& path, std::int64_t offset)> failWrite;

  virtual ~FaultingFileSystem() = default;
  virtual bool Fails(const char* operation, const std::string& path = {}) {
    if (!armed) return false;
    if (dead_) return Refuse(error);
    if (++count != failAt) return false;
    failed = std::string(operation) + " " + path;
    if (dies) {
      dead_ = true;
      return false;
    }
    return Refuse(error);
  }

  platform::OpenedFile Open(const std::string& path, const platform::OpenRequest& request) override {
    if (Fails("open", path)) return {};
    opening_ = path;
    return ForwardingFileSystem::Open(path, request);
  }
  std::unique_ptr<platform::FileHandle> CreateAlways(const std::string& path) override {
    opening_ = path;
    return Fails("create", path) ? nullptr : ForwardingFileSystem::CreateAlways(path);
  }
  std::unique_ptr<platform::FileHandle> CreateNew(const std::string& path) override {
    opening_ = path;
    return Fails("create new", path) ? nullptr : ForwardingFileSystem::CreateNew(path);
  }
  bool Delete(const std::string& path) override {
    return !Fails("delete", path) && ForwardingFileSystem::Delete(path);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return !Fails("rename", from) && ForwardingFileSystem::Rename(from, to);
  }
  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override {
    return !Fails("list", directory) && ForwardingFileSystem::ListFiles(directory, pattern, names);
  }
  bool ListDirectories(const std::string& directory, std::string_view pattern,
                       std::vector<std::string>& names) override {
    return !Fails("list directories", directory) &&
           ForwardingFileSystem::ListDirectories(directory, pattern, names);
  }
  bool CreateDirectory(const std::string& path) override {
    return !Fails("create directory", path) && ForwardingFileSystem::CreateDirectory(path);
  }
  bool RemoveDirectory(const std::string& path) override {
    return !Fails("remove directory", path) && ForwardingFileSystem::RemoveDirectory(path);
  }
  bool SyncDirectory(const std::string& directory) override {
    return !Fails("sync directory", directory);
  }

 protected:
  std::unique_ptr<platform::FileHandle> WrapHandle(
      std::unique_ptr<platform::FileHandle> handle) override {
    return std::make_unique<Handle>(*this, std::move(handle), opening_);
  }

 private:
  static bool Refuse(int error) {
    platform::SetLastErrorNumber(error);
    return true;
  }

  class Handle : public platform::ForwardingFileHandle {
   public:
    Handle(FaultingFileSystem& owner, std::unique_ptr<platform::FileHandle> inner,
           std::string path)
        : ForwardingFileHandle(std::move(inner)), owner_(owner), path_(std::move(path)) {}
    std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
      return owner_.Fails("read") ? -1 : ForwardingFileHandle::ReadAt(offset, buffer);
    }
    std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
      if (owner_.failWrite && owner_.failWrite(path_, offset)) {
        owner_.failed = "write " + path_;
        Refuse(owner_.error);
        return -1;
      }
      return owner_.Fails("write") ? -1 : ForwardingFileHandle::WriteAt(offset, data);
    }
    std::int64_t Size() override { return owner_.Fails("size") ? -1 : ForwardingFileHandle::Size(); }
    bool Truncate(std::int64_t size) override {
      return !owner_.Fails("truncate") && ForwardingFileHandle::Truncate(size);
    }
    // Flushes to the disk are counted but not made: what the test checks
    // is the order of the operations, and it runs many rounds.
    bool Sync() override { return !owner_.Fails("sync"); }
    bool LockRange(std::int64_t offset, std::int64_t length) override {
      return !owner_.Fails("lock") && ForwardingFileHandle::LockRange(offset, length);
    }
    bool Close() override {
      const bool closed = ForwardingFileHandle::Close();
      return owner_.dead_ ? closed : !owner_.Fails("close") && closed;
    }

   private:
    FaultingFileSystem& owner_;
    std::string path_;
  };

  bool dead_ = false;
  std::string opening_;  // the path of the file being opened
};

}  // namespace strata::testing
