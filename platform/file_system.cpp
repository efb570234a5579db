#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace strata::platform {

namespace {

std::atomic<FileSystem*> g_current{nullptr};

unsigned char Lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

}  // namespace

FileSystem& CurrentFileSystem() {
  FileSystem* installed = g_current.load();
  return installed != nullptr ? *installed : DefaultFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fileSystem)
    : previous_(g_current.exchange(&fileSystem)) {}

ScopedFileSystem::~ScopedFileSystem() { g_current.store(previous_); }

int FileSystem::SyncAll(std::span<FileHandle* const> files,
                        std::span<const std::string> directories) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!files[i]->Sync()) return static_cast<int>(i);
  }
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (!SyncDirectory(directories[i])) return static_cast<int>(files.size() + i);
  }
  return -1;
}

bool CreateDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (std::filesystem::is_directory(path)) return true;
  errno = error ? error.value() : ENOTDIR;
  return false;
}

bool MatchesFilePattern(std::string_view name, std::string_view pattern) {
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool FileNameLess(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char ca = Lower(a[i]);
    const unsigned char cb = Lower(b[i]);
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace strata::platform
