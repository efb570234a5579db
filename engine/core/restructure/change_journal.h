// ChangeJournal: the journal of one change that this process makes to a
// table's files. On disk it is the table's TableJournal, written before each
// step it announces; for the memory database, which a crash takes along
// anyway, only the entries are kept. Either way the change ends in one of
// two ways:
//
//   Commit   the change is complete (its files flushed to disk): the
//            journal goes;
//   Recover  the change is finished or undone now, as the next user of the
//            table would after a crash (see table_recovery.h), and the
//            journal goes. The caller closes the table's files first.
//
// The journal's removal is made durable unless syncDirectory is false,
// which suits a change whose journal, brought back by a power cut, would
// by itself leave a consistent table (old headers written back, a swap
// found finished).
//
// A ChangeJournal destroyed without either leaves the journal for the next
// user of the table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/journal/table_journal.h"

namespace strata {

class TDataDirectory;
class FileRegistry;

class ChangeJournal {
 public:
  // Creates the table's journal (STRATA_OSEACCES when one exists).
  ChangeJournal(TDataDirectory& directory, std::string_view tableName);
  ~ChangeJournal();
  ChangeJournal(const ChangeJournal&) = delete;
  ChangeJournal& operator=(const ChangeJournal&) = delete;

  // Entries added together reach the disk with one flush.
  void Add(const JournalEntry& entry);
  void Add(const std::vector<JournalEntry>& entries);
  void Commit(bool syncDirectory = true);
  void Recover(bool syncDirectory = true);
  // Recover, dropping a failure: the journal then stays for the next user.
  void RecoverQuietly() noexcept;

 private:
  TDataDirectory& directory_;
  std::string tableName_;
  FileRegistry& registry_;
  bool inMemory_;
  std::optional<TableJournal> journal_;
  std::vector<JournalEntry> entries_;  // for the memory database
};

}  // namespace strata
