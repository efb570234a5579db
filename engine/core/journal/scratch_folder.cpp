#include "engine/core/journal/scratch_folder.h"

#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"

namespace strata {

namespace {

// Attempts at a folder name that is not taken yet.
constexpr int kNameAttempts = 1000;

[[noreturn]] void RaiseFor(const std::string& path) {
  RaiseTableError(RecordOsError(), path);
}

// Deletes every file of a folder and then the folder. False (errno set)
// with the path of what could not be removed.
bool RemoveFolder(platform::FileSystem& fs, const std::string& folder, std::string& failed) {
  std::vector<std::string> names;
  if (!fs.ListFiles(folder, "*", names)) {
    failed = folder;
    return platform::LastErrorNumber() == ENOENT;
  }
  for (const std::string& name : names) {
    if (!fs.Delete(folder + name) && platform::LastErrorNumber() != ENOENT) {
      failed = folder + name;
      return false;
    }
  }
  if (!fs.RemoveDirectory(folder) && platform::LastErrorNumber() != ENOENT) {
    failed = folder;
    return false;
  }
  return true;
}

}  // namespace

ScratchFolder::ScratchFolder(platform::FileSystem& files, const std::string& parent,
                             std::string lockFileName)
    : files_(files), lockFileName_(std::move(lockFileName)) {
  platform::FileSystem& fs = files_;
  const std::string base = parent + kPrefix + platform::ThreadIdText() + "-";
  for (int attempt = 0;; ++attempt) {
    const std::string candidate = base + std::to_string(attempt);
    if (!fs.CreateDirectory(candidate)) {
      if (platform::LastErrorNumber() != EEXIST || attempt >= kNameAttempts) RaiseFor(candidate);
      continue;
    }
    owner_ = fs.CreateNew(candidate + "/" + kOwnerFile);
    if (owner_) {
      path_ = candidate + "/";
      // Journals name files kept here (the copies an undo needs): the
      // folder's own name is durable before any of them.
      if (!fs.SyncDirectory(parent)) RaiseFor(parent);
      return;
    }
    // Another run may take a folder without its owner file for abandoned
    // and remove it before the file is made: then a new name is tried.
    const int error = platform::LastErrorNumber();
    fs.RemoveDirectory(candidate);
    platform::SetLastErrorNumber(error);
    if (error != ENOENT || attempt >= kNameAttempts) RaiseFor(candidate + "/" + kOwnerFile);
  }
}

ScratchFolder::~ScratchFolder() {
  owner_->Close();
  owner_.reset();
  std::vector<std::string> names;
  if (!files_.ListFiles(path_, "*", names)) return;
  for (const std::string& name : names) {
    if (name != kOwnerFile && name != lockFileName_) return;
  }
  std::string failed;
  RemoveFolder(files_, path_, failed);
}

void ScratchFolder::RemoveAbandoned(platform::FileSystem& fs, const std::string& parent) {
  std::vector<std::string> folders;
  if (!fs.ListDirectories(parent, std::string(kPrefix) + "*", folders)) RaiseFor(parent);
  for (const std::string& name : folders) {
    const std::string folder = parent + name + "/";
    platform::OpenedFile owner =
        fs.Open(folder + kOwnerFile, platform::OpenRequest{.exclusive = true});
    if (!owner.handle) {
      // A live run holds it. A folder without its owner file died before
      // it could make it (or while it was being removed).
      if (platform::LastErrorNumber() != ENOENT) continue;
    } else {
      owner.handle->Close();
    }
    std::string failed;
    if (!RemoveFolder(fs, folder, failed)) RaiseFor(failed);
  }
}

}  // namespace strata
