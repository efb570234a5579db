#include "platform/crash_point.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/forwarding_file_system.h"

namespace strata::platform {

namespace {

constexpr char kVariable[] = "STRATA_TEST_CRASH_AFTER";

class CrashingFileSystem final : public ForwardingFileSystem {
 public:
  CrashingFileSystem(std::string operation, long after)
      : operation_(std::move(operation)), remaining_(after) {}

  // Counts one successful operation of a kind and dies at the chosen one.
  bool Done(std::string_view kind, bool succeeded) {
    if (!succeeded || (operation_ != "any" && operation_ != kind)) return succeeded;
    if (--remaining_ == 0) ::raise(SIGKILL);
    return succeeded;
  }

  std::unique_ptr<FileHandle> CreateAlways(const std::string& path) override {
    auto handle = ForwardingFileSystem::CreateAlways(path);
    Done("create", handle != nullptr);
    return handle;
  }
  std::unique_ptr<FileHandle> CreateNew(const std::string& path) override {
    auto handle = ForwardingFileSystem::CreateNew(path);
    Done("create", handle != nullptr);
    return handle;
  }
  bool Delete(const std::string& path) override {
    return Done("delete", ForwardingFileSystem::Delete(path));
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return Done("rename", ForwardingFileSystem::Rename(from, to));
  }
  bool SyncDirectory(const std::string& directory) override {
    return Done("sync", ForwardingFileSystem::SyncDirectory(directory));
  }

 protected:
  std::unique_ptr<FileHandle> WrapHandle(std::unique_ptr<FileHandle> handle) override {
    return std::make_unique<Handle>(*this, std::move(handle));
  }

 private:
  class Handle final : public ForwardingFileHandle {
   public:
    Handle(CrashingFileSystem& owner, std::unique_ptr<FileHandle> inner)
        : ForwardingFileHandle(std::move(inner)), owner_(owner) {}
    std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
      const std::int64_t written = ForwardingFileHandle::WriteAt(offset, data);
      owner_.Done("write", written >= 0);
      return written;
    }
    bool Sync() override { return owner_.Done("sync", ForwardingFileHandle::Sync()); }

   private:
    CrashingFileSystem& owner_;
  };

  std::string operation_;
  long remaining_;
};

}  // namespace

void InstallCrashPointFromEnvironment() {
  const char* value = std::getenv(kVariable);
  if (value == nullptr || *value == '\0') return;
  const std::string text(value);
  const std::size_t colon = text.find(':');
  const std::string operation = text.substr(0, colon);
  char* end = nullptr;
  const long after = colon == std::string::npos ? 0 : std::strtol(text.c_str() + colon + 1, &end, 10);
  const bool known = operation == "rename" || operation == "delete" || operation == "create" ||
                     operation == "write" || operation == "sync" || operation == "any";
  if (!known || after <= 0 || end == nullptr || *end != '\0') {
    std::fprintf(stderr, "%s: ignored, expected <operation>:<count>, not '%s'\n", kVariable,
                 value);
    return;
  }
  static CrashingFileSystem crashing(operation, after);
  static ScopedFileSystem scope(crashing);
}

}  // namespace strata::platform
