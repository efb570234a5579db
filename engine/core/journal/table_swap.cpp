#include "engine/core/journal/table_swap.h"

#include <algorithm>

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
    if (file.Exists()) file.Delete();
  }
  void Move(const std::string& from, const std::string& to) {
    TEngineFile(registry_, from, inMemory_).Rename(to);
  }

 private:
  FileRegistry& registry_;
  bool inMemory_;
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
  const bool anyPlaced =
      std::any_of(swap.NewFiles.begin(), swap.NewFiles.end(),
                  [&](const JournalSwap::NewFile& file) { return !files.Exists(file.Staged); });
  if (!anyPlaced) {
    for (const JournalSwap::OldFile& file : swap.OldFiles) {
      if (!files.Exists(file.Final)) continue;
      files.DeleteIfPresent(file.Backup);
      files.Move(file.Final, file.Backup);
    }
  }
  for (const JournalSwap::NewFile& file : swap.NewFiles) {
    if (files.Exists(file.Staged)) files.Move(file.Staged, file.Final);
  }
  if (!swap.NewFiles.empty()) SyncDirectoryOf(registry, swap.NewFiles.front().Final, inMemory);
  for (const JournalSwap::OldFile& file : swap.OldFiles) {
    if (file.Discard) files.DeleteIfPresent(file.Backup);
  }
  for (const JournalSwap::NewFile& file : swap.NewFiles) files.DeleteIfPresent(file.Temp);
}

void UndoSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory) {
  Files files(registry, inMemory);
  for (const JournalSwap::NewFile& file : swap.NewFiles) {
    files.DeleteIfPresent(file.Staged);
    files.DeleteIfPresent(file.Temp);
  }
}

}  // namespace strata
