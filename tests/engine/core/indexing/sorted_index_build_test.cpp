// Indexes built from sorted keys against the same indexes built by inserting
// one key at a time: the same entries in the same order, every tree rule
// kept, and a tree that takes later inserts and deletes; and duplicate keys
// of unique indexes refused as inserting refuses them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "engine/core/indexing/sorted_index_build.h"
#include "engine/formats/index_tree.h"
#include "engine/formats/record_values.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

using Entries = strata::testing::LeafEntryList;
using strata::testing::LeafEntries;


// The parameter is the table's locale: 0 compares keys as bytes, 2057
// (en_GB) compares text through the collation.
class SortedIndexBuildTest : public strata::testing::WriteTest,
                             public ::testing::WithParamInterface<std::int32_t> {
 protected:
  // items: ID integer (unique primary), Name string[20] (NULLs, repeats,
  // mixed case; also full-text indexed), Score integer (NULLs), Code
  // string[12] (unique).
  void CreateItems() {
    Create("items",
           {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(20),
            FieldDef(3, "Score").Integer(), FieldDef(4, "Code").String(12)},
           {1},
           {IndexDef("ByName", {2}).CaseInsensitive(),
            IndexDef("ByNameScore", {2, 3}).Descending(),
            IndexDef("ByCode", {4}).Unique()},
           {2}, Options());
  }
  static TableCreateOptions Options() {
    TableCreateOptions options;
    options.LocaleID = GetParam();
    return options;
  }

  void InsertRows(int first, int count, std::mt19937& random) {
    static const char* kNames[] = {"anna", "Anna", "ANNA", "ben", "Clara Voss", "david",
                                   "Émile", "eva", "Zoë", "frank lang"};
    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    for (int id = first; id < first + count; ++id) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      cursor.SetField(record, 1, Int32Bytes(id));
      if (random() % 10 != 0) {
        const std::string name = kNames[random() % std::size(kNames)];
        cursor.SetField(record, 2, TextBytes(name + '\0'));
      }
      if (random() % 8 != 0) cursor.SetField(record, 3, Int32Bytes(static_cast<int>(random() % 50) - 25));
      cursor.SetField(record, 4, TextBytes("C" + std::to_string(id * 7919 % 100003) + '\0'));
      cursor.InsertRecord(record);
    }
  }

  void DeleteRows(int count, std::mt19937& random) {
    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    Bytes record = cursor.NewRecordBuffer();
    for (int done = 0; done < count;) {
      const auto n = static_cast<std::int32_t>(random() % cursor.PhysicalRecordCount()) + 1;
      if (!cursor.ReadRecord(n, record)) continue;
      cursor.DeleteRecord(n);
      ++done;
    }
  }

  ::testing::AssertionResult Verified() { return strata::testing::VerifiedTable(*directory_, "items"); }

};

TEST_P(SortedIndexBuildTest, SortedTreesHoldWhatInsertedTreesHoldAndTakeLaterChanges) {
  CreateItems();
  std::mt19937 random(16);
  InsertRows(1, 3000, random);
  DeleteRows(300, random);  // free slots: record numbers with gaps
  ASSERT_TRUE(Verified());

  // The records as they are, read before the table is taken exclusively.
  std::vector<std::pair<std::int32_t, Bytes>> records;
  {
    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (cursor.ReadRecord(n, record)) records.emplace_back(n, record);
    }
  }

  const std::vector<int> slots = {0, 1, 2, 3, static_cast<int>(kFullTextSlot)};
  TDataTable& table = directory_->OpenTable("items", "items", TableOpenRequest{.Exclusive = true});
  TIndexFile& file = *table.IndexFile();
  const std::span<const FieldDescriptor> fields = table.DataFile()->Fields();
  std::map<int, Entries> inserted;
  {
    TableIndexWriter writer(file, fields, table.DataFile()->LocaleID(), "items", "books");
    for (const int slot : slots) {
      inserted[slot] = LeafEntries(file, slot);
      TIndexTree(file, slot, writer.Layout(slot)).DeleteAllPages();
    }
    ASSERT_GT(inserted[static_cast<int>(kFullTextSlot)].size(), records.size() / 2);

    // A budget of a few kilobytes: every slot spills sorted runs to files.
    SortedBuildSettings settings;
    settings.MemoryBytes = 48 << 10;
    settings.TempDirectory = dir_;
    SortedIndexBuild build(file, writer, slots, engine_.Registry(), settings);
    for (const auto& [number, record] : records) {
      std::vector<FieldText> texts;
      const std::string text = FieldIsNull(record, fields[1]) ? "" : ReadString(record, fields[1]);
      if (!text.empty()) texts.push_back({2, text});
      build.AddRecord(record, LoadI32(record.data() + record_layout::kId), number, texts);
    }
    const SortedIndexBuild::Outcome outcome = build.Finish();
    EXPECT_TRUE(outcome.Refused.empty());
    for (const int slot : slots) {
      EXPECT_TRUE(LeafEntries(file, slot) == inserted[slot]) << "slot " << slot;
    }
    EXPECT_EQ(writer.CheckTrees(), std::vector<std::string>{});
  }
  directory_->CloseTable(table);
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_NE(entry.path().extension(), ".srt") << "a sorted run was left behind";
  }
  ASSERT_TRUE(Verified());

  // Later inserts and deletes work on the sorted trees.
  InsertRows(5001, 700, random);
  DeleteRows(900, random);
  EXPECT_TRUE(Verified());
}

INSTANTIATE_TEST_SUITE_P(Locales, SortedIndexBuildTest, ::testing::Values(0, 2057));

}  // namespace
}  // namespace strata
