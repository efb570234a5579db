// ScratchFolder: the folder for one run's temporary tables, made inside a
// database folder, so that a rebuilt table reaches its place by a rename on
// the same file system and nothing lands in the user's current directory.
// It is named ".strata-temp-<id>" (hidden, and no table listing looks into
// it) and holds the file "owner", which the run keeps locked (an exclusive
// share lock) for as long as the ScratchFolder lives. Destroying it removes
// the folder when nothing but the owner file and the lock file of the
// folder's own database is left in it; other files are left by a failure,
// and a journal left next to a table may still need them.
//
// A run that died, or failed, leaves its folder behind with the lock
// released. RemoveAbandoned removes such folders and leaves those of live
// runs alone: it decides by the lock, never by age. Journals of the
// database's tables may name files inside a folder, so they are recovered
// before it is called.
#pragma once

#include <memory>
#include <string>

namespace strata::platform {
class FileHandle;
class FileSystem;
}

namespace strata {

class ScratchFolder {
 public:
  static constexpr const char* kPrefix = ".strata-temp-";
  static constexpr const char* kOwnerFile = "owner";

  // Makes a new folder in parent through files (a folder path ending in "/")
  // and makes its name durable (parent is synced); lockFileName is the name
  // of the lock file a database opened in it makes. Raises the engine error
  // of the failure, naming the folder it tried to make (or parent, when the
  // sync fails).
  ScratchFolder(platform::FileSystem& files, const std::string& parent,
                std::string lockFileName = "strata.lck");
  // Removes the folder when only its own files are left (see above); a
  // failure leaves what remains for RemoveAbandoned.
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, ending in "/".
  const std::string& Path() const { return path_; }

  // Removes the scratch folders in parent whose owner is gone. Raises the
  // engine error of a file or folder that cannot be removed, naming it.
  static void RemoveAbandoned(platform::FileSystem& files, const std::string& parent);

 private:
  platform::FileSystem& files_;
  std::string path_;
  std::string lockFileName_;
  std::unique_ptr<platform::FileHandle> owner_;
};

}  // namespace strata
