// The swap that puts a rebuilt table in the place of the old one, in three
// rounds of renames (the plan is a JournalSwap, see table_journal.h):
//
//   StageSwap   each new file moves from the temporary directory to its
//               staged name next to the table (a copy when the temporary
//               directory is on another file system), and the table's
//               directory is synced;
//   FinishSwap  every old file moves to its backup name (replacing an older
//               backup) or, when discarded, aside; every staged file takes
//               its final name; the files set aside and any temporary file
//               left by a copy are deleted; then each directory changed is
//               synced once, which makes the renames and the deletions
//               durable before it returns;
//   UndoSwap    the staged and temporary new files are deleted, durably
//               (the old files have not moved before the swap is staged).
//
// At every moment each file is complete under one of its names. The rounds
// can be repeated after an interruption, also after a power cut that kept
// any part of the renames made since the directory was last synced:
// FinishSwap decides name by name, moving an old file aside only while the
// new file that takes its name is still staged, and moving only the files
// still under their earlier names. A staged file whose final name is held
// by a file the plan does not know raises STRATA_OSEACCES naming that file.
// Files are moved and deleted through the registry (inMemory: the memory
// database's files), so a file this process holds open is refused (STRATA_OSEACCES).
#pragma once

#include "engine/core/journal/table_journal.h"

namespace strata {

class FileRegistry;

void StageSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory);
void FinishSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory);
void UndoSwap(const JournalSwap& swap, FileRegistry& registry, bool inMemory);

// Syncs the directory a path lies in (raises STRATA_WRITEERR naming it); nothing for
// the memory database.
void SyncDirectoryOf(FileRegistry& registry, const std::string& path, bool inMemory);

}  // namespace strata
