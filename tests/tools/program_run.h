// Runs the strata program as a separate process for the tools' tests: its
// exit status and what it wrote to standard output and standard error, or
// in the background, for a test that signals it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace strata::testing {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string StrataProgramPath() {
  const char* binDir = std::getenv("STRATA_TEST_BIN_DIR");
  return std::string(binDir != nullptr ? binDir : STRATA_DEFAULT_BIN_DIR) + "/strata";
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// args is a shell fragment (quote paths). The output is captured in files
// next to `scratch`, a directory path ending in "/", and removed again.
inline RunResult RunStrataProgram(const std::string& args, const std::string& scratch) {
  const std::string program = StrataProgramPath();
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

// The program started in the background with its arguments, standard
// output and error going to /dev/null, and `environment` ("NAME=value")
// added to the test's own.
inline pid_t StartStrataProgram(const std::vector<std::string>& args,
                                const std::vector<std::string>& environment = {}) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  for (const std::string& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, 1);
  ::dup2(null, 2);
  const std::string program = StrataProgramPath();
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// The exit status of a program started in the background (-1 when a signal
// ended it).
inline int WaitForStrataProgram(pid_t pid) {
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace strata::testing
