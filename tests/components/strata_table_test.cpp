#include "components/strata_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "components/default_components.h"
#include "components/strata_database.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/error_codes.h"
#include "engine/formats/data_file.h"
#include "engine/formats/index_file.h"
#include "tests/components/error_message.h"
#include "tests/engine/files/files_test_support.h"
#include "tests/support/file_patch.h"

namespace strata {
namespace {

// What the engine stored for a table.
struct Stored {
  DataFileHeader header;
  std::vector<FieldDescriptor> fields;
  std::vector<IndexDescriptor> indexes;  // slot 0 and the secondary slots
  std::int32_t records = 0;
  std::vector<std::optional<std::vector<std::uint8_t>>> firstRecord;  // by field position
};

class TableTest : public testing::TempDirTest {
 protected:
  // A restructure builds its new files in the current directory; keep them
  // inside the test's directory.
  void SetUp() override {
    TempDirTest::SetUp();
    previousDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    table_.SetDatabaseName(dir_);
    table_.SetTableName("asset.dat");
  }
  void TearDown() override {
    std::filesystem::current_path(previousDirectory_);
    TempDirTest::TearDown();
  }

  void Create() { table_.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "", {}, "", ""); }
  void Alter(std::int32_t locale = 0, std::uint16_t major = 1, std::uint16_t minor = 0,
             std::string_view description = "") {
    table_.AlterTable(locale, major, minor, false, "", description, 4096, 512, -1, "", {}, "",
                      "", false);
  }

  // A table Name (string), Amount (integer), keyed on Amount.
  void CreateAssets() {
    table_.FieldDefs().Add("Name", ftString, 20);
    table_.FieldDefs().Add("Amount", ftInteger);
    table_.IndexDefs().Add("", "Amount", ixPrimary);
    Create();
  }

  Stored Read(std::string_view name = "asset") {
    TStrataDatabase& database = session_.OpenDatabase(dir_);
    Stored stored;
    {
      TDataCursor cursor(database.DataDirectory(), name);
      cursor.Open();
      const TDataTable& table = *cursor.Table();
      stored.header = table.DataFile()->Header();
      stored.fields.assign(cursor.Fields().begin(), cursor.Fields().end());
      for (int slot = 0; slot <= table.IndexFile()->SecondaryIndexCount(); ++slot) {
        stored.indexes.push_back(table.IndexFile()->Descriptor(slot));
      }
      stored.records = table.DataFile()->RecordCount();
      std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
      if (stored.records > 0 && cursor.ReadRecord(1, record)) {
        for (std::size_t i = 1; i <= stored.fields.size(); ++i) {
          stored.firstRecord.push_back(cursor.GetField(record, static_cast<std::uint16_t>(i)));
        }
      }
    }
    session_.CloseDatabase(database);
    return stored;
  }

