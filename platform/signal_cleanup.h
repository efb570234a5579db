// What an interrupted command must not leave behind. A command registers
// each file or folder it begins (a temporary output file, the folder of a
// sample database) for as long as it would be left half written; when
// SIGINT, SIGTERM, SIGHUP or SIGPIPE arrives, the handler removes every
// registered path and ends the process with status 128 + the signal number.
//
// The handler does only what is safe in a signal handler: it reads paths
// copied into a fixed table at registration and calls unlink, rmdir and the
// directory-entry system call; it allocates nothing and takes no lock.
// Registration and release happen on the command's own thread, outside the
// handler. A registration beyond the table's room (kCleanupSlots) raises
// std::length_error; a path of PATH_MAX bytes or more std::invalid_argument.
//
// Without InstallSignalCleanup (the tests that call RunStrata in-process)
// registrations are kept all the same and simply never used.
#pragma once

#include <cstddef>
#include <string>

namespace strata::platform {

inline constexpr std::size_t kCleanupSlots = 32;

// Installs the handler for SIGINT, SIGTERM, SIGHUP and SIGPIPE. Call once,
// early in main.
void InstallSignalCleanup();

// One registered path, removed by the handler until Release (or the
// destructor) gives it up.
class SignalCleanup {
 public:
  enum class Kind {
    File,            // unlink the path
    FolderContents,  // unlink the files in the folder, keep the folder
    Folder,          // unlink the files in the folder, then remove it
  };
  SignalCleanup(const std::string& path, Kind kind);
  ~SignalCleanup() { Release(); }
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;

  // The path is no longer the handler's to remove (it was renamed into
  // place, or removed already).
  void Release();

 private:
  int slot_ = -1;
};

// Removes what a registration of this kind removes, from the command's own
// thread (a failure that ends a command without a signal). Errors are not
// reported: the caller is already on its way out with an error of its own.
void RemoveRegistered(const std::string& path, SignalCleanup::Kind kind);

}  // namespace strata::platform
