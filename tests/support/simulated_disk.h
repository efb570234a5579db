// SimulatedDisk: a file system in memory behind the platform seam, for tests
// and fuzz targets. It behaves as the POSIX one does for the engine (letter
// case of names, share locks that refuse a conflicting open, a delete or a
// rename of a file someone holds open, byte-range locks between open
// descriptions, renames that never replace, errno on failure), and it keeps
// what each file and folder holds durably apart from what was done since it
// was last synced, so that it can say what a power cut at this moment may
// leave on the disk:
//
//   Issued        everything done so far (what a killed process leaves);
//   Synced        only what was made durable;
//   PowerCut      what was made durable, plus a random part of the rest:
//                 each file keeps any subset of its unsynced writes and
//                 truncations (a write kept may also have only grown the
//                 file, leaving zeros, as a file system that kept the size
//                 but not the data does); the names changed in a folder
//                 since its last sync (creations, deletions, renames, new
//                 and removed folders) reach the disk in any order, except
//                 that a change of a name comes after the earlier changes
//                 of that same name, and the last write may be torn (only
//                 its first sectors written).
//
// Durability follows what POSIX promises and no more: a file's Sync makes
// its bytes and size durable, not its name; SyncDirectory makes the folder's
// name changes durable (a rename into a folder counts as that folder's
// change, together with the changes of the same names it depends on). A
// folder whose own name is not durable takes what it holds with it.
//
// Images (DiskImage) are snapshots that share the files' pages; a disk
// built from an image holds it all durably, as after a restart. With
// durability tracking off (SetTracking(false)) the disk is a plain, fast
// file system in memory: nothing is kept for power cuts.
//
// Paths are absolute or relative to "/", with "/" between names; a folder
// path may end in "/". One mutex guards the disk; handles may outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/paged_bytes.h"

namespace strata::testing {

// What a disk holds at one moment: every folder (its path ending in "/",
// the root "/") and every file (by path) with its bytes.
class DiskImage {
 public:
  std::set<std::string> Folders;
  std::map<std::string, PagedBytes> Files;

  // Equal for equal images (folders, names, sizes and bytes).
  std::uint64_t Fingerprint() const;
  // The folders and files with their sizes, one per line, for failure
  // messages.
  std::string Listing() const;
};

// One change of the disk, as the observer sees it after it is done.
struct DiskOperation {
  enum class Kind { Create, Write, Truncate, SyncFile, Delete, Rename, MakeFolder, RemoveFolder,
                    SyncFolder };
  Kind What = Kind::Create;
  std::string Path;    // the file or folder (for a write: the file written)
  std::string Target;  // the new name of a rename
  std::int64_t Number = 0;  // counted from 1 over the disk's life
};

const char* KindName(DiskOperation::Kind kind);

class SimulatedDisk final : public platform::FileSystem {
 public:
  // An empty disk: only the root folder.
  SimulatedDisk();
  // A disk holding the image durably (as found after a restart).
  explicit SimulatedDisk(const DiskImage& image);
  ~SimulatedDisk() override;
  SimulatedDisk(const SimulatedDisk&) = delete;
  SimulatedDisk& operator=(const SimulatedDisk&) = delete;

  platform::OpenedFile Open(const std::string& path, const platform::OpenRequest& request) override;
  std::unique_ptr<platform::FileHandle> CreateAlways(const std::string& path) override;
  std::unique_ptr<platform::FileHandle> CreateNew(const std::string& path) override;
  bool Delete(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool FileExists(const std::string& path) override;
  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override;
  bool ListDirectories(const std::string& directory, std::string_view pattern,
                       std::vector<std::string>& names) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool SyncDirectory(const std::string& directory) override;

  // Called after every change (and sync) that succeeded, with the disk
  // unlocked, so the observer may take images. Not called while null.
  std::function<void(const DiskOperation&)> OnOperation;
  // The changes and syncs done so far.
  std::int64_t Operations() const;

  // Off: nothing is kept for power cuts (faster; images then only give
  // Issued). On by default.
  void SetTracking(bool on);

  DiskImage Issued() const;
  DiskImage Synced() const;
  // survival: the chance of each unsynced change to reach the disk.
  // tearLastWrite: when the last operation was a write, it keeps only a
  // part of its sectors (the file keeps the size the write gave it).
  DiskImage PowerCut(std::mt19937_64& random, double survival, bool tearLastWrite) const;

  // Makes everything durable, as if every file and folder were synced.
  void SyncEverything();

  // Conveniences for tests, outside the engine's view (no share locks, not
  // observed): a file's whole content, written durably with the folders it
  // needs; a file's content (empty when missing); every file's path.
  void PutFile(const std::string& path, std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> FileBytes(const std::string& path) const;
  std::vector<std::string> AllFiles() const;

  struct State;

 private:
  void Observe(const DiskOperation& operation);
  std::shared_ptr<State> state_;
};

}  // namespace strata::testing
