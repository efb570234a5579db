// Helpers shared by the file layer's tests: a private temporary directory, a
// child process that reports through its exit status, and a file system that
// wraps the default one to count transfers or make them fail.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"

namespace strata::testing {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = platform::TemporaryPath() + "files-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Put(const std::string& name, const std::string& content) {
    std::ofstream(dir_ + name, std::ios::binary) << content;
    return dir_ + name;
  }
  std::string Slurp(const std::string& name) const {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

// Runs body in a child process and returns its exit status.
inline int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int status = 3;
    try {
      status = body();
    } catch (...) {
      status = 4;
    }
    ::_exit(status);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// The code of the engine error that body raises, 0 when it raises none.
inline ErrorCode CodeOf(const std::function<void()>& body, std::string* message = nullptr) {
  try {
    body();
  } catch (const EStrataEngineError& error) {
    if (message != nullptr) *message = error.Message();
    return error.Code;
  }
  return 0;
}

// Forwards to the default file system, counting transfers and failing the
// operations a test switches on.
class WrappingFileSystem : public platform::FileSystem {
 public:
  int reads = 0;
  int writes = 0;
  bool failWrites = false;
  bool failSync = false;
  bool failClose = false;

  platform::OpenedFile Open(const std::string& path, const platform::OpenRequest& request) override {
    platform::OpenedFile opened = base_.Open(path, request);
    if (opened.handle) opened.handle = std::make_unique<Handle>(*this, std::move(opened.handle));
    return opened;
  }
  std::unique_ptr<platform::FileHandle> CreateAlways(const std::string& path) override {
    auto inner = base_.CreateAlways(path);
    return inner ? std::make_unique<Handle>(*this, std::move(inner)) : nullptr;
  }
  std::unique_ptr<platform::FileHandle> CreateNew(const std::string& path) override {
    auto inner = base_.CreateNew(path);
    return inner ? std::make_unique<Handle>(*this, std::move(inner)) : nullptr;
  }
  bool Delete(const std::string& path) override { return base_.Delete(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return base_.Rename(from, to);
  }
  bool FileExists(const std::string& path) override { return base_.FileExists(path); }
  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override {
    return base_.ListFiles(directory, pattern, names);
  }

 private:
  class Handle : public platform::FileHandle {
   public:
    Handle(WrappingFileSystem& owner, std::unique_ptr<platform::FileHandle> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
      ++owner_.reads;
      return inner_->ReadAt(offset, buffer);
    }
    std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
      ++owner_.writes;
      if (owner_.failWrites) return Fail(ENOSPC);
      return inner_->WriteAt(offset, data);
    }
    std::int64_t Size() override { return inner_->Size(); }
    bool Truncate(std::int64_t size) override { return inner_->Truncate(size); }
    bool Sync() override { return owner_.failSync ? Fail(EIO) == 0 : inner_->Sync(); }
    bool LockRange(std::int64_t offset, std::int64_t length) override {
      return inner_->LockRange(offset, length);
    }
    bool UnlockRange(std::int64_t offset, std::int64_t length) override {
      return inner_->UnlockRange(offset, length);
    }
    bool Close() override {
      const bool closed = inner_->Close();
      return owner_.failClose ? Fail(EIO) == 0 : closed;
    }

   private:
    static int Fail(int error) {
      platform::SetLastErrorNumber(error);
      return -1;
    }
    WrappingFileSystem& owner_;
    std::unique_ptr<platform::FileHandle> inner_;
  };

  platform::FileSystem& base_ = platform::DefaultFileSystem();
};

}  // namespace strata::testing
