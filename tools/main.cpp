// The strata command-line program: hands its arguments to RunStrata and
// exits with the status it returns.
#include <iostream>
#include <string>
#include <vector>

#include "platform/crash_point.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
  // Crash tests only: nothing happens unless STRATA_TEST_CRASH_AFTER is set.
  strata::platform::InstallCrashPointFromEnvironment();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return strata::tools::RunStrata(args, std::cout, std::cerr);
}
