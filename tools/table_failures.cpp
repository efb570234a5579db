#include "tools/table_failures.h"

#include <algorithm>

#include "engine/core/objects/data_directory.h"
#include "engine/core/schema/table_names.h"
#include "engine/locale/windows1252.h"
#include "tools/command_line.h"
#include "tools/table_problem.h"

namespace strata::tools {

std::vector<std::string> TablesToRead(TDataDirectory& directory,
                                      const std::vector<std::string>& named,
                                      std::string_view shown) {
  std::vector<std::string> tables;
  for (const std::string& table : named) tables.push_back(Utf8ToWindows1252(table));
  if (!tables.empty()) return tables;
  tables = directory.ListTables();
  // A table whose data file a change has moved aside is still a table: its
  // journal names it, and reading it says what became of it.
  for (const std::string& journaled : directory.TablesWithJournals()) {
    const JournalState state = directory.ChangeState(journaled);
    if (state != JournalState::Interrupted && state != JournalState::InProgress) continue;
    if (std::none_of(tables.begin(), tables.end(),
                     [&](const std::string& t) { return SameTableName(t, journaled); })) {
      tables.push_back(journaled);
    }
  }
  std::sort(tables.begin(), tables.end(), [](const std::string& a, const std::string& b) {
    return CompareTableNames(a, b) < 0;
  });
  if (tables.empty()) throw CommandFinding("no tables in '" + std::string(shown) + "'");
  return tables;
}

bool TableFailures::Read(std::string_view table, const std::function<void()>& read) {
  try {
    read();
    return true;
  } catch (const std::exception& error) {
    Report(table, error);
    return false;
  }
}

void TableFailures::Report(std::string_view table, const std::exception& error) {
  const std::string reason = TableProblem(error, directory_, table, passwordsGiven_);
  const std::string line = Windows1252ToUtf8(table) + ": " + reason;
  if (strict_) throw std::runtime_error(line);
  err_ << "strata: " << line << '\n';
  ++failures_;
}

int TableFailures::Status() const {
  if (failures_ == 0) return kExitSuccess;
  return named_ ? kExitError : kExitFinding;
}

}  // namespace strata::tools
