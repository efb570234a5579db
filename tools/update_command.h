// `strata update DIR [--no-backups]`: the update run of the window program
// from the terminal.
//
// The folder is first made ready as the run does it (interrupted changes
// finished or undone), then each table is previewed as the dry run does,
// then the run itself goes. Progress (the table in work, its position in
// the catalogue and the restructure's percentage) goes to the progress
// stream only, one line rewritten in place; out receives, when the run has
// finished, the dry run's lines for every table where values were lost or
// changed, then the closing line "Your data has been updated. You can start
// your program."
#pragma once

#include <ostream>
#include <string>

namespace strata::tools {

// Runs the update over the directory (with its trailing "/"); raises the
// first error of the preview or the run. progress may be null.
void RunUpdate(const std::string& directory, bool suppressBackups, std::ostream& out,
               std::ostream* progress);

}  // namespace strata::tools
