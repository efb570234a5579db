// The update run over the sample database while the disk fails: every N-th
// file operation of the run fails with EIO, then with ENOSPC, for N spread
// over the whole run. The run reports the error (or, having got past it,
// leaves its work complete); and a run on a healthy disk afterwards
// completes with every table exactly as an undisturbed update leaves it.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/engine/core/faulting_file_system.h"
#include "tests/tools/stored_tables.h"
#include "tests/update/update_test_support.h"
#include "tools/command_line.h"
#include "tools/sample_database.h"
#include "update/restructure_database.h"

namespace strata {
namespace {

using namespace strata::testing;

// Fails every N-th operation, not only the first: the clean-up after the
// first failure meets failures too.
class PeriodicFaults : public FaultingFileSystem {
 public:
  int every = 0;
  int failures = 0;
  bool Fails(const char* operation, const std::string& path = {}) override {
    if (!armed) return false;
    if (++count % every != 0) return false;
    ++failures;
    failed = std::string(operation) + " " + path;
    platform::SetLastErrorNumber(error);
    return true;
  }
};

class UpdateIoFaultsTest : public strata::testing::UpdateRunTest {
 protected:
  std::map<std::string, StoredTable> ReadAll(const std::filesystem::path& folder) {
    std::map<std::string, StoredTable> tables;
    for (const CatalogueEntry& entry : Catalogue()) {
      tables[entry.FileName] = ReadStored(folder.string(), entry.FileName);
    }
    return tables;
  }
  // What a new start of the program has: components that hold nothing open.
  void NewProgram() {
    components_.reset();
    components_.emplace();
    DefaultSession().SetActive(true);
  }
  // The data folder as the sample wrote it, before any update.
  void Restore(const std::filesystem::path& folder) {
    std::filesystem::remove_all(folder);
    std::filesystem::copy(sample_, folder, std::filesystem::copy_options::recursive);
  }

  std::filesystem::path sample_;
};

TEST_F(UpdateIoFaultsTest, FailingDiskLosesNoRowAndARerunCompletes) {
  sample_ = root_ / "sample";
  std::filesystem::create_directories(sample_);
  tools::WriteSampleDatabase(sample_.string(), 4);

  // An undisturbed update, counting its file operations.
  const std::filesystem::path reference = root_ / "reference";
  Restore(reference);
  PeriodicFaults counter;
  counter.every = 1 << 30;
  {
    platform::ScopedFileSystem scope(counter);
    counter.armed = true;
    RestructureDatabase(reference.string(), nullptr, nullptr, nullptr);
    counter.armed = false;
    NewProgram();
  }
  const int operations = counter.count;
  ASSERT_GT(operations, 1000);
  const std::map<std::string, StoredTable> expected = ReadAll(reference);

  // N across the run: early (creating the first tables), in the middle and
  // late (the last swaps), different points for each error.
  struct Round {
    int error;
    int every;
  };
  const Round rounds[] = {{EIO, 7},
                          {EIO, operations / 5},
                          {EIO, operations / 2},
                          {EIO, operations * 9 / 10},
                          {ENOSPC, 23},
                          {ENOSPC, operations / 3 + 1},
                          {ENOSPC, operations * 2 / 3},
                          {ENOSPC, operations * 4 / 5}};
  for (const Round& round : rounds) {
    SCOPED_TRACE(std::string(round.error == EIO ? "EIO" : "ENOSPC") + " every " +
                 std::to_string(round.every) + " of " + std::to_string(operations));
    Restore(data_);
    PeriodicFaults faults;
    faults.error = round.error;
    faults.every = round.every;
    bool reported = false;
    {
      platform::ScopedFileSystem scope(faults);
      faults.armed = true;
      try {
        RestructureDatabase(data_.string(), nullptr, nullptr, nullptr);
      } catch (const std::exception&) {
        reported = true;
      }
      faults.armed = false;
      NewProgram();
    }
    EXPECT_GE(faults.failures, 1);
    // A failure the run got past (a swap finished on its second attempt)
    // may go unreported only when the run's work is complete.
    if (!reported) {
      EXPECT_TRUE(ReadAll(data_) == expected)
          << "the failed " << faults.failed << " went unreported";
    }
    RestructureDatabase(data_.string(), nullptr, nullptr, nullptr);
    EXPECT_TRUE(ReadAll(data_) == expected);
    strata::testing::ExpectCatalogueStructure(data_.string());
  }
}

// A write refused for want of room is named as such in the one line the
// command prints; another failure is not.
TEST_F(UpdateIoFaultsTest, AFullDiskIsNamedInTheMessage) {
  tools::WriteSampleDatabase(data_.string(), 4);
  components_.reset();  // the command makes its own
  sample_ = root_ / "sample";
  std::filesystem::copy(data_, sample_, std::filesystem::copy_options::recursive);
  for (const int error : {ENOSPC, EDQUOT, EIO}) {
    SCOPED_TRACE(error);
    Restore(data_);
    FaultingFileSystem faults;
    faults.error = error;
    faults.failWrite = [](const std::string& path, std::int64_t) {
      return path.find("/asset.") != std::string::npos ||
             path.find("asset.dat.new~") != std::string::npos;
    };
    std::ostringstream out, err;
    {
      platform::ScopedFileSystem scope(faults);
      const std::vector<std::string> args = {"update", data_.string()};
      EXPECT_EQ(tools::RunStrata(args, out, err), tools::kExitError);
    }
    const std::string text = err.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.find(": no space left on the device\n") != std::string::npos, error != EIO)
        << text;
  }
  components_.emplace();
}

}  // namespace
}  // namespace strata
