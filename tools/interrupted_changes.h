// InterruptedChanges: the tables of a folder that a killed or cut-off run
// left in the middle of a change (a journal that records a change nobody is
// running), and what the next writer's recovery does with each: finish it
// (the new files were all in place) or roll it back. `repair` and `update`
// look before they run and say afterwards what they recovered:
//
//   recovered 'asset': the interrupted change was finished
//   recovered 'books': the interrupted change was rolled back
//
// Looks at the journals only (each one's share lock taken for the moment of
// reading); changes nothing. A folder that cannot be listed has none.
#pragma once

#include <string>
#include <vector>

namespace strata::tools {

struct InterruptedChange {
  std::string Table;  // UTF-8
  bool Finished = false;
};

// folder ends with "/".
std::vector<InterruptedChange> InterruptedChanges(const std::string& folder);

// The line for one change, without a line end.
std::string RecoveredLine(const InterruptedChange& change);

}  // namespace strata::tools
