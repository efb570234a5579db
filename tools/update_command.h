// `strata update DIR`: the update run of the window program from the
// terminal. Each table's file name is printed as the run reaches it, with
// its position in the catalogue and the restructure's progress; success
// prints the window's final message.
#pragma once

#include <ostream>
#include <string>

namespace strata::tools {

// Runs the update over the directory; raises the run's first error.
void RunUpdate(const std::string& directory, std::ostream& out);

}  // namespace strata::tools
