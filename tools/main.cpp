// The strata command-line program: hands its arguments to RunStrata, then
// makes sure standard output took everything (a full disk or a closed pipe
// turns a success into status 2), and exits with the status.
#include <iostream>
#include <string>
#include <vector>

#include "platform/crash_point.h"
#include "platform/signal_cleanup.h"
#include "platform/standard_output.h"
#include "tools/command_line.h"
#include "tools/output_file.h"

int main(int argc, char** argv) {
  // Crash tests only: nothing happens unless STRATA_TEST_CRASH_AFTER is set.
  strata::platform::InstallCrashPointFromEnvironment();
  strata::platform::InstallSignalCleanup();
  strata::platform::StandardOutputBuffer standardOutput;
  std::cout.rdbuf(&standardOutput);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  int status = strata::tools::RunStrata(args, std::cout, std::cerr);
  std::cout.flush();
  if (!standardOutput.Close()) {
    // A command that wrote its own output (an export) has said so already.
    if (status != strata::tools::kExitError) {
      std::cerr << "strata: cannot write 'standard output': "
                << strata::tools::OsReason(standardOutput.Error()) << '\n';
    }
    status = strata::tools::kExitError;
  }
  std::cout.rdbuf(nullptr);
  return status;
}
