// Runs the strata program as a separate process for the tools' tests: its
// exit status and what it wrote to standard output and standard error.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace strata::testing {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// args is a shell fragment (quote paths). The output is captured in files
// next to `scratch`, a directory path ending in "/", and removed again.
inline RunResult RunStrataProgram(const std::string& args, const std::string& scratch) {
  const char* binDir = std::getenv("STRATA_TEST_BIN_DIR");
  const std::string program =
      std::string(binDir != nullptr ? binDir : STRATA_DEFAULT_BIN_DIR) + "/strata";
  const std::string leaf =
      std::filesystem::path(scratch.substr(0, scratch.size() - 1)).filename().string();
  const std::string outFile = scratch + "../" + leaf + ".out";
  const std::string errFile = scratch + "../" + leaf + ".err";
  const int raw = std::system(
      ("'" + program + "' " + args + " >'" + outFile + "' 2>'" + errFile + "'").c_str());
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadWholeFile(outFile);
  result.err = ReadWholeFile(errFile);
  std::filesystem::remove(outFile);
  std::filesystem::remove(errFile);
  return result;
}

}  // namespace strata::testing
