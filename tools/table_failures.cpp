#include "tools/table_failures.h"

#include "engine/core/objects/data_directory.h"
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
