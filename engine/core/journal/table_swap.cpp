#include "engine/core/journal/table_swap.h"

#include <algorithm>
#include <set>

#include "engine/errors/engine_error.h"
#include "engine/files/engine_file.h"
#include "platform/file_system.h"

namespace strata {

namespace {

class Files {
 public:
  Files(FileRegistry& registry, bool inMemory) : registry_(registry), inMemory_(inMemory) {}

  bool Exists(const std::string& path) { return TEngineFile(registry_, path, inMemory_).Exists(); }
  void DeleteIfPresent(const std::string& path) {
    TEngineFile file(registry_, path, inMemory_);
    if (!file.Exists()) return;
    file.Delete();
    deletedIn_.insert(path.substr(0, path.rfind('/') + 1));
  }
  // Makes the name changes in the folder of path durable.
  void SyncFolderOf(const std::string& path) {
    SyncDirectoryOf(registry_, path, inMemory_);
    deletedIn_.erase(path.substr(0, path.rfind('/') + 1));
  }
  // Makes the deletions not yet synced durable.
  void SyncDeletions() {
    for (const std::string& folder : deletedIn_) SyncDirectoryOf(registry_, folder, inMemory_);
    deletedIn_.clear();
  }
  void Move(const std::string& from, const std::string& to) {
    TEngineFile(registry_, from, inMemory_).Rename(to);
  }

 private:
  FileRegistry& registry_;
  bool inMemory_;
  std::set<std::string> deletedIn_;
};

}  // namespace

void SyncDirectoryOf(FileRegistry& registry, const std::string& path, bool inMemory) {
  if (inMemory) return;
  const std::string directory = path.substr(0, path.rfind('/') + 1);
  if (!registry.Files().SyncDirectory(directory)) {
    RaiseTableError(RecordOsError(), directory);
  }
}

void StageSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory) {
  Files files(registry, inMemory);
  for (const JournalSwap::NewFile& file : swap.NewFiles) {
    if (files.Exists(file.Temp)) files.Move(file.Temp, file.Staged);
  }
  if (!swap.NewFiles.empty()) SyncDirectoryOf(registry, swap.NewFiles.front().Staged, inMemory);
}

void FinishSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory) {
  Files files(registry, inMemory);
  // Each old file moves aside while the new file that takes its name is
  // still staged (or when no new file takes it): decided name by name, so
  // that any part of the renames may have reached the disk before a crash.
  for (const JournalSwap::OldFile& file : swap.OldFiles) {
    const auto taker = std::find_if(
        swap.NewFiles.begin(), swap.NewFiles.end(),
        [&](const JournalSwap::NewFile& newFile) { return newFile.Final == file.Final; });
    const bool placed = taker != swap.NewFiles.end() && !files.Exists(taker->Staged);
    if (placed || !files.Exists(file.Final)) continue;
    files.DeleteIfPresent(file.Backup);
    files.Move(file.Final, file.Backup);
  }
  for (const JournalSwap::NewFile& file : swap.NewFiles) {
    if (!files.Exists(file.Staged)) continue;
    // Only a file that the swap did not plan for can hold the name now.
    if (files.Exists(file.Final)) RaiseTableError(STRATA_OSEACCES, file.Final);
    files.Move(file.Staged, file.Final);
  }
  // The swap is staged, never undone: the old files set aside are not
  // needed any more, whichever of the renames above a power cut keeps, so
  // they go before the folder is synced, and one sync of each folder makes
  // the renames and the deletions durable together.
  for (const JournalSwap::OldFile& file : swap.OldFiles) {
    if (file.Discard) files.DeleteIfPresent(file.Backup);
  }
  for (const JournalSwap::NewFile& file : swap.NewFiles) files.DeleteIfPresent(file.Temp);
  if (!swap.NewFiles.empty()) files.SyncFolderOf(swap.NewFiles.front().Final);
  // A journal marked recovered no longer names these files: their removal
  // is durable first.
  files.SyncDeletions();
}

void UndoSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory) {
  Files files(registry, inMemory);
  for (const JournalSwap::NewFile& file : swap.NewFiles) {
    files.DeleteIfPresent(file.Staged);
    files.DeleteIfPresent(file.Temp);
  }
  files.SyncDeletions();
}

}  // namespace strata
