// The strata command-line program: hands its arguments to RunStrata and
// exits with the status it returns.
#include <iostream>
#include <string>
#include <vector>

#include "tools/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return strata::tools::RunStrata(args, std::cout, std::cerr);
}
