#include "engine/core/journal/table_recovery.h"

#include <algorithm>
#include <set>
#include <span>

#include "engine/core/journal/table_swap.h"
#include "engine/errors/engine_error.h"
#include "engine/files/engine_file.h"

namespace strata {

namespace {

class Recovery {
 public:
  Recovery(FileRegistry& registry, bool inMemory) : registry_(registry), inMemory_(inMemory) {}

  void Run(const std::vector<JournalEntry>& entries, TableJournal* journal) {
    const bool recovered = std::any_of(entries.begin(), entries.end(), [](const JournalEntry& e) {
      return std::holds_alternative<JournalRecovered>(e);
    });
    if (!recovered) {
      FinishOrUndo(entries);
      if (journal != nullptr) journal->Append({JournalRecovered{}});
    }
    std::set<std::string> deletedIn;
    for (const JournalEntry& entry : entries) {
      if (const auto* remove = std::get_if<JournalRemoveFile>(&entry)) {
        TEngineFile file(registry_, remove->Path, inMemory_);
        if (!file.Exists()) continue;
        file.Delete();
        deletedIn.insert(remove->Path);
      }
    }
    // The journal goes next: a file it names for removal must not come
    // back with a power cut once the journal cannot remove it any more.
    SyncFoldersOf(deletedIn);
  }

 private:
  void FinishOrUndo(const std::vector<JournalEntry>& entries) {
    const JournalSwap* swap = nullptr;
    bool staged = false;
    for (const JournalEntry& entry : entries) {
      if (const auto* s = std::get_if<JournalSwap>(&entry)) swap = s;
      if (std::holds_alternative<JournalSwapStaged>(entry)) staged = true;
    }
    CheckNeededFiles(entries, staged ? swap : nullptr);

    if (swap != nullptr) {
      if (staged) {
        FinishSwap(*swap, registry_, inMemory_);
      } else {
        UndoSwap(*swap, registry_, inMemory_);
      }
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (const auto* copy = std::get_if<JournalRestoreCopy>(&*it)) RestoreCopy(*copy);
      if (const auto* bytes = std::get_if<JournalRestoreBytes>(&*it)) RestoreBytes(*bytes);
    }
  }

  bool Exists(const std::string& path) { return TEngineFile(registry_, path, inMemory_).Exists(); }

  // What the recovery needs is there, or the missing file is named before
  // anything changes.
  void CheckNeededFiles(const std::vector<JournalEntry>& entries, const JournalSwap* stagedSwap) {
    for (const JournalEntry& entry : entries) {
      if (const auto* copy = std::get_if<JournalRestoreCopy>(&entry)) {
        if (!Exists(copy->Copy)) RaiseTableError(STRATA_OSENOENT, copy->Copy);
      }
    }
    if (stagedSwap == nullptr) return;
    for (const JournalSwap::NewFile& file : stagedSwap->NewFiles) {
      if (!Exists(file.Staged) && !Exists(file.Final)) RaiseTableError(STRATA_OSENOENT, file.Staged);
    }
  }

  void RestoreCopy(const JournalRestoreCopy& entry) {
    TEngineFile target(registry_, entry.Target, inMemory_);
    const bool named = target.Exists();
    target.RestoreFrom(entry.Copy, FileCopyOptions{});
    target.Close();
    // A target made anew has a name to make durable before the journal
    // says the change is undone.
    if (!named) SyncFoldersOf({entry.Target});
  }

  void SyncFoldersOf(const std::set<std::string>& paths) {
    std::set<std::string> folders;
    for (const std::string& path : paths) folders.insert(path.substr(0, path.rfind('/') + 1));
    for (const std::string& folder : folders) SyncDirectoryOf(registry_, folder, inMemory_);
  }

  void RestoreBytes(const JournalRestoreBytes& entry) {
    TEngineFile target(registry_, entry.Target, inMemory_);
    target.Exclusive = true;
    target.Open();
    target.WriteAt(entry.Offset, std::as_bytes(std::span(entry.Bytes)));
    target.Flush();
    target.Close();
  }

  FileRegistry& registry_;
  bool inMemory_;
};

}  // namespace

void RecoverFromEntries(const std::vector<JournalEntry>& entries, FileRegistry& registry,
                        bool inMemory, TableJournal* journal) {
  Recovery(registry, inMemory).Run(entries, journal);
}

bool RecoveryFinishes(const std::vector<JournalEntry>& entries) {
  bool swap = false;
  bool staged = false;
  for (const JournalEntry& entry : entries) {
    swap = swap || std::holds_alternative<JournalSwap>(entry);
    staged = staged || std::holds_alternative<JournalSwapStaged>(entry);
  }
  return swap && staged;
}

void RecoverTableJournal(TableJournal& journal, FileRegistry& registry) {
  const std::vector<JournalEntry> entries = journal.Entries();
  RecoverFromEntries(entries, registry, false, &journal);
  journal.Remove();
}

}  // namespace strata
