// A directory opened for reading: it never creates or rewrites the lock
// file, its tables open read-only, and with an existing lock file its
// readers wait for a writer of another session (never a torn read).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/error_codes.h"
#include "tests/engine/core/core_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

class ReadOnlyDirectoryTest : public strata::testing::CoreTest {
 protected:
  bool LockFileExists() const { return std::filesystem::exists(dir_ + "strata.lck"); }
};

TEST_F(ReadOnlyDirectoryTest, WithoutALockFileNoneAppearsAndNothingCanBeWritten) {
  {
    TDataSession& writer = QuickSession(engine_);
    TDataDirectory& directory = writer.OpenDirectory("", dir_);
    CreateSample(directory, "books");
    writer.CloseDirectory(directory);
  }
  std::filesystem::remove(dir_ + "strata.lck");
  TDataSession& session = QuickSession(engine_);
  TDataDirectory& directory = session.OpenDirectoryForReading(dir_);
  EXPECT_TRUE(directory.ReadOnlyDatabase());
  EXPECT_TRUE(directory.Locks()->Disabled());
  EXPECT_EQ(&session.OpenDirectoryForReading(dir_.substr(0, dir_.size() - 1)), &directory);
  session.CloseDirectory(directory);

  TDataTable& table = directory.OpenTable("books", "books");
  EXPECT_TRUE(table.ReadOnly());
  directory.CloseTable(table);
  EXPECT_EQ(CodeOf([&] { directory.CreateTable("other", "other", false, SampleStructure()); }),
            STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { directory.DeleteTable("books"); }), STRATA_OSEACCES);
  session.CloseDirectory(directory);
  EXPECT_FALSE(LockFileExists());
  EXPECT_TRUE(std::filesystem::exists(dir_ + "books.dat"));
}

TEST_F(ReadOnlyDirectoryTest, AnExistingLockFileMakesReadersWaitForWritersAndStaysUnchanged) {
  TDataSession& writer = QuickSession(engine_);
  TDataDirectory& written = writer.OpenDirectory("", dir_);
  CreateSample(written, "listed");
  TDataTable& listed = written.OpenTable("listed", "listed");  // shared: listed in the lock file
  // Created after the lock file and never opened shared: not listed.
  CreateSample(written, "unlisted");
  const std::string lockFile = Slurp("strata.lck");

  TDataSession& reader = QuickSession(engine_);
  TDataDirectory& reading = reader.OpenDirectoryForReading(dir_);
  EXPECT_TRUE(reading.ReadOnlyDatabase());
  EXPECT_FALSE(reading.Locks()->Disabled());

  listed.WriteLockTable();  // a writer at work
  EXPECT_EQ(CodeOf([&] { reading.OpenTable("listed", "listed"); }), STRATA_READLOCK);
  listed.WriteUnlockTable();
  AppendRecord(listed, 7);
  TDataTable& read = reading.OpenTable("listed", "listed");
  EXPECT_EQ(read.DataFile()->Header().RecordCount, 1);
  reading.CloseTable(read);

  TDataTable& other = reading.OpenTable("unlisted", "unlisted");
  EXPECT_TRUE(other.ReadOnly());
  reading.CloseTable(other);
  reader.CloseDirectory(reading);
  EXPECT_EQ(Slurp("strata.lck"), lockFile);
  written.CloseTable(listed);
  writer.CloseDirectory(written);
}

}  // namespace
}  // namespace strata
