// RestructureDatabase: the update run. It brings every table of the
// catalogue in the directory to its catalogue structure, in catalogue order:
// a missing table is first created (with the definitions the table
// component holds at that moment), then the table is restructured to the
// entry's fields, indexes, locale, user version and description, carrying
// its rows over. The first error stops the run and propagates unchanged.
//
// Before the first table, the data folder is made ready (see RunFolder):
// whatever an interrupted run left half done is finished or undone, and the
// run gets a temporary folder of its own inside the data folder.
//
// The label shows the table in work; the overall bar is stepped once before
// each entry; the restructure bar follows the engine's progress. Each of the
// three displays may be absent. Only a run that finishes shows
// "Restructure done." and puts both bars back to 0.
#pragma once

#include <cstdint>
#include <string>

#include "update/progress.h"

namespace strata {

// The memory the update run's programs give the engine (see
// TStrataEngine::SetMemoryBudget) unless told otherwise.
inline constexpr std::int64_t kDefaultMemoryBudget = std::int64_t{32} << 20;

void RestructureDatabase(const std::string& directory, ProgressDisplay* overallBar,
                         ProgressDisplay* restructureBar, TextDisplay* tableLabel);

// The same run; with suppressBackups the restructures keep no backup files
// (.dbk, .ibk, .bbk) of the tables' previous files. The window always keeps
// them; the command line leaves them out on request, for those who keep
// backups of their own.
void RunDatabaseUpdate(const std::string& directory, ProgressDisplay* overallBar,
                       ProgressDisplay* restructureBar, TextDisplay* tableLabel,
                       bool suppressBackups);

}  // namespace strata
