// A repair under power cuts: a table whose index trees are damaged, whose
// index file is unreadable or missing is repaired once on a simulated disk
// while the states a power cut could leave are taken. Each state is then
// recovered as a user does after a failed repair, by repairing again, and
// must hold every row with the structure the first repair gives, verify
// clean, with nothing left behind but the damaged index kept aside.
#include <gtest/gtest.h>

#include "tests/engine/core/power_cut_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

enum class Damage { IndexTrees, IndexHeader, IndexFileMissing };

struct RepairCase {
  Damage damage;
  const char* name;
};

void PrintTo(const RepairCase& c, std::ostream* out) { *out << c.name; }

class TableRepairPowerCutTest : public ::testing::TestWithParam<RepairCase> {};

TEST_P(TableRepairPowerCutTest, EveryStateRepairsToEveryRow) {
  DiskImage before;
  {
    SimulatedDisk disk;
    ASSERT_TRUE(disk.CreateDirectory(kFolder));
    std::int64_t pages = 0;
    {
      DiskDatabase database(disk, kFolder);
      CreatePeople(*database.directory, true);
      TDataCursor cursor(*database.directory, "people");
      cursor.Open(true);
      pages = cursor.Table()->IndexFile()->FirstUnitOffset();
    }
    const std::string index = std::string(kFolder) + "people.idx";
    std::vector<std::uint8_t> bytes = disk.FileBytes(index);
    switch (GetParam().damage) {
      case Damage::IndexTrees:
        // Every page zeroed: the trees no longer hold the records.
        std::fill(bytes.begin() + pages, bytes.end(), 0);
        break;
      case Damage::IndexHeader:
        bytes.resize(100);
        break;
      case Damage::IndexFileMissing:
        break;
    }
    if (GetParam().damage == Damage::IndexFileMissing) {
      ASSERT_TRUE(disk.Delete(index));
    } else {
      disk.PutFile(index, bytes);
    }
    disk.SyncEverything();
    before = disk.Issued();
  }
  const auto repair = [](TDataDirectory& directory) {
    TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
    cursor.VerifyOrRepairTable(true);
  };
  const PowerCutRun run = RunWithPowerCuts(before, PowerCutRecorder::Plan{}, [&](SimulatedDisk& disk) {
    DiskDatabase database(disk, kFolder);
    repair(*database.directory);
  });
  std::vector<std::string> repaired;
  {
    SimulatedDisk disk(run.After);
    DiskDatabase database(disk, kFolder);
    repaired = PeopleContents(*database.directory);
    TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
    ASSERT_TRUE(cursor.VerifyOrRepairTable(false));
  }
  ASSERT_EQ(std::count_if(repaired.begin(), repaired.end(),
                          [](const std::string& line) { return line.find('|') != std::string::npos; }),
            kRows);

  CheckEveryState(GetParam().name, run, [&](SimulatedDisk& disk) -> std::string {
    DiskDatabase database(disk, kFolder);
    database.directory->RecoverTables();
    repair(*database.directory);
    const std::vector<std::string> contents = PeopleContents(*database.directory);
    if (contents != repaired) {
      return "not the repaired table: " + ::testing::PrintToString(contents);
    }
    TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
    if (!cursor.VerifyOrRepairTable(false)) return "verify found something after the repair";
    const std::vector<std::string> stray = StrayFiles(disk, "people.idx.damaged");
    return stray.empty() ? "" : "left behind: " + ::testing::PrintToString(stray);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Damages, TableRepairPowerCutTest,
    ::testing::Values(RepairCase{Damage::IndexTrees, "IndexTrees"},
                      RepairCase{Damage::IndexHeader, "IndexHeader"},
                      RepairCase{Damage::IndexFileMissing, "IndexFileMissing"}),
    [](const ::testing::TestParamInfo<RepairCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace strata
