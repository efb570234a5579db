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

#include <set>

#include "engine/core/journal/scratch_folder.h"
#include "tests/engine/core/power_cut_test_support.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

enum class Change { Create, HeaderOnly, IndexOnly, IndexOnlyDeleting, FullRebuild, FullRebuildNoBackups };

struct SweepCase {
  Change change;
  const char* name;
};

constexpr char kFolder[] = "/db/";
constexpr int kRows = 6;

using Fields = std::vector<FieldDescriptor>;
using Indexes = std::array<IndexDescriptor, kIndexSlotCount>;

// people: ID integer, Name string[30], Code string[10], Notes memo; rows 2
// to kRows share their Code, so a unique index on it keeps rows 1 and 2.
Fields PeopleFields() {
  return {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
          FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
}

Indexes PeopleIndexes() {
  Indexes indexes{};
  indexes[0] = IndexDef("", {1}).Unique();
  indexes[1] = IndexDef("ByName", {2});
  return indexes;
}

void CreatePeople(TDataDirectory& directory, bool withRows) {
  {
    Fields fields = PeopleFields();
    Indexes indexes = PeopleIndexes();
    TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
    cursor.CreateTableFiles({}, {fields, indexes, 1});
  }
  if (!withRows) return;
  TDataCursor cursor(directory, "people");
  cursor.Open();
  for (int id = 1; id <= kRows; ++id) {
    Bytes record = cursor.NewRecordBuffer();
    cursor.ApplyDefaults(record);
    cursor.SetField(record, 1, Int32Bytes(id));
    cursor.SetField(record, 2, TextBytes("name " + std::to_string(id) + '\0'));
    cursor.SetField(record, 3, TextBytes("code" + std::to_string(std::min(id, 2)) + '\0'));
    cursor.SetBlobValue(record, 4, TextBytes(std::string(700 * id, static_cast<char>('a' + id))));
    cursor.InsertRecord(record);
  }
  cursor.Close();
}

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

// The table's field names and rows, or "no table".
std::vector<std::string> Contents(TDataDirectory& directory) {
  if (!directory.TableExists("people", false)) return {"no table"};
  std::vector<std::string> contents;
  {
    TDataCursor cursor(directory, "people");
    cursor.Open(true);
    for (const FieldDescriptor& field : cursor.Fields()) contents.push_back(field.Name);
    const TIndexFile& index = *cursor.Table()->IndexFile();
    for (int slot = 0; slot <= index.SecondaryIndexCount(); ++slot) {
      const IndexDescriptor& descriptor = index.Descriptor(slot);
      contents.push_back("index " + descriptor.Name + (descriptor.Unique != 0 ? " unique" : ""));
    }
  }
  for (std::string& row : RowTexts(directory, "people")) contents.push_back(std::move(row));
  return contents;
}

// What a folder may hold besides the table: its backups and the lock file.
std::vector<std::string> StrayFiles(SimulatedDisk& disk) {
  static const std::set<std::string> expected = {"people.dat", "people.idx", "people.blb",
                                                 "people.dbk", "people.ibk", "people.bbk",
                                                 "strata.lck"};
  std::vector<std::string> stray;
  for (const std::string& path : disk.AllFiles()) {
    if (path.rfind(kFolder, 0) != 0 || !expected.contains(path.substr(sizeof kFolder - 1))) {
      stray.push_back(path);
    }
  }
  std::vector<std::string> folders;
  disk.ListDirectories(kFolder, "*", folders);
  for (const std::string& folder : folders) stray.push_back(kFolder + folder + "/");
  return stray;
}

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
    return Contents(*database.directory);
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

  int failures = 0;
  int checked = 0;
  for (const PowerCutRecorder::CrashState& state : run.States) {
    SCOPED_TRACE(state.Moment + "\n" + state.Image.Listing());
    SimulatedDisk disk(state.Image);
    std::vector<std::string> contents;
    bool clean = false;
    try {
      DiskDatabase database(disk, kFolder);
      database.directory->RecoverTables();
      ScratchFolder::RemoveAbandoned(disk, kFolder);
      contents = Contents(*database.directory);
      if (contents != std::vector<std::string>{"no table"}) {
        TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
        clean = cursor.VerifyOrRepairTable(false);
      } else {
        clean = true;
      }
    } catch (const EStrataEngineError& error) {
      ADD_FAILURE() << "refused: " << error.what();
      ++failures;
      if (failures >= 3) break;
      continue;
    }
    ++checked;
    const bool ok = (contents == old || contents == changed) && clean &&
                    StrayFiles(disk).empty();
    EXPECT_TRUE(contents == old || contents == changed) << ::testing::PrintToString(contents);
    EXPECT_TRUE(clean) << "verify found something";
    EXPECT_EQ(StrayFiles(disk), std::vector<std::string>{});
    if (!ok && ++failures >= 3) break;
  }
  ReportSweep(GetParam().name, run, checked, failures);
  EXPECT_GT(run.States.size(), 20u);
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
