// The whole update of an older database under power cuts: the sample
// database (tables to rebuild and tables to create) with two tables that
// only lack an index and two that only have another description, so that
// the run makes every kind of change. The update runs once on a simulated
// disk while the states a power cut could leave are
// taken at every sync, just before it and at other operations. Each state
// is recovered as the next run does before its first table (the tables'
// journals, then the scratch folders of dead runs); every table must then
// hold exactly the rows and structure of the sample or of an uninterrupted
// update (a table the sample lacks: none, or one without rows), verify
// clean, with nothing but tables, backups and the lock file in the folder.
// For part of the states the update is then run again and must end as an
// uninterrupted one.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "components/default_components.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "tests/support/power_cut_recorder.h"
#include "tests/support/simulated_disk.h"
#include "tests/tools/stored_tables.h"
#include "tools/sample_database.h"
#include "components/strata_table.h"
#include "update/catalogue.h"
#include "update/catalogue_definitions.h"
#include "update/restructure_database.h"
#include "update/update_plan.h"
#include "update/run_folder.h"

namespace strata {
namespace {

using strata::testing::DiskImage;
using strata::testing::PowerCutRecorder;
using strata::testing::SimulatedDisk;
using strata::testing::StoredTable;

constexpr char kData[] = "/data";
constexpr char kDataFolder[] = "/data/";
#ifdef STRATA_SANITIZED
// The instrumented build is several times slower: fewer states and reruns.
constexpr int kEvery = 97;
constexpr int kRerunEvery = 60;
constexpr std::size_t kCheckEvery = 4;
#else
constexpr int kEvery = 41;
constexpr int kRerunEvery = 25;
constexpr std::size_t kCheckEvery = 1;
#endif

using Tables = std::map<std::string, std::optional<StoredTable>>;

class UpdatePowerCutTest : public ::testing::Test {
 protected:
  void TearDown() override { components_.reset(); }

  // What a new start of the program has: components that hold nothing open.
  void NewProgram() {
    components_.reset();
    components_.emplace();
    DefaultSession().SetActive(true);
  }

  // Every catalogue table of the folder, none for a missing one.
  static Tables ReadAll() {
    Tables tables;
    TDataDirectory& directory = DefaultSession().DataSession().OpenDirectory("", kDataFolder);
    std::vector<std::string> present;
    for (const CatalogueEntry& entry : Catalogue()) {
      if (directory.TableExists(entry.FileName, false)) present.push_back(entry.FileName);
    }
    DefaultSession().DataSession().CloseDirectory(directory);
    for (const CatalogueEntry& entry : Catalogue()) tables[entry.FileName] = std::nullopt;
    for (const std::string& name : present) {
      tables[name] = strata::testing::ReadStored(kDataFolder, name);
    }
    return tables;
  }

  // What is wrong with the recovered folder, empty when nothing is.
  std::string Check(SimulatedDisk& disk, const Tables& old, const Tables& updated) {
    const Tables tables = ReadAll();
    for (const auto& [name, table] : tables) {
      const bool isOld = table == old.at(name);
      const bool isNew = table == updated.at(name);
      const bool emptyNewTable = !old.at(name).has_value() && table && table->Rows.empty();
      if (!isOld && !isNew && !emptyNewTable) {
        return name + (table ? " holds neither the old nor the new rows" : " is missing");
      }
    }
    TDataDirectory& directory = DefaultSession().DataSession().OpenDirectory("", kDataFolder);
    std::string fault;
    for (const auto& [name, table] : tables) {
      if (!table || !fault.empty()) continue;
      TDataCursor cursor(directory, name, CursorModes{.Exclusive = true});
      if (!cursor.VerifyOrRepairTable(false)) fault = "verify finds something in " + name;
    }
    DefaultSession().DataSession().CloseDirectory(directory);
    if (!fault.empty()) return fault;
    static const std::set<std::string> kept = {".dat", ".idx", ".blb", ".dbk", ".ibk", ".bbk"};
    for (const std::string& path : disk.AllFiles()) {
      const std::size_t dot = path.rfind('.');
      const bool table = dot != std::string::npos && kept.contains(path.substr(dot)) &&
                         path.rfind(kDataFolder, 0) == 0 &&
                         path.find('/', sizeof kDataFolder - 1) == std::string::npos;
      if (!table && path != std::string(kDataFolder) + "strata.lck") return "left behind: " + path;
    }
    std::vector<std::string> folders;
    disk.ListDirectories(kDataFolder, "*", folders);
    if (!folders.empty()) return "folder left behind: " + folders.front();
    return {};
  }

