// Table creation and the three restructure levels under power cuts: each
// change runs once on a simulated disk, with its temporary tables in a
// scratch folder inside the database folder as in an update run, while the
// states a power cut could leave are taken at every sync, just before it
// and at other operations. Each state is then recovered as the next user of
// the folder does (the tables' journals, then abandoned scratch folders)
// and must hold the table's complete old structure and rows or its complete
// new ones, verify clean, with nothing left behind; a recovery that refuses
// the table fails the sweep.
#include <gtest/gtest.h>

#include "engine/core/journal/scratch_folder.h"
#include "tests/engine/core/power_cut_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

enum class Change { Create, HeaderOnly, IndexOnly, IndexOnlyDeleting, FullRebuild, FullRebuildNoBackups };

struct SweepCase {
  Change change;
  const char* name;
};

// The change of a case, made on the table of a database.
void MakeChange(Change change, TDataDirectory& directory) {
  if (change == Change::Create) {
    CreatePeople(directory, false);
    return;
  }
  Fields fields = PeopleFields();
  Indexes indexes = PeopleIndexes();
  int secondary = 1;
  RestructureOptions options;
  switch (change) {
    case Change::HeaderOnly:
      fields[1].Name = "FullName";
      break;
    case Change::IndexOnly:
      indexes[2] = IndexDef("ByCode", {3});
      secondary = 2;
      break;
    case Change::IndexOnlyDeleting:
      indexes[2] = IndexDef("ByCode", {3}).Unique();
      secondary = 2;
      break;
    case Change::FullRebuildNoBackups:
      options.SuppressBackups = true;
      [[fallthrough]];
    case Change::FullRebuild:
      fields[2] = FieldDef(3, "Code").String(20);
      fields.push_back(FieldDef(5, "Extra").Integer());
      break;
    case Change::Create:
      break;
  }
  TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
  cursor.RestructureTable(options, {fields, indexes, secondary});
}

void PrintTo(const SweepCase& c, std::ostream* out) { *out << c.name; }

class TablePowerCutTest : public ::testing::TestWithParam<SweepCase> {};

TEST_P(TablePowerCutTest, EveryStateRecoversToTheOldOrTheNewTable) {
  const Change change = GetParam().change;
  DiskImage before;
  {
    SimulatedDisk disk;
    ASSERT_TRUE(disk.CreateDirectory(kFolder));
    if (change != Change::Create) {
      DiskDatabase database(disk, kFolder);
      CreatePeople(*database.directory, true);
    }
    disk.SyncEverything();
    before = disk.Issued();
  }
  const auto contentsOf = [](const DiskImage& image) {
    SimulatedDisk disk(image);
    DiskDatabase database(disk, kFolder);
    return PeopleContents(*database.directory);
  };
  const std::vector<std::string> old = contentsOf(before);

  PowerCutRecorder::Plan plan;
  plan.Every = 1;
  const PowerCutRun run = RunWithPowerCuts(before, plan, [&](SimulatedDisk& disk) {
    const ScratchFolder scratch(disk, kFolder);
    DiskDatabase database(disk, kFolder, scratch.Path());
    MakeChange(change, *database.directory);
  });
  const std::vector<std::string> changed = contentsOf(run.After);
  ASSERT_NE(old, changed);

  CheckEveryState(GetParam().name, run, [&](SimulatedDisk& disk) -> std::string {
    DiskDatabase database(disk, kFolder);
    database.directory->RecoverTables();
    ScratchFolder::RemoveAbandoned(disk, kFolder);
    const std::vector<std::string> contents = PeopleContents(*database.directory);
    if (contents != old && contents != changed) {
      return "neither the old nor the new table: " + ::testing::PrintToString(contents);
    }
    if (contents != std::vector<std::string>{"no table"}) {
      TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
      if (!cursor.VerifyOrRepairTable(false)) return "verify found something";
    }
    const std::vector<std::string> stray = StrayFiles(disk);
    return stray.empty() ? "" : "left behind: " + ::testing::PrintToString(stray);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Changes, TablePowerCutTest,
    ::testing::Values(SweepCase{Change::Create, "Create"},
                      SweepCase{Change::HeaderOnly, "HeaderOnly"},
                      SweepCase{Change::IndexOnly, "IndexOnly"},
                      SweepCase{Change::IndexOnlyDeleting, "IndexOnlyDeletingDuplicates"},
                      SweepCase{Change::FullRebuild, "FullRebuild"},
                      SweepCase{Change::FullRebuildNoBackups, "FullRebuildWithoutBackups"}),
    [](const ::testing::TestParamInfo<SweepCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace strata
