// Helpers for the power-cut sweeps of the engine core: an engine of its own
// over a folder of a simulated disk, a change run once on a disk holding a
// starting image while a PowerCutRecorder takes the states a power cut
// could leave, and the sweep's counts.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>
#include <iostream>
#include <string>
#include <vector>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/power_cut_recorder.h"
#include "tests/support/simulated_disk.h"

namespace strata::testing {

inline constexpr char kFolder[] = "/db/";
inline constexpr int kRows = 6;

using Fields = std::vector<FieldDescriptor>;
using Indexes = std::array<IndexDescriptor, kIndexSlotCount>;

// people: ID integer, Name string[30], Code string[10], Notes memo; rows 2
// to kRows share their Code, so a unique index on it keeps rows 1 and 2.
inline Fields PeopleFields() {
  return {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
          FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
}

inline Indexes PeopleIndexes() {
  Indexes indexes{};
  indexes[0] = IndexDef("", {1}).Unique();
  indexes[1] = IndexDef("ByName", {2});
  return indexes;
}

inline void CreatePeople(TDataDirectory& directory, bool withRows) {
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

// The table's field names and rows, or "no table".
inline std::vector<std::string> PeopleContents(TDataDirectory& directory) {
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

// The files of the disk other than the table's, its backups and the lock
// file of kFolder, and every folder in kFolder; keptAside is a name prefix
// also allowed.
inline std::vector<std::string> StrayFiles(SimulatedDisk& disk, const std::string& keptAside = {}) {
  static const std::set<std::string> expected = {"people.dat", "people.idx", "people.blb",
                                                 "people.dbk", "people.ibk", "people.bbk",
                                                 "strata.lck"};
  std::vector<std::string> stray;
  for (const std::string& path : disk.AllFiles()) {
    const std::string name = path.substr(sizeof kFolder - 1);
    const bool aside = !keptAside.empty() && name.rfind(keptAside, 0) == 0;
    if (path.rfind(kFolder, 0) != 0 || (!expected.contains(name) && !aside)) {
      stray.push_back(path);
    }
  }
  std::vector<std::string> folders;
  disk.ListDirectories(kFolder, "*", folders);
  for (const std::string& folder : folders) stray.push_back(kFolder + folder + "/");
  return stray;
}


// An engine of its own on a disk, with one folder open: nothing of it
// stays open once it goes.
struct DiskDatabase {
  DiskDatabase(platform::FileSystem& disk, const std::string& path,
               const std::string& privatePath = {})
      : engine(disk) {
    UseQuickLocks(engine);
    engine.Activate();
    TDataSession& session = QuickSession(engine);
    if (!privatePath.empty()) session.SetPrivateDirectory(privatePath);
    directory = &session.OpenDirectory("powercut", path);
  }
  TDataEngine engine;
  TDataDirectory* directory = nullptr;
};

struct PowerCutRun {
  std::vector<PowerCutRecorder::CrashState> States;
  DiskImage After;  // everything the run did
  int Moments = 0;
  int Taken = 0;
};

// Runs change once on a disk holding before (durably), taking the states of
// the plan.
inline PowerCutRun RunWithPowerCuts(const DiskImage& before, const PowerCutRecorder::Plan& plan,
                                    const std::function<void(SimulatedDisk&)>& change) {
  SimulatedDisk disk(before);
  PowerCutRun run;
  {
    PowerCutRecorder recorder(disk, plan);
    change(disk);
    run.States = recorder.States();
    run.Moments = recorder.Moments();
    run.Taken = recorder.Taken();
  }
  run.After = disk.Issued();
  return run;
}

// Recovers and checks every state of a run: check says what is wrong with
// a recovered disk (nothing when it is sound), and an engine error it
// raises is a refusal. Each fault fails the test with the state's moment
// and listing; the sweep stops after three. Prints one line of counts, the
// ones the long run adds up.
inline void CheckEveryState(const std::string& name, const PowerCutRun& run,
                            const std::function<std::string(SimulatedDisk&)>& check) {
  int checked = 0;
  int failures = 0;
  for (const PowerCutRecorder::CrashState& state : run.States) {
    SimulatedDisk disk(state.Image);
    std::string fault;
    try {
      fault = check(disk);
    } catch (const EStrataEngineError& error) {
      fault = std::string("refused: ") + error.what();
    }
    ++checked;
    if (fault.empty()) continue;
    ADD_FAILURE() << fault << "\n" << state.Moment << "\n" << state.Image.Listing();
    if (++failures == 3) break;
  }
  std::cout << "[power cut] " << name << ": " << run.Moments << " moments, " << run.Taken
            << " states taken, " << run.States.size() << " distinct, " << checked
            << " recovered and checked, " << failures << " failed" << std::endl;
  EXPECT_GT(run.States.size(), 20u) << "too few states for a sweep";
}

}  // namespace strata::testing
