#include "platform/signal_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace strata::platform {

namespace {

enum SlotState : int { kFree = 0, kFilling = 1, kActive = 2 };

struct Slot {
  std::atomic<int> State{kFree};
  SignalCleanup::Kind Kind = SignalCleanup::Kind::File;
  char Path[PATH_MAX] = {};
};

Slot g_slots[kCleanupSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The layout of one entry that getdents64 returns (the C library declares
// none for the raw call).
struct DirectoryEntry64 {
  ino64_t Inode;
  off64_t Next;
  unsigned short Length;
  unsigned char Type;
  char Name[1];
};

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Unlinks the files of a folder with system calls only. Removing entries
// while reading the folder may make the reading skip some, so the folder
// is read again until a pass removes nothing.
void UnlinkFilesIn(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buffer[4096];
  for (bool removed = true; removed;) {
    removed = false;
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
      const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (got <= 0) break;
      for (long at = 0; at < got;) {
        const char* entry = buffer + at;
        const char* name = entry + offsetof(DirectoryEntry64, Name);
        if (!IsDotOrDotDot(name) && ::unlinkat(fd, name, 0) == 0) removed = true;
        unsigned short length = 0;
        std::memcpy(&length, entry + offsetof(DirectoryEntry64, Length), sizeof length);
        at += length;
      }
    }
  }
  ::close(fd);
}

void RemoveInHandler(const Slot& slot) {
  switch (slot.Kind) {
    case SignalCleanup::Kind::File: ::unlink(slot.Path); break;
    case SignalCleanup::Kind::FolderContents: UnlinkFilesIn(slot.Path); break;
    case SignalCleanup::Kind::Folder:
      UnlinkFilesIn(slot.Path);
      ::rmdir(slot.Path);
      break;
  }
}

extern "C" void OnTerminatingSignal(int signal) {
  // Files first: one may lie inside a registered folder.
  for (const bool files : {true, false}) {
    for (const Slot& slot : g_slots) {
      if (slot.State.load(std::memory_order_acquire) != kActive) continue;
      if ((slot.Kind == SignalCleanup::Kind::File) == files) RemoveInHandler(slot);
    }
  }
  ::_exit(128 + signal);
}

}  // namespace

void InstallSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  ::sigemptyset(&action.sa_mask);
  // One cleanup at a time: the other signals wait while it runs.
  for (const int signal : kSignals) ::sigaddset(&action.sa_mask, signal);
  for (const int signal : kSignals) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    // A signal ignored by whoever started the program (nohup) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

SignalCleanup::SignalCleanup(const std::string& path, Kind kind) {
  if (path.size() >= PATH_MAX) throw std::invalid_argument("path too long: '" + path + "'");
  for (std::size_t i = 0; i < kCleanupSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].State.compare_exchange_strong(expected, kFilling)) continue;
    g_slots[i].Kind = kind;
    std::memcpy(g_slots[i].Path, path.c_str(), path.size() + 1);
    g_slots[i].State.store(kActive, std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
  throw std::length_error("more than " + std::to_string(kCleanupSlots) +
                          " paths to remove on a signal");
}

void SignalCleanup::Release() {
  if (slot_ < 0) return;
  g_slots[slot_].State.store(kFree, std::memory_order_release);
  slot_ = -1;
}

void RemoveRegistered(const std::string& path, SignalCleanup::Kind kind) {
  std::error_code ignored;
  switch (kind) {
    case SignalCleanup::Kind::File: std::filesystem::remove(path, ignored); break;
    case SignalCleanup::Kind::FolderContents:
      for (const auto& entry : std::filesystem::directory_iterator(path, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
      }
      break;
    case SignalCleanup::Kind::Folder: std::filesystem::remove_all(path, ignored); break;
  }
}

}  // namespace strata::platform
