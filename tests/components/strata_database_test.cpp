#include "components/strata_database.h"

#include <gtest/gtest.h>

#include <string>

#include "components/default_components.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_directory.h"
#include "tests/components/error_message.h"
#include "tests/engine/files/files_test_support.h"

namespace strata {
namespace {

class DatabaseTest : public testing::TempDirTest {
 protected:
  DefaultComponents defaults_;
  TStrataSession& session_ = defaults_.Session();
};

TEST_F(DatabaseTest, NamesAndDirectoriesUseForwardSlashes) {
  struct Case {
    const char* given;
    const char* directory;
  };
  const Case cases[] = {
      {"\\data\\hb\\", "/data/hb"}, {"/data/hb//", "/data/hb"}, {"/", "/"},
      {"\\\\", "/"},                {"", ""},                   {"rel\\dir", "rel/dir"},
  };
  TStrataDatabase& database = session_.CreateDatabase("a\\b");
  EXPECT_EQ(database.DatabaseName(), "a/b");
  for (const Case& c : cases) {
    database.SetDirectory(c.given);
    EXPECT_EQ(database.Directory(), c.directory) << c.given;
  }
}

TEST_F(DatabaseTest, ConnectChecksTheName) {
  TStrataDatabase& unnamed = session_.CreateDatabase();
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.Connect(); }), "Database name is missing");
  TStrataDatabase& pathName = session_.CreateDatabase("\\data\\hb");
  EXPECT_EQ(DatabaseErrorOf([&] { pathName.Connect(); }), "Database name '/data/hb' is not valid");

  TStrataDatabase& first = session_.CreateDatabase("Main");
  first.SetDirectory(dir_);
  TStrataDatabase& second = session_.CreateDatabase("MAIN");
  EXPECT_EQ(DatabaseErrorOf([&] { second.Connect(); }), "Database name 'MAIN' already exists");
  EXPECT_FALSE(second.Connected());
}

TEST_F(DatabaseTest, ConnectOpensTheEngineDirectory) {
  TStrataDatabase& memory = session_.CreateDatabase("Memory");
  memory.SetConnected(true);
  EXPECT_TRUE(session_.Active());
  EXPECT_TRUE(memory.DataDirectory().InMemory());

  TStrataDatabase& local = session_.CreateDatabase("Local");
  local.SetDirectory(dir_);
  local.Connect();
  EXPECT_EQ(local.DataDirectory().Path(), dir_);
  EXPECT_EQ(DatabaseErrorOf([&] { local.SetDatabaseName("Else"); }),
            "Cannot perform this operation on an open database");
  local.Disconnect();
  EXPECT_EQ(DatabaseErrorOf([&] { local.DataDirectory(); }),
            "Cannot perform this operation on a closed database");
}

TEST_F(DatabaseTest, SessionCreatesTemporaryDatabasesAndReusesThem) {
  TStrataDatabase& opened = session_.OpenDatabase(dir_);
  EXPECT_TRUE(opened.Temporary());
  EXPECT_EQ(opened.Directory() + "/", dir_);
  EXPECT_EQ(opened.DataDirectory().Path(), dir_);
  EXPECT_EQ(&session_.OpenDatabase(dir_), &opened);
  EXPECT_EQ(opened.UserCount(), 2);

  session_.CloseDatabase(opened);
  session_.CloseDatabase(opened);
  EXPECT_TRUE(opened.Connected());  // KeepConnections holds it

  TStrataDatabase& memory = session_.OpenDatabase("memory");
  EXPECT_TRUE(memory.Directory().empty());
  EXPECT_TRUE(memory.DataDirectory().InMemory());

  // A component of a temporary database's name takes its place when unused.
  session_.CloseDatabase(memory);
  TStrataDatabase& component = session_.CreateDatabase("MEMORY");
  component.Connect();
  EXPECT_EQ(session_.FindDatabase("Memory"), &component);
  EXPECT_EQ(session_.DatabaseCount(), 2u);

  session_.SetActive(false);
  EXPECT_EQ(session_.DatabaseCount(), 1u);
  EXPECT_FALSE(component.Connected());
}

TEST_F(DatabaseTest, DisconnectsOnLastCloseWhenNotKeepingConnections) {
  session_.SetKeepConnections(false);
  TStrataDatabase& opened = session_.OpenDatabase(dir_);
  EXPECT_FALSE(opened.KeepConnection());
  session_.OpenDatabase(dir_);
  session_.CloseDatabase(opened);
  EXPECT_TRUE(opened.Connected());
  session_.CloseDatabase(opened);
  EXPECT_FALSE(opened.Connected());
  EXPECT_EQ(session_.DataSession().DirectoryCount(), 0u);
}

}  // namespace
}  // namespace strata
