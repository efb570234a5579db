#include "tools/interrupted_changes.h"

#include "engine/core/journal/table_journal.h"
#include "engine/core/journal/table_recovery.h"
#include "engine/locale/windows1252.h"
#include "platform/file_system.h"

namespace strata::tools {

std::vector<InterruptedChange> InterruptedChanges(const std::string& folder) {
  platform::FileSystem& files = platform::CurrentFileSystem();
  std::vector<std::string> journals;
  const std::string pattern = std::string("*") + TableJournal::kExtension;
  if (!files.ListFiles(folder, pattern, journals)) return {};
  std::vector<InterruptedChange> changes;
  for (const std::string& journal : journals) {
    std::vector<JournalEntry> entries;
    if (TableJournal::Inspect(files, folder + journal, &entries) != JournalState::Interrupted) {
      continue;
    }
    const std::string table =
        journal.substr(0, journal.size() - std::string(TableJournal::kExtension).size());
    changes.push_back({Windows1252ToUtf8(table), RecoveryFinishes(entries)});
  }
  return changes;
}

std::string RecoveredLine(const InterruptedChange& change) {
  return "recovered '" + change.Table + "': the interrupted change was " +
         (change.Finished ? "finished" : "rolled back");
}

}  // namespace strata::tools
