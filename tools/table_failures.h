// TableFailures: how a command that reads several tables deals with one it
// cannot read. Without --strict the table is named on standard error with
// the reason ("strata: <table>: <reason>", TableProblem) and the command
// goes on with the others; it then ends with status 1 when it read a whole
// folder (a finding: the listing is incomplete) and 2 when the table was
// named on the command line. With --strict the first such table ends the
// command: its error is raised again, with the reason in words.
//
// CommandFinding is the exception of a finding that ends a command (status
// 1, one line "strata: <message>"), such as a folder with no tables.
#pragma once

#include <exception>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace strata {
class TDataDirectory;
}

namespace strata::tools {

class CommandFinding : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The named tables, or every table of the folder when none is named (its
// data files, and the journals of changes under way or interrupted that
// moved a data file aside), in name order; a folder without tables is the
// finding "no tables in '<shown>'".
std::vector<std::string> TablesToRead(TDataDirectory& directory,
                                      const std::vector<std::string>& named,
                                      std::string_view shown);

class TableFailures {
 public:
  TableFailures(TDataDirectory& directory, bool named, bool strict, bool passwordsGiven,
                std::ostream& err)
      : directory_(directory), named_(named), strict_(strict), passwordsGiven_(passwordsGiven),
        err_(err) {}

  // Runs `read` for the table; false when it failed (and the failure was
  // reported). Raises with --strict.
  bool Read(std::string_view table, const std::function<void()>& read);
  // Reports a failure met outside Read.
  void Report(std::string_view table, const std::exception& error);
  bool Any() const { return failures_ > 0; }
  // 0, or the status the failures give.
  int Status() const;

 private:
  TDataDirectory& directory_;
  bool named_;
  bool strict_;
  bool passwordsGiven_;
  std::ostream& err_;
  int failures_ = 0;
};

}  // namespace strata::tools
