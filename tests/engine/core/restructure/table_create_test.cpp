#include <gtest/gtest.h>

#include <filesystem>

#include "engine/formats/full_text_params.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using strata::testing::ErrorOf;
using strata::testing::FieldDef;
using strata::testing::IndexDef;

class TableCreateTest : public strata::testing::WriteTest {
 protected:
  bool Exists(const std::string& file) const { return std::filesystem::exists(dir_ + file); }
};

TEST_F(TableCreateTest, RefusesSharedAndReadOnlyCursors) {
  std::vector<FieldDescriptor> fields = {FieldDef(1, "ID").Integer()};
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  const struct {
    CursorModes modes;
    ErrorCode code;
  } cases[] = {{CursorModes{}, STRATA_NEEDEXCLACCESS},
               {CursorModes{.Exclusive = true, .ReadOnly = true}, STRATA_OSEACCES}};
  for (const auto& c : cases) {
    TDataCursor cursor(*directory_, "plain", c.modes);
    const auto error = ErrorOf([&] { cursor.CreateTableFiles({}, {fields, indexes, 0}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, c.code);
    EXPECT_EQ(error->TableName, "plain");
    EXPECT_FALSE(Exists("plain.dat"));
  }
}

TEST_F(TableCreateTest, ExistingTableNeedsOverwrite) {
  Create("item", {FieldDef(1, "ID").Integer(), FieldDef(2, "Notes").Memo()});
  {
    TDataCursor cursor(*directory_, "item");
    cursor.Open();
    auto record = cursor.NewRecordBuffer();
    cursor.InsertRecord(record);
  }
  const auto error = ErrorOf([&] { Create("item", {FieldDef(1, "ID").Integer()}); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Code, STRATA_TABLEEXISTS);
  EXPECT_EQ(error->Message(), "Strata Engine Error # 13060 The table 'item' already exists");

  // Replaced: empty, with the new structure and no BLOB file left over.
  TableCreateOptions options;
  options.OverwriteExisting = true;
  Create("item", {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(8)}, {}, {}, {},
         options);
  EXPECT_FALSE(Exists("item.blb"));
  TDataCursor cursor(*directory_, "item");
  cursor.Open();
  EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(), 0);
  EXPECT_EQ(cursor.Fields()[1].Name, "Name");
}

TEST_F(TableCreateTest, RemovesTheFilesWhenCreationFails) {
  // 130 strings of 512 characters pass validation but make the record too
  // large for the data file.
  std::vector<FieldDescriptor> fields;
  for (std::uint16_t i = 1; i <= 130; ++i) {
    fields.push_back(FieldDef(i, "F" + std::to_string(i)).String(512));
  }
  fields.push_back(FieldDef(131, "Notes").Memo());
  const auto error = ErrorOf([&] { Create("huge", fields); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Code, STRATA_RECTOOBIG);
  for (const char* file : {"huge.dat", "huge.idx", "huge.blb"}) EXPECT_FALSE(Exists(file)) << file;
  EXPECT_EQ(directory_->FindTable("huge"), nullptr);
}

TEST_F(TableCreateTest, WritesTheDerivedValuesAndTheFullTextParameters) {
  std::vector<FieldDescriptor> fields = {FieldDef(1, " Title ").String(20),
                                         FieldDef(2, "Body").Memo()};
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  indexes[kFullTextSlot].FieldNumbers[0] = 1;
  indexes[kFullTextSlot].FieldNumbers[1] = 2;
  TableCreateOptions options;
  options.IndexPageSize = 1020;
  options.BlobBlockSize = 60;
  options.LastAutoIncValue = -1;
  options.StopWords = std::vector<std::string>{"zeta", "Alpha"};
  TDataCursor creator(*directory_, "doc", CursorModes{.Exclusive = true});
  creator.CreateTableFiles(options, {fields, indexes, 0});
  EXPECT_EQ(fields[0].Name, "Title");
  EXPECT_EQ(fields[1].FieldOffset, 25 + 22);
  EXPECT_EQ(indexes[0].KeyLength, 5);
  EXPECT_EQ(indexes[kFullTextSlot].Name, "Sys Text");

  TDataCursor cursor(*directory_, "doc");
  cursor.Open();
  const DataFileHeader& header = cursor.Table()->DataFile()->Header();
  EXPECT_EQ(header.IndexPageSize, 1024);
  EXPECT_EQ(header.BlobBlockSize, 64);
  EXPECT_EQ(header.LastAutoIncValue, 0);
  TIndexFile& index = *cursor.Table()->IndexFile();
  EXPECT_NE(index.AuxPage(kFullTextSlot), 0);
  FullTextParams expected = FullTextParams::Defaults();
  expected.StopWords = {"Alpha", "zeta"};
  EXPECT_EQ(ReadFullTextParams(index), expected);

  // The default parameters are written as well.
  fields = {FieldDef(1, "ID").Integer()};
  indexes = {};
  TDataCursor(*directory_, "plain", CursorModes{.Exclusive = true})
      .CreateTableFiles({}, {fields, indexes, 0});
  TDataCursor plain(*directory_, "plain");
  plain.Open();
  EXPECT_NE(plain.Table()->IndexFile()->AuxPage(kFullTextSlot), 0);
  EXPECT_EQ(ReadFullTextParams(*plain.Table()->IndexFile()), FullTextParams::Defaults());
}

TEST_F(TableCreateTest, TablesOfEveryLocaleFamilyAreCreatedOpenedAndVerified) {
  // One locale per kind of collation: the code page's own, ICU tailorings
  // (a country variant, a phone-book sort, extra letters, a dotless i), and
  // languages that sort by ICU's root collation.
  const struct {
    std::uint32_t id;
    const char* what;
  } locales[] = {{0, "ANSI Standard"},         {2057, "English (United Kingdom)"},
                 {0x10407, "German phone book"}, {0x041D, "Swedish"},
                 {0x041F, "Turkish"},            {1069, "Basque"},
                 {1169, "Scottish Gaelic"},      {0x0481, "Maori"},
                 {0x0444, "Tatar"},              {0x046B, "Quechua"}};
  for (const auto& locale : locales) {
    SCOPED_TRACE(locale.what);
    const std::string name = "loc" + std::to_string(locale.id);
    TableCreateOptions options;
    options.LocaleID = static_cast<std::int32_t>(locale.id);
    Create(name, {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(20)}, {1},
           {IndexDef("ByName", {2}).Unique(), IndexDef("ByNameNoCase", {2}).CaseInsensitive()},
           {}, options);
    {
      TDataCursor cursor(*directory_, name);
      cursor.Open(true);
      int id = 0;
      for (const char* text : {"zebra", "Apple", "apple", "\xC9t\xE9"}) {
        auto record = cursor.NewRecordBuffer();
        cursor.SetField(record, 1, testing::Int32Bytes(++id));
        cursor.SetField(record, 2, testing::TextBytes(text));
        cursor.InsertRecord(record);
      }
      EXPECT_EQ(cursor.Table()->DataFile()->Header().LocaleID, locale.id);
    }
    EXPECT_TRUE(testing::VerifiedTable(*directory_, name));
  }
}

}  // namespace
}  // namespace strata
