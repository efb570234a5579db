// Helpers for the engine core's tests: an active engine with quick lock
// timings in a private temporary directory, a small table structure, and
// record appends through the table's write protocol.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/values/field_types.h"
#include "tests/engine/files/files_test_support.h"
#include "tests/support/definitions.h"

namespace strata::testing {

// Refused locks give up after three quick retries.
inline constexpr TableLockSettings kQuickTableLocks{1, 3, 1, 3, 1, 3};
inline constexpr LockFileTiming kQuickLockFileTiming{3, 1, 2, 5};

inline void UseQuickLocks(TDataEngine& engine) {
  engine.Options().TableLocks = kQuickTableLocks;
  engine.Options().LockFile = kQuickLockFileTiming;
}

inline TDataSession& QuickSession(TDataEngine& engine) {
  TDataSession& session = engine.NewSession();
  session.SetLockRetryCount(3);
  session.SetLockWaitTime(1);
  return session;
}

// ID integer, Name string[20], Done boolean, and with withBlob a memo Notes.
inline TableStructure SampleStructure(bool withBlob = false) {
  TableStructure structure;
  structure.Fields = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(20),
                      FieldDef(3, "Done").Boolean()};
  if (withBlob) structure.Fields.push_back(FieldDef(4, "Notes").Memo());
  structure.Indexes[0] = TIndexFile::DefaultPrimaryDescriptor();
  structure.Indexes[kFullTextSlot] = TIndexFile::EmptyTextDescriptor();
  return structure;
}

inline void CreateSample(TDataDirectory& directory, const std::string& name, bool withBlob = false) {
  TDataTable& table = directory.CreateTable(name, name, false, SampleStructure(withBlob));
  directory.CloseTable(table);
}

// Appends a record with the RecordID under the table write lock and flushes
// it, as a writer of a shared table does.
inline void AppendRecord(TDataTable& table, std::int32_t id) {
  table.WriteLockTable();
  TDataFile& data = *table.DataFile();
  BufferPin pin;
  ASSERT_TRUE(data.AllocateSlot(nullptr, pin));
  TDataFile::RecordOf(pin).SetRecordID(id);
  data.IncrementRecordCount();
  pin.Release();
  table.Flush();
  table.WriteUnlockTable();
}

class CoreTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    UseQuickLocks(engine_);
    engine_.Activate();
  }
  std::string DatabaseName() const { return dir_.substr(0, dir_.size() - 1); }

  TDataEngine engine_;
};

}  // namespace strata::testing