  void InsertAssets(int count) {
    TStrataDatabase& database = session_.OpenDatabase(dir_);
    {
      TDataCursor cursor(database.DataDirectory(), "asset", CursorModes{.Exclusive = true});
      cursor.Open();
      for (int i = 1; i <= count; ++i) {
        std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
        const std::string name = "item" + std::to_string(i);
        const std::uint8_t amount[4] = {static_cast<std::uint8_t>(i), 0, 0, 0};
        cursor.SetField(record, 1,
                        std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        cursor.SetField(record, 2, std::span<const std::uint8_t>(amount));
        cursor.InsertRecord(record);
      }
    }
    session_.CloseDatabase(database);
  }

  static std::vector<std::int32_t> Numbers(const TStrataFieldDefs& defs) {
    std::vector<std::int32_t> numbers;
    for (const TStrataFieldDef& def : defs) numbers.push_back(def.FieldNo());
    return numbers;
  }

  std::filesystem::path previousDirectory_;
  DefaultComponents defaults_;
  TStrataSession& session_ = defaults_.Session();
  TStrataTable table_;
};

TEST_F(TableTest, CreatesAndAltersTheTable) {
  table_.FieldDefs().Add(7, "Name", ftString, 30);
  table_.FieldDefs().Add(3, "Amount", ftInteger);
  table_.FieldDefs().Add(9, "Bought", ftDate);
  table_.IndexDefs().Add("ByName", "Name");
  table_.IndexDefs().Add("", "Amount", ixPrimary);
  table_.IndexDefs().Add("ByBought", "Bought");
  Create();

  EXPECT_EQ(Numbers(table_.FieldDefs()), (std::vector<std::int32_t>{1, 2, 3}));
  ASSERT_EQ(table_.IndexDefs().Count(), 3u);
  EXPECT_EQ(table_.IndexDefs()[0].Name(), "");
  EXPECT_EQ(table_.IndexDefs()[1].Name(), "ByName");
  Stored stored = Read();
  EXPECT_EQ(stored.header.UserMajorVersion, 1);
  ASSERT_EQ(stored.fields.size(), 3u);
  EXPECT_EQ(stored.fields[2].Name, "Bought");
  EXPECT_EQ(stored.fields[2].FieldNumber, 3);
  ASSERT_EQ(stored.indexes.size(), 3u);  // primary and two secondary
  EXPECT_EQ(stored.indexes[0].FieldNumbers[0], 2);
  EXPECT_EQ(stored.indexes[1].Name, "ByName");
  EXPECT_EQ(stored.indexes[2].Name, "ByBought");

  table_.FieldDefs().Add("Note", ftString, 40);
  table_.IndexDefs().Add("ByNote", "Note");
  Alter(0, 2, 3, "Household assets");
  EXPECT_EQ(table_.FieldDefs()[3].FieldNo(), 4);
  stored = Read();
  EXPECT_EQ(stored.header.UserMajorVersion, 2);
  EXPECT_EQ(stored.header.UserMinorVersion, 3);
  EXPECT_EQ(stored.header.Description, "Household assets");
  ASSERT_EQ(stored.fields.size(), 4u);
  EXPECT_EQ(stored.fields[3].Name, "Note");
  ASSERT_EQ(stored.indexes.size(), 4u);
  EXPECT_EQ(stored.indexes[3].Name, "ByNote");
  EXPECT_TRUE(std::filesystem::exists(dir_ + "asset.dbk"));  // backups kept
}

TEST_F(TableTest, AlterChangesTheLocale) {
  CreateAssets();
  Alter(2057);
  EXPECT_EQ(Read().header.LocaleID, 2057u);
}

TEST_F(TableTest, WithoutPrimaryIndexSlotZeroIsTheRecordIdIndex) {
  table_.FieldDefs().Add("Name", ftString, 20);
  table_.IndexDefs().Add("ByName", "Name");
  table_.IndexDefs().Add("ByNameDesc", "Name", ixDescending);
  Create();
  const Stored stored = Read();
  ASSERT_EQ(stored.indexes.size(), 3u);  // all definitions are secondary
  EXPECT_EQ(stored.indexes[0].FieldNumbers[0], 65535);
  EXPECT_EQ(stored.indexes[1].Name, "ByName");
}

TEST_F(TableTest, AlterKeepsGivenNumbersAndNumbersNewFieldsAboveThem) {
  CreateAssets();  // Name 1, Amount 2
  InsertAssets(3);
  table_.FieldDefs().Clear();
  table_.FieldDefs().Add(2, "Amount", ftInteger);
  table_.FieldDefs().Add("Extra", ftInteger);
  table_.FieldDefs().Add(1, "Name", ftString, 20);
  table_.FieldDefs().Add("More", ftString, 5);
  Alter();
  EXPECT_EQ(Numbers(table_.FieldDefs()), (std::vector<std::int32_t>{2, 3, 1, 4}));
  const Stored stored = Read();
  ASSERT_EQ(stored.fields.size(), 4u);
  EXPECT_EQ(stored.fields[0].Name, "Amount");
  EXPECT_EQ(stored.records, 3);
  // Data follow the numbers: Amount and Name keep their values, the new
  // fields are empty.
  ASSERT_EQ(stored.firstRecord.size(), 4u);
  ASSERT_TRUE(stored.firstRecord[0].has_value());
  EXPECT_EQ((*stored.firstRecord[0])[0], 1);
  ASSERT_TRUE(stored.firstRecord[2].has_value());
  EXPECT_EQ(std::string(stored.firstRecord[2]->begin(), stored.firstRecord[2]->begin() + 5),
            "item1");
  EXPECT_FALSE(stored.firstRecord[1].has_value());
  EXPECT_FALSE(stored.firstRecord[3].has_value());
}

TEST_F(TableTest, ExistsLooksForTheDataFile) {
  TStrataTable unnamed;
  EXPECT_FALSE(unnamed.Exists());
  EXPECT_FALSE(session_.Active());  // no database was touched

  EXPECT_FALSE(table_.Exists());
  CreateAssets();
  for (const char* name : {"asset.dat", "ASSET.DAT", "asset", "Asset"}) {
    table_.SetTableName(name);
    EXPECT_TRUE(table_.Exists()) << name;
  }
  table_.SetTableName("asset.txt");
  EXPECT_FALSE(table_.Exists());
  EXPECT_EQ(table_.Database(), nullptr);  // given back after each call

  table_.SetTableName("asset.dat");
  table_.Open();
  EXPECT_TRUE(table_.Exists());
  table_.Close();
}

TEST_F(TableTest, TableNameSplitsOffItsDirectory) {
  table_.SetTableName("C:\\data\\hb/asset.dat");
  EXPECT_EQ(table_.DatabaseName(), "C:/data/hb/");
  EXPECT_EQ(table_.TableName(), "asset.dat");

  struct Case {
    std::string given;
    std::string engineName;
  };
  const Case cases[] = {
      {"asset.dat", "asset"},
      {"asset.DAT", "asset"},
      {"asset.txt", "asset.txt"},
      {"my.table", "my.table"},
      {std::string(70, 'x') + ".dat", std::string(60, 'x')},
  };
  for (const Case& c : cases) {
    table_.SetTableName(c.given);
    EXPECT_EQ(table_.EngineTableName(), c.engineName) << c.given;
  }
}

TEST_F(TableTest, ProgressIsRelayedInOrderEndingAtOneHundred) {
  CreateAssets();
  InsertAssets(40);
  std::vector<std::uint16_t> reported;
  table_.OnAlterProgress = [&](TStrataTable& sender, std::uint16_t percent) {
    EXPECT_EQ(&sender, &table_);
    EXPECT_NE(sender.Database(), nullptr);  // held for the whole operation
    EXPECT_EQ(DatabaseErrorOf([&] { sender.SetDatabaseName("elsewhere"); }),
              "Cannot perform this operation on an open database");
    reported.push_back(percent);
  };
  table_.FieldDefs().Add("Note", ftString, 40);  // a full rebuild
  Alter();
  ASSERT_FALSE(reported.empty());
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  EXPECT_EQ(reported.back(), 100);
  EXPECT_EQ(table_.Database(), nullptr);
}

TEST_F(TableTest, DataLossIsAcceptedUnlessTheHandlerStops) {
  CreateAssets();
  InsertAssets(2);
  table_.FieldDefs().Clear();
  table_.FieldDefs().Add(2, "Amount", ftInteger);  // Name is dropped

  std::vector<TDataLossCause> causes;
  table_.OnDataLost = [&](TStrataTable&, TDataLossCause cause, std::string_view context,
                          bool& continueOperation, bool&) {
    EXPECT_EQ(context, "Name");
    causes.push_back(cause);
    continueOperation = false;
  };
  Alter();
  EXPECT_EQ(causes, std::vector<TDataLossCause>{dlFieldDeletion});
  EXPECT_EQ(Read().fields.size(), 2u);  // abandoned: structure unchanged

  table_.OnDataLost = nullptr;
  Alter();
  const Stored stored = Read();
  ASSERT_EQ(stored.fields.size(), 1u);
  EXPECT_EQ(stored.fields[0].Name, "Amount");
  EXPECT_EQ(stored.records, 2);
}

TEST_F(TableTest, ComponentFailuresCarryTheirMessages) {
  EXPECT_EQ(DatabaseErrorOf([&] {
              TStrataTable other;
              other.SetSessionName("Nowhere");
              other.SetTableName("asset");
              other.Exists();
            }),
            "Session name 'Nowhere' is not valid");

  table_.FieldDefs().Add("Name", ftString, 20);
  table_.IndexDefs().Add("", "Name", ixPrimary);
  table_.IndexDefs().Add("Second", "Name", ixPrimary);
  EXPECT_EQ(DatabaseErrorOf([&] { Create(); }), "Only one primary index allowed per table");

  table_.IndexDefs().Clear();
  table_.IndexDefs().Add("ByMissing", "Missing");
  EXPECT_EQ(DatabaseErrorOf([&] { Create(); }), "Field 'Missing' not found");
  table_.IndexDefs().Clear();
  table_.IndexDefs().Add("ByName", "Name", {}, "Missing");
  EXPECT_EQ(DatabaseErrorOf([&] { Alter(); }), "Field 'Missing' not found");
  EXPECT_FALSE(table_.Exists());

  table_.IndexDefs().Clear();
  Create();
  table_.Open();
  const std::string openDataset = "Cannot perform this operation on an open dataset";
  EXPECT_EQ(DatabaseErrorOf([&] { Create(); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { Alter(); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { table_.SetTableName("other"); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { table_.SetDatabaseName("/other"); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { table_.SetSessionName("Other"); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { table_.SetExclusive(true); }), openDataset);
  EXPECT_EQ(DatabaseErrorOf([&] { table_.SetReadOnly(true); }), openDataset);
  table_.SetTableName("asset.dat");  // the current value is no change
  table_.Close();
}

TEST_F(TableTest, OpeningATableWhoseHeaderDisagreesWithItsFileFailsBeforeAnyWrite) {
  // NextRecordNumber one short of the slots: the next insert would take the
  // last live record's slot.
  CreateAssets();
  InsertAssets(3);
  testing::PatchFile(dir_ + "asset.dat", data_header_layout::kNextRecordNumber, 3,
                     data_header_layout::kNextRecordNumberSize);
  const std::string before = Slurp("asset.dat");
  const auto codeOf = [](auto fn) -> int {
    try {
      fn();
    } catch (const EStrataEngineError& e) {
      return e.Code;
    }
    return 0;
  };
  table_.SetExclusive(true);
  EXPECT_EQ(codeOf([&] { table_.Open(); }), STRATA_HEADERCORRUPT);
  EXPECT_FALSE(table_.Active());
  // The engine's cursor checks on its own too, whoever opens it.
  TStrataDatabase& database = session_.OpenDatabase(dir_);
  {
    TDataCursor cursor(database.DataDirectory(), "asset", CursorModes{.Exclusive = true});
    EXPECT_EQ(codeOf([&] { cursor.Open(); }), STRATA_HEADERCORRUPT);
  }
  session_.CloseDatabase(database);
  EXPECT_TRUE(Slurp("asset.dat") == before);
}

TEST_F(TableTest, EngineLimitsAndStatesAreEngineErrors) {
  const auto codeOf = [](auto fn) -> int {
    try {
      fn();
    } catch (const EStrataEngineError& e) {
      return e.Code;
    }
    return 0;
  };
  EXPECT_EQ(codeOf([&] { Create(); }), STRATA_FLDLIMIT);  // no fields
  EXPECT_FALSE(std::filesystem::exists(dir_ + "asset.dat"));

  for (int i = 0; i <= 1024; ++i) table_.FieldDefs().Add("F" + std::to_string(i), ftInteger);
  EXPECT_EQ(codeOf([&] { Create(); }), STRATA_FLDLIMIT);
  EXPECT_EQ(codeOf([&] { Alter(); }), STRATA_FLDLIMIT);

  table_.FieldDefs().Clear();
  table_.FieldDefs().Add("Name", ftString, 20);
  for (int i = 0; i < 31; ++i) table_.IndexDefs().Add("I" + std::to_string(i), "Name");
  EXPECT_EQ(codeOf([&] { Create(); }), STRATA_INDEXLIMIT);
  table_.IndexDefs().Clear();

  Create();
  EXPECT_EQ(codeOf([&] { Create(); }), STRATA_TABLEEXISTS);
  EXPECT_EQ(table_.Database(), nullptr);
}

}  // namespace
}  // namespace strata
