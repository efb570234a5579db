// `strata update` killed with SIGKILL over the update of a sample database
// (right after each rename of the first table swaps, after renames spread
// over the run, and at random moments) and then run again: the rerun
// succeeds, every table holds exactly the rows of an uninterrupted run,
// verify finds nothing, and no journal, staged or temporary file is left in
// the data folder or in the current directory of the killed program. The
// killed runs are the program itself; each rerun and its checks run in this
// process on a simulated disk loaded with what the killed run left (the
// same engine code as the program's, without starting it twice more).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "components/default_components.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "platform/file_system.h"
#include "tests/support/simulated_disk.h"
#include "tests/tools/stored_tables.h"
#include "update/catalogue.h"
#include "update/restructure_database.h"

namespace strata {
namespace {

namespace fs = std::filesystem;

std::string StrataProgram() {
  const char* binDir = std::getenv("STRATA_TEST_BIN_DIR");
  return std::string(binDir != nullptr ? binDir : STRATA_DEFAULT_BIN_DIR) + "/strata";
}

struct Outcome {
  bool killed = false;  // by SIGKILL
  int status = -1;      // the exit status otherwise
};

// Runs strata with args in cwd, its output written to the file output
// (replaced) or thrown away. crashAfter sets the program's test crash point;
// killAfter kills it from here after that long.
Outcome RunStrata(const std::vector<std::string>& args, const fs::path& cwd,
                  const std::string& crashAfter = {},
                  std::optional<std::chrono::microseconds> killAfter = std::nullopt,
                  const fs::path& output = "/dev/null") {
  const std::string program = StrataProgram();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(120);
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
  Outcome outcome;
  outcome.killed = WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL;
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return outcome;
}

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a data folder of the disk may hold after a run: the tables, their
// backups and the lock file; nothing else, and no folder.
std::vector<std::string> Leftovers(platform::FileSystem& disk, const std::string& folder) {
  static const std::vector<std::string> kept = {".dat", ".idx", ".blb", ".dbk", ".ibk", ".bbk"};
  std::vector<std::string> names;
  disk.ListDirectories(folder, "*", names);
  std::vector<std::string> left = names;
  disk.ListFiles(folder, "*", names);
  for (const std::string& name : names) {
    const bool table = std::find(kept.begin(), kept.end(), fs::path(name).extension()) != kept.end();
    if (!table && name != "strata.lck") left.push_back(name);
  }
  return left;
}

// A simulated disk holding the folder as it is on the real one, at the
// same path.
void LoadFolder(strata::testing::SimulatedDisk& disk, const fs::path& folder) {
  std::string parents;
  for (const fs::path& part : folder.relative_path()) {
    parents += "/" + part.string();
    disk.CreateDirectory(parents);
  }
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_directory()) {
      disk.CreateDirectory(entry.path().string());
      continue;
    }
    const std::string bytes = Contents(entry.path());
    disk.PutFile(entry.path().string(),
                 std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  }
}

class UpdateKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // On a memory file system when there is one: a kill keeps what was
    // written, so the flushes to disk only cost time here.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "update-kill-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    components_.emplace();
    DefaultSession().SetActive(true);
  }
  void TearDown() override {
    components_.reset();
    fs::remove_all(root_);
  }

  // What a new start of the program has: components that hold nothing open.
  void NewProgram() {
    components_.reset();
    components_.emplace();
    DefaultSession().SetActive(true);
  }

  // Whether every catalogue table of the folder verifies clean (names the
  // first that does not).
  static std::string VerifyAll(const fs::path& folder) {
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", folder.string() + "/");
    std::string fault;
    for (const CatalogueEntry& entry : Catalogue()) {
      TDataCursor cursor(directory, entry.FileName, CursorModes{.Exclusive = true});
      if (!cursor.VerifyOrRepairTable(false)) {
        fault = entry.FileName;
        break;
      }
    }
    session.CloseDirectory(directory);
    return fault;
  }

  std::map<std::string, strata::testing::StoredTable> ReadAll(const fs::path& folder) {
    std::map<std::string, strata::testing::StoredTable> tables;
    for (const CatalogueEntry& entry : Catalogue()) {
      tables[entry.FileName] = strata::testing::ReadStored(folder.string() + "/", entry.FileName);
    }
    return tables;
  }

  fs::path root_;
  std::optional<DefaultComponents> components_;
};