  // The sample database with, in the shape the update gives them, two
  // tables that lack their last index and two with another description.
  DiskImage OlderDatabase() {
    DiskImage sample;
    {
      SimulatedDisk disk;
      EXPECT_TRUE(disk.CreateDirectory(kData));
      platform::ScopedFileSystem scope(disk);
      NewProgram();
      tools::WriteSampleDatabase(kDataFolder, 3);
      components_.reset();
      disk.SyncEverything();
      sample = disk.Issued();
    }
    SimulatedDisk disk(sample);
    platform::ScopedFileSystem scope(disk);
    NewProgram();
    RestructureDatabase(kData, nullptr, nullptr, nullptr);
    // Rebuilt tables go to a scratch folder, as in the run.
    std::optional<RunFolder> folder(kData);
    std::vector<std::string> changed;
    int lackingIndex = 0;
    int otherDescription = 0;
    for (const CatalogueEntry& entry : Catalogue()) {
      // File names carry the data extension.
      if (!sample.Files.contains(kDataFolder + std::string(entry.FileName))) continue;
      CatalogueEntry older = entry;
      if (lackingIndex < 2 && entry.Indexes.size() >= 2) {
        older.Indexes = entry.Indexes.first(entry.Indexes.size() - 1);
        ++lackingIndex;
      } else if (otherDescription < 2) {
        older.Description = "An earlier description";
        ++otherDescription;
      } else {
        break;
      }
      TStrataTable table;
      table.SetDatabaseName(kData);
      table.SetTableName(entry.FileName);
      table.SetExclusive(true);
      TakeCatalogueDefinitions(table, older);
      table.AlterTable(static_cast<std::int32_t>(older.LocaleId), older.UserMajorVersion, 0, false,
                       "", older.Description, kIndexPageSize, kBlobBlockSize, kNoAutoIncValue, "",
                       std::nullopt, "", "", false);
      changed.push_back(entry.FileName);
    }
    folder.reset();
    components_.reset();
    const DiskImage updated = disk.Issued();
    DiskImage older = sample;
    for (const std::string& name : changed) {
      for (const char* extension : {".dat", ".idx", ".blb"}) {
        const std::string path = kDataFolder + name.substr(0, name.rfind('.')) + extension;
        older.Files.erase(path);
        if (updated.Files.contains(path)) older.Files[path] = updated.Files.at(path);
      }
    }
    return older;
  }

  std::optional<DefaultComponents> components_;
};

TEST_F(UpdatePowerCutTest, EveryStateRecoversToTheOldOrTheNewTablesAndARerunCompletes) {
  const DiskImage sample = OlderDatabase();
  Tables old;
  {
    SimulatedDisk disk(sample);
    platform::ScopedFileSystem scope(disk);
    NewProgram();
    old = ReadAll();
    std::map<RestructureLevel, int> levels;
    int created = 0;
    for (const TablePlan& plan : PlanDatabaseUpdate(kData)) {
      if (plan.Preview) {
        ++levels[plan.Preview->Level];
      } else {
        ++created;
      }
    }
    EXPECT_GE(levels[RestructureLevel::Full], 10);
    EXPECT_EQ(levels[RestructureLevel::IndexOnly], 2);
    EXPECT_GE(levels[RestructureLevel::HeaderOnly], 2);
    EXPECT_GE(created, 10);
    components_.reset();
  }
  Tables updated;
  {
    SimulatedDisk disk(sample);
    platform::ScopedFileSystem scope(disk);
    NewProgram();
    RestructureDatabase(kData, nullptr, nullptr, nullptr);
    NewProgram();
    updated = ReadAll();
    components_.reset();
  }

  PowerCutRecorder::Plan plan;
  plan.Every = kEvery;
  plan.RandomStates = 2;
  std::vector<PowerCutRecorder::CrashState> states;
  int moments = 0;
  int taken = 0;
  {
    SimulatedDisk disk(sample);
    platform::ScopedFileSystem scope(disk);
    NewProgram();
    PowerCutRecorder recorder(disk, plan);
    RestructureDatabase(kData, nullptr, nullptr, nullptr);
    components_.reset();
    states = recorder.States();
    moments = recorder.Moments();
    taken = recorder.Taken();
  }

  int checked = 0;
  int reruns = 0;
  int failures = 0;
  for (std::size_t i = 0; i < states.size() && failures < 3; i += kCheckEvery) {
    const PowerCutRecorder::CrashState& state = states[i];
    SimulatedDisk disk(state.Image);
    platform::ScopedFileSystem scope(disk);
    std::string fault;
    try {
      NewProgram();
      { const RunFolder recovered(kData); }
      fault = Check(disk, old, updated);
      if (fault.empty() && checked % kRerunEvery == 0) {
        NewProgram();
        RestructureDatabase(kData, nullptr, nullptr, nullptr);
        NewProgram();
        if (ReadAll() != updated) fault = "the rerun did not end as an uninterrupted update";
        ++reruns;
      }
    } catch (const EDatabaseError& error) {
      fault = std::string("refused: ") + error.what();
    }
    components_.reset();
    ++checked;
    if (fault.empty()) continue;
    ADD_FAILURE() << fault << "\n" << state.Moment << "\n" << state.Image.Listing();
    ++failures;
  }
  std::cout << "[power cut] update of an older database: " << moments << " moments, " << taken
            << " states taken, " << states.size() << " distinct, " << checked
            << " recovered and checked, " << reruns << " run again, " << failures << " failed"
            << std::endl;
  EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace strata
