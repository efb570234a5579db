#include "engine/core/schema/table_names.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

TEST(TableNamesTest, GivenNamesReduceToTableNames) {
  const struct {
    const char* given;
    const char* name;
  } cases[] = {
      {"asset", "asset"},
      {"asset.dat", "asset"},
      {"ASSET.DAT", "ASSET"},
      {"C:\\x\\asset.dat", "asset"},
      {"/data/books/asset.Dat", "asset"},
      {"  asset  ", "asset"},
      {"my.table", "my.table"},
      {"my.table.dat", "my.table"},
      {"asset.idx", "asset.idx"},
      {"data\\", ""},
      // The extension goes once: the name of x.dat.dat is x.dat.dat, and a
      // table name reduces to itself.
      {"x.dat.dat", "x.dat.dat"},
      {"X.DAT.dat", "X.DAT.dat"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TableNameOf(c.given, ".dat"), c.name) << c.given;
  }
  EXPECT_EQ(TableNameOf(std::string(70, 'n') + ".dat", ".dat"), std::string(60, 'n'));
  for (const auto& c : cases) {
    EXPECT_EQ(TableNameOf(c.name, ".dat"), c.name) << c.name;
  }
  EXPECT_EQ(TableFileName(TableNameOf("x.dat.dat", ".dat"), ".dat", ".dat"), "x.dat.dat");
}

TEST(TableNamesTest, FileNamesReplaceOnlyTheDataExtension) {
  EXPECT_EQ(TableFileName("asset", ".dat", ".idx"), "asset.idx");
  EXPECT_EQ(TableFileName("my.table", ".dat", ".blb"), "my.table.blb");
  EXPECT_EQ(TableFileName("old.DAT", ".dat", ".dbk"), "old.dbk");
  EXPECT_EQ(TableFileName("asset", ".dat", ".dat"), "asset.dat");
}

TEST(TableNamesTest, PathsAndDatabaseNames) {
  EXPECT_EQ(DirectoryWithSlash(" C:\\data\\books "), "C:/data/books/");
  EXPECT_EQ(DirectoryWithSlash("/data/"), "/data/");
  EXPECT_EQ(DirectoryWithSlash(""), "");
  EXPECT_EQ(DatabaseNameOfPath("/data/books/"), "/data/books");
  EXPECT_EQ(DatabaseNameOfPath("/"), "/");
  EXPECT_TRUE(SameTableName("Asset", "aSSET"));
  EXPECT_TRUE(SameTableName("\xE9t\xE9", "\xC9T\xC9"));  // Windows-1252 accents
  EXPECT_FALSE(SameTableName("asset", "assets"));
  EXPECT_LT(CompareTableNames("alpha", "Beta"), 0);
  EXPECT_GT(CompareTableNames("beta", "ALPHA"), 0);
  EXPECT_LT(CompareTableNames("ab", "ABC"), 0);
}

}  // namespace
}  // namespace strata