TEST_F(UpdateKillTest, AKilledUpdateRunAgainEndsAsAnUninterruptedOne) {
  const fs::path sample = root_ / "sample";
  const fs::path cwd = root_ / "cwd";
  fs::create_directories(cwd);
  ASSERT_EQ(RunStrata({"sample-db", sample.string(), "--rows", "12"}, cwd).status, 0);

  const fs::path reference = root_ / "reference";
  fs::copy(sample, reference);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RunStrata({"update", reference.string()}, cwd).status, 0);
  const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  const auto expected = ReadAll(reference);

  struct Round {
    std::string crashAfter;
    std::optional<std::chrono::microseconds> killAfter;
  };
  std::vector<Round> rounds;
#ifdef STRATA_SANITIZED
  // The instrumented program is several times slower: fewer rounds of each kind.
  constexpr int kRenames = 6;
  constexpr int kSpread = 2;
  constexpr int kMoments = 2;
#else
  constexpr int kRenames = 16;
  constexpr int kSpread = 6;
  constexpr int kMoments = 8;
#endif
  // Every rename of the first swaps: staging, backing up, placing.
  for (int n = 1; n <= kRenames; ++n) {
    rounds.push_back({"rename:" + std::to_string(n), std::nullopt});
  }
  std::mt19937 random(20261210);
  for (int i = 0; i < kSpread; ++i) {
    rounds.push_back({"rename:" + std::to_string(std::uniform_int_distribution(17, 400)(random)),
                      std::nullopt});
  }
  for (const char* other : {"delete:7", "create:40", "sync:25", "write:300"}) {
    rounds.push_back({other, std::nullopt});
  }
  for (int i = 0; i < kMoments; ++i) {
    rounds.push_back({"", std::chrono::microseconds(std::uniform_int_distribution<std::int64_t>(
                              0, runTime.count())(random))});
  }

  int killed = 0;
  for (std::size_t i = 0; i < rounds.size(); ++i) {
    const Round& round = rounds[i];
    const fs::path data = root_ / ("round" + std::to_string(i));
    fs::copy(sample, data);
    SCOPED_TRACE(round.crashAfter.empty()
                     ? "killed after " + std::to_string(round.killAfter->count()) + " us"
                     : "crash after " + round.crashAfter);
    if (RunStrata({"update", data.string()}, cwd, round.crashAfter, round.killAfter).killed) {
      ++killed;
    }
    // The rerun: what the killed run left, loaded into a simulated disk.
    strata::testing::SimulatedDisk disk;
    disk.SetTracking(false);
    LoadFolder(disk, data);
    fs::remove_all(data);
    platform::ScopedFileSystem scope(disk);
    NewProgram();
    std::string failure;
    try {
      RestructureDatabase(data.string(), nullptr, nullptr, nullptr);
    } catch (const std::exception& error) {
      failure = error.what();
    }
    ASSERT_EQ(failure, "") << "the rerun failed";
    NewProgram();
    EXPECT_EQ(Leftovers(disk, data.string() + "/"), std::vector<std::string>{});
    EXPECT_EQ(VerifyAll(data), "") << "verify finds something";
    const auto actual = ReadAll(data);
    for (const auto& [name, table] : expected) {
      EXPECT_TRUE(actual.at(name) == table) << name << " differs from the uninterrupted run";
    }
    components_.reset();
  }
  EXPECT_GT(killed, static_cast<int>(rounds.size()) / 2)
      << "too few runs were killed before they ended";
  EXPECT_TRUE(fs::is_empty(cwd));
}

}  // namespace
}  // namespace strata
