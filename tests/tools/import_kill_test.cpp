// `strata import` killed with SIGKILL (right after each file operation of
// its run, and at random moments), then another command that writes to the
// folder: the table holds exactly its old rows or every accepted row,
// verify finds nothing, and no journal, staged, temporary or scratch file
// is left in the data folder. Both ways of building the new version are
// killed: replacing (an empty table, its indexes built at the end) and
// appending (a copy of the table's files).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/program_run.h"

namespace strata::testing {
namespace {

namespace fs = std::filesystem;

std::string StrataProgram() {
  const char* binDir = std::getenv("STRATA_TEST_BIN_DIR");
  return std::string(binDir != nullptr ? binDir : STRATA_DEFAULT_BIN_DIR) + "/strata";
}

// Runs strata with args, output to the file `output`; crashAfter sets the
// program's test crash point, killAfter kills it from here after that long.
// True when it was killed.
bool RunKilled(const std::vector<std::string>& args, const std::string& crashAfter,
               std::optional<std::chrono::microseconds> killAfter, const fs::path& output) {
  const std::string program = StrataProgram();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!crashAfter.empty()) ::setenv("STRATA_TEST_CRASH_AFTER", crashAfter.c_str(), 1);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(121);
  }
  if (killAfter) {
    std::this_thread::sleep_for(*killAfter);
    ::kill(pid, SIGKILL);
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL;
}

std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    const bool table = extension == ".dat" || extension == ".idx" || extension == ".blb";
    if (entry.is_directory() || (!table && entry.path().filename() != "strata.lck")) {
      left.push_back(entry.path().filename().string());
    }
  }
  return left;
}

class ImportKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // On a memory file system when there is one: a kill keeps what was
    // written, so the flushes to disk only cost time here.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "import-kill-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  RunResult Run(const std::string& args) { return RunStrataProgram(args, root_.string() + "/"); }
  std::string Export(const fs::path& folder) {
    const RunResult run = Run("export '" + folder.string() + "' asset");
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }

  fs::path root_;
};

TEST_F(ImportKillTest, AKilledImportLeavesTheOldRowsOrEveryAcceptedRow) {
  const fs::path sample = root_ / "sample";
  ASSERT_EQ(Run("sample-db '" + sample.string() + "' --rows 12").status, 0);
  const std::string old = Export(sample);
  // The rows to import: the table's own with new keys and one row that is
  // refused, so that the rejects file is written too.
  std::string rows = old;
  const std::size_t header = rows.find("\r\n") + 2;
  std::string added;
  for (int i = 100; i < 130; ++i) {
    added += std::to_string(i) + ",1,Row " + std::to_string(i) + ",2024-01-0" +
             std::to_string(1 + i % 9) + "T10:00:00.000,1.5,2.5,3,\"memo, " + std::to_string(i) +
             "\"\r\n";
  }
  added += "200,1,bad,2024-13-01T00:00:00.000,1,1,1,x\r\n";
  rows = rows.substr(0, header) + added;
  const fs::path input = root_ / "rows.csv";
  std::ofstream(input, std::ios::binary) << rows;
  const fs::path rejects = root_ / "rejects.csv";

  struct Mode {
    const char* name;
    std::vector<std::string> options;
  };
  const std::vector<Mode> modes = {{"replace", {"--mode", "replace"}}, {"append", {}}};
  int killed = 0;
  int rounds = 0;
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.name);
    std::vector<std::string> args = {"import",       "",          "asset",
                                     input.string(), "--rejects", rejects.string()};
    args.insert(args.end(), mode.options.begin(), mode.options.end());

    // The uninterrupted import: its rows and its time.
    const fs::path reference = root_ / "reference";
    fs::copy(sample, reference);
    args[1] = reference.string();
    const auto started = std::chrono::steady_clock::now();
    const fs::path log = root_ / "output.txt";
    ASSERT_FALSE(RunKilled(args, "", std::nullopt, log));
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    ASSERT_NE(ReadWholeFile(log.string()).find("Imported 30 rows"), std::string::npos)
        << ReadWholeFile(log.string());
    const std::string imported = Export(reference);
    fs::remove_all(reference);

#ifdef STRATA_SANITIZED
    // The instrumented program is many times slower: every sixth operation
    // and fewer moments.
    constexpr int kStride = 6;
    constexpr int kMoments = 3;
#else
    constexpr int kStride = 1;
    constexpr int kMoments = 10;
#endif
    // One round: the import killed, then another command that writes to
    // the folder (a repair of the table or a dry run of the import; either
    // finishes or undoes the import first). True when the import was killed.
    const auto round = [&](const std::string& crashAfter,
                           std::optional<std::chrono::microseconds> killAfter) {
      const fs::path data = root_ / "data";
      fs::copy(sample, data);
      args[1] = data.string();
      const bool died = RunKilled(args, crashAfter, killAfter, log);
      killed += died ? 1 : 0;
      ++rounds;
      const std::string next = rounds % 2 == 0 ? "repair '" + data.string() + "' asset"
                                               : "import '" + data.string() + "' asset '" +
                                                     input.string() + "' --dry-run";
      const RunResult after = Run(next);
      EXPECT_LE(after.status, 1) << next << "\n" << after.out << after.err;
      const std::string now = Export(data);
      EXPECT_TRUE(now == old || now == imported) << "the table holds neither the old rows nor "
                                                    "every accepted row:\n"
                                                 << now;
      const RunResult verify = Run("verify '" + data.string() + "' asset");
      EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
      EXPECT_EQ(Leftovers(data), std::vector<std::string>{});
      fs::remove_all(data);
      return died;
    };
    // Right after each file operation of the run in turn ("any" counts
    // creations, writes, syncs, renames and deletes) until a run ends by
    // itself, then at random moments.
    for (int n = 1; n < 10000; n += kStride) {
      SCOPED_TRACE("crash after any:" + std::to_string(n));
      if (!round("any:" + std::to_string(n), std::nullopt)) break;
    }
    std::mt19937 random(20261211);
    for (int i = 0; i < kMoments; ++i) {
      const std::chrono::microseconds after(
          std::uniform_int_distribution<std::int64_t>(0, runTime.count())(random));
      SCOPED_TRACE("killed after " + std::to_string(after.count()) + " us");
      round("", after);
    }
  }
  EXPECT_GT(killed, rounds / 2) << "too few runs were killed before they ended";
}

}  // namespace
}  // namespace strata::testing
