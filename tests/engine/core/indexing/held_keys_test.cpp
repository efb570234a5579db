// Keys held back by an exclusive writer with a memory budget: the trees end
// as inserting each key at once leaves them, reads and deletes through the
// writer see the held keys, unique indexes still refuse at once, and a
// transaction finds every key in its tree.
#include <gtest/gtest.h>

#include <random>

#include "engine/formats/index_tree.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

using Entries = strata::testing::LeafEntryList;
using strata::testing::LeafEntries;

class HeldKeysTest : public strata::testing::WriteTest {
 protected:
  // name: ID integer (unique), Word string[16] (non-unique, full-text),
  // Group integer (non-unique, descending).
  void CreateTable(const std::string& name) {
    Create(name,
           {FieldDef(1, "ID").Integer(), FieldDef(2, "Word").String(16),
            FieldDef(3, "Group").Integer()},
           {1}, {IndexDef("ByWord", {2}), IndexDef("ByGroup", {3}).Descending()}, {2});
  }

  static Bytes Row(TDataCursor& cursor, int id) {
    static const char* kWords[] = {"oak", "Ash", "elm", "yew alder", "fir", "box"};
    Bytes record = cursor.NewRecordBuffer();
    cursor.ApplyDefaults(record);
    cursor.SetField(record, 1, Int32Bytes(id));
    cursor.SetField(record, 2, TextBytes(std::string(kWords[id * 7 % 6]) + '\0'));
    if (id % 5 != 0) cursor.SetField(record, 3, Int32Bytes(id * 31 % 97));
    return record;
  }

  // Every leaf entry of every index of a table.
  Entries AllEntries(const std::string& name) {
    TDataTable& table = directory_->OpenTable(name, name, TableOpenRequest{.Exclusive = true});
    TIndexFile& file = *table.IndexFile();
    Entries entries;
    for (const int slot : {0, 1, 2, static_cast<int>(kFullTextSlot)}) {
      const Entries more = LeafEntries(file, slot);
      entries.insert(entries.end(), more.begin(), more.end());
    }
    directory_->CloseTable(table);
    return entries;
  }

  ::testing::AssertionResult Verified(const std::string& name) {
    return strata::testing::VerifiedTable(*directory_, name);
  }


  // Inserts rows 1 to 2000 into the table, deleting every seventh row just
  // after it went in and looking up every hundredth through an index.
  void Fill(const std::string& name) {
    TDataCursor cursor(*directory_, name, CursorModes{.Exclusive = true});
    cursor.Open();
    for (int id = 1; id <= 2000; ++id) {
      Bytes record = Row(cursor, id);
      cursor.InsertRecord(record);
      const std::int32_t number = cursor.CurrentRecord();
      if (id % 100 == 0) {
        const auto found = cursor.Indexes().FindKey(1, cursor.Indexes().BuildKey(1, record, id));
        EXPECT_EQ(found, number) << id;
      }
      if (id % 7 == 0) cursor.DeleteRecord(number);
    }
    const auto error = ErrorOf([&] {
      Bytes again = Row(cursor, 3);
      cursor.InsertRecord(again);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, STRATA_KEYVIOL);
  }
};

TEST_F(HeldKeysTest, TreesEndAsInsertingEachKeyLeavesThem) {
  CreateTable("direct");
  Fill("direct");
  // A budget whose held keys fill up many times over the rows.
  engine_.Options().MemoryBudget = 48 << 10;
  CreateTable("held");
  Fill("held");
  EXPECT_TRUE(Verified("held"));
  EXPECT_TRUE(AllEntries("held") == AllEntries("direct"));
}

TEST_F(HeldKeysTest, ATransactionFindsEveryKeyInItsTree) {
  engine_.Options().MemoryBudget = 1 << 20;
  CreateTable("items");
  TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
  cursor.Open();
  for (int id = 1; id <= 300; ++id) {
    Bytes record = Row(cursor, id);
    cursor.InsertRecord(record);
  }
  directory_->StartTransaction();
  for (int id = 301; id <= 320; ++id) {
    Bytes record = Row(cursor, id);
    cursor.InsertRecord(record);
  }
  directory_->Rollback();
  cursor.Close();
  EXPECT_TRUE(Verified("items"));
  TDataCursor reader(*directory_, "items");
  reader.Open(true);
  EXPECT_EQ(reader.Indexes().KeyCount(1), 300);
}

}  // namespace
}  // namespace strata
