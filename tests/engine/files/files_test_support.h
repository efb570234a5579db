// Helpers shared by the file layer's tests, besides the temporary directory
// fixture: a child process that reports through its exit status, and a file
// system that wraps the default one to count transfers or make them fail.
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
#include "platform/forwarding_file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "tests/support/temp_dir_test.h"

namespace strata::testing {

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
class WrappingFileSystem : public platform::ForwardingFileSystem {
 public:
  int reads = 0;
  int writes = 0;
  bool failWrites = false;
  bool failSync = false;
  bool failClose = false;

 protected:
  std::unique_ptr<platform::FileHandle> WrapHandle(
      std::unique_ptr<platform::FileHandle> handle) override {
    return std::make_unique<Handle>(*this, std::move(handle));
  }

 private:
  class Handle : public platform::ForwardingFileHandle {
   public:
    Handle(WrappingFileSystem& owner, std::unique_ptr<platform::FileHandle> inner)
        : ForwardingFileHandle(std::move(inner)), owner_(owner) {}
    std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
      ++owner_.reads;
      return ForwardingFileHandle::ReadAt(offset, buffer);
    }
    std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
      ++owner_.writes;
      if (owner_.failWrites) return Fail(ENOSPC);
      return ForwardingFileHandle::WriteAt(offset, data);
    }
    bool Sync() override { return owner_.failSync ? Fail(EIO) == 0 : ForwardingFileHandle::Sync(); }
    bool Close() override {
      const bool closed = ForwardingFileHandle::Close();
      return owner_.failClose ? Fail(EIO) == 0 : closed;
    }

   private:
    static int Fail(int error) {
      platform::SetLastErrorNumber(error);
      return -1;
    }
    WrappingFileSystem& owner_;
  };
};

}  // namespace strata::testing
