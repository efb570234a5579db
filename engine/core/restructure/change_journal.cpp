#include "engine/core/restructure/change_journal.h"

#include "engine/core/journal/table_recovery.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/errors/set_aside.h"

namespace strata {

ChangeJournal::ChangeJournal(TDataDirectory& directory, std::string_view tableName)
    : directory_(directory),
      tableName_(tableName),
      registry_(directory.Engine().Registry()),
      inMemory_(directory.InMemory()) {
  if (inMemory_) return;
  journal_.emplace(TableJournal::Create(directory.Engine().Files(), directory.JournalPath(tableName)));
  directory_.SetJournalInUse(tableName_, true);
}

ChangeJournal::~ChangeJournal() {
  if (journal_) directory_.SetJournalInUse(tableName_, false);
}

void ChangeJournal::Add(const JournalEntry& entry) { Add(std::vector<JournalEntry>{entry}); }

void ChangeJournal::Add(const std::vector<JournalEntry>& entries) {
  if (journal_) {
    journal_->Append(entries);
  } else {
    entries_.insert(entries_.end(), entries.begin(), entries.end());
  }
}

void ChangeJournal::Commit(bool syncDirectory) {
  if (journal_) {
    journal_->Remove(syncDirectory);
    directory_.SetJournalInUse(tableName_, false);
  }
  journal_.reset();
  entries_.clear();
}

void ChangeJournal::Recover(bool syncDirectory) {
  // A copy: recovering adds to the journal's entries.
  const std::vector<JournalEntry> entries = journal_ ? journal_->Entries() : entries_;
  RecoverFromEntries(entries, registry_, inMemory_, journal_ ? &*journal_ : nullptr);
  Commit(syncDirectory);
}

void ChangeJournal::RecoverQuietly() noexcept {
  SetAsideError("a journal that cannot be recovered now stays for the next user",
                [&] { Recover(); });
}

}  // namespace strata
