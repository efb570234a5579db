// The strata command line: `strata <command> [arguments]`. RunStrata picks
// the subcommand, runs it and returns the exit status:
//
//   0  success
//   1  a finding (a check that ran and found something to report)
//   2  an error or bad usage, with one line "strata: <message>" on stderr
//      (engine errors give their Message(), converted to UTF-8)
//
// `strata help` (or --help, -h) prints the usage text to out.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace strata::tools {

enum ExitStatus : int { kExitSuccess = 0, kExitFinding = 1, kExitError = 2 };

// The usage text, one line per subcommand.
std::string UsageText();

// args: the arguments after the program name.
int RunStrata(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace strata::tools
