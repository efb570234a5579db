// Recovery from a table journal (see table_journal.h): the change the
// journal records is finished or undone, and then the journal is removed.
//
// - A swap whose new files were all staged is finished, and one that was
//   not yet staged is undone (see table_swap.h).
// - Undo entries (restoring a file from its copy, writing back saved bytes)
//   are applied, the last one first.
// - Once that is done (and marked in the journal), files named for removal
//   are deleted when they exist.
//
// Every step may be repeated, so a recovery killed midway, or cut short by a
// power loss that kept any part of its unsynced work, is simply run again:
// what the mark and the journal's removal rely on (files restored, names
// placed or deleted) is made durable before them. Before it changes anything, the recovery checks that the files it
// needs exist; a missing one raises STRATA_OSENOENT naming it and nothing is deleted.
// Files are moved and deleted through the registry, so a file that this
// process holds open is refused (STRATA_OSEACCES) rather than changed under its user.
#pragma once

#include <vector>

#include "engine/core/journal/table_journal.h"

namespace strata {

class FileRegistry;

// Finishes or undoes what the entries record, on files of the disk or, with
// inMemory, of the memory database; journal (null for the memory database)
// receives the mark that this is done.
void RecoverFromEntries(const std::vector<JournalEntry>& entries, FileRegistry& registry,
                        bool inMemory, TableJournal* journal);
// Recovers from a journal left on disk and removes it.
void RecoverTableJournal(TableJournal& journal, FileRegistry& registry);
// Whether recovery from these entries finishes the change (a swap whose new
// files were all staged) rather than undoing it.
bool RecoveryFinishes(const std::vector<JournalEntry>& entries);

}  // namespace strata
