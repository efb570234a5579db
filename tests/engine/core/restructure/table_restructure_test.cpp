#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "engine/core/objects/data_engine.h"
#include "engine/formats/blob_file_header_layout.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "engine/locale/windows1252.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/file_patch.h"

namespace strata {
namespace {

using namespace strata::testing;

struct Loss {
  TDataLossCause Cause;
  std::string Context;
  bool operator==(const Loss&) const = default;
};

// A table "people" of three records: ID integer, Name string[30], Code
// string[10], Notes memo. The new structure starts as a copy of the old one.
class RestructureTest : public strata::testing::WriteTest {
 protected:
  void SetUp() override {
    WriteTest::SetUp();
    std::filesystem::create_directory(dir_ + "private");
    session_->SetPrivateDirectory(dir_ + "private");
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    indexes_[0] = IndexDef("", {}).Unique();
  }

  // Name is Windows-1252 text; Code is either that or UTF-16 text, written
  // through the field's encoding.
  struct Row {
    Row(std::optional<int> id, std::string name, std::string_view code)
        : Id(id), Name(std::move(name)), Code(Windows1252ToUtf16(code)) {}
    Row(std::optional<int> id, std::string name, std::u16string code)
        : Id(id), Name(std::move(name)), Code(std::move(code)) {}
    std::optional<int> Id;
    std::string Name;
    std::u16string Code;
  };
  void CreatePeople(const std::vector<Row>& rows, std::vector<IndexDescriptor> secondary = {},
                    std::vector<std::uint16_t> textFields = {}, TableCreateOptions options = {}) {
    Create("people", fields_, {}, secondary, textFields, options);
    TDataCursor cursor(*directory_, "people");
    cursor.Open();
    for (const auto& [id, name, code] : rows) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      if (id) cursor.SetField(record, 1, Int32Bytes(*id));
      WriteString(record, cursor.Fields()[1], name, Collation());
      WriteWideString(record, cursor.Fields()[2], code, Collation());
      cursor.SetBlobValue(record, 4, TextBytes("notes of " + name));
      cursor.InsertRecord(record);
    }
    cursor.Close();
    fields_ = Structure();  // validated descriptors, as stored
  }

  // Removes the table's files, for the next case of a test.
  void RemovePeople() {
    for (const char* file : {"people.dat", "people.idx", "people.blb", "people.dbk",
                             "people.ibk", "people.bbk"}) {
      std::filesystem::remove(dir_ + file);
    }
    losses_.clear();
    progress_.clear();
  }

  // The stored texts of a string field (wide or not) as UTF-16.
  std::vector<std::u16string> Texts(std::uint16_t position) {
    TDataCursor cursor(*directory_, "people");
    cursor.Open(true);
    std::vector<std::u16string> texts;
    Bytes record = cursor.NewRecordBuffer();
    const FieldDescriptor& field = cursor.Fields()[position - 1u];
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      texts.push_back(IsWideString(field.EngineType, field.SubType)
                          ? WideUnitsOf(FieldBytes(record, field))
                          : Windows1252ToUtf16(ReadString(record, field)));
    }
    return texts;
  }

  // The engine's own verification of the table finds nothing.
  ::testing::AssertionResult Verified() { return strata::testing::VerifiedTable(*directory_, "people"); }


  std::vector<FieldDescriptor> Structure() {
    TDataCursor cursor(*directory_, "people");
    cursor.Open();
    return {cursor.Fields().begin(), cursor.Fields().end()};
  }

  RestructureLevel Restructure(RestructureOptions options = {}) {
    TDataCursor cursor(*directory_, "people", CursorModes{.Exclusive = true});
    cursor.OnProgress = [&](std::uint16_t percent, std::string_view) {
      progress_.push_back(percent);
    };
    cursor.OnDataLost = [&](TDataLossCause cause, std::string_view context, bool& stop, bool& go) {
      losses_.push_back({cause, std::string(context)});
      if (onLoss_) onLoss_(stop, go);
    };
    return cursor.RestructureTable(options, {fields_, indexes_, secondaryCount_});
  }

  std::vector<std::string> Rows() { return strata::testing::RowTexts(*directory_, "people"); }

  bool Exists(const std::string& file) const { return std::filesystem::exists(dir_ + file); }
  // The table's files, compared whole (never printed).
  std::vector<std::string> Files() const {
    return {Slurp("people.dat"), Slurp("people.idx"), Slurp("people.blb")};
  }
  // No table file left in the temporary directory (its lock file stays).
  bool PrivateEmpty() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir_ + "private")) {
      if (entry.path().filename() != "strata.lck") return false;
    }
    return true;
  }

  std::vector<FieldDescriptor> fields_;
  std::array<IndexDescriptor, kIndexSlotCount> indexes_{};
  int secondaryCount_ = 0;
  std::vector<std::uint16_t> progress_;
  std::vector<Loss> losses_;
  std::function<void(bool& stop, bool& go)> onLoss_;
};

TEST_F(RestructureTest, NamesAndSubTypesAloneAreAHeaderOnlyUpdate) {
  CreatePeople({{1, "Ann", "A1"}});
  struct Case {
    const char* what;
    std::function<void(std::vector<FieldDescriptor>&)> change;
    const char* expectedRow;
  } cases[] = {
      {"same structure", [](auto&) {}, "1|Ann|A1|notes of Ann"},
      {"renamed field", [](auto& f) { f[1].Name = "FullName"; }, "1|Ann|A1|notes of Ann"},
      {"memo into BLOB", [](auto& f) { f[3].SubType = kSubTypeNone; }, "1|Ann|A1|notes of Ann"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<FieldDescriptor> wanted = fields_;
    c.change(wanted);
    fields_ = wanted;
    progress_.clear();
    EXPECT_EQ(Restructure(), RestructureLevel::HeaderOnly);
    EXPECT_TRUE(progress_.empty());
    EXPECT_TRUE(losses_.empty());
    EXPECT_FALSE(Exists("people.dbk"));
    const auto stored = Structure();
    EXPECT_EQ(stored[1].Name, wanted[1].Name);
    EXPECT_EQ(stored[3].SubType, wanted[3].SubType);
    EXPECT_EQ(Rows(), std::vector<std::string>{c.expectedRow});
  }
}

TEST_F(RestructureTest, AHeaderThatDisagreesWithItsFileIsRefusedByRunAndPreviewAlike) {
  // A writer that died between appending slots and rewriting the header
  // leaves NextRecordNumber short of the slots: rebuilt from that header,
  // the table would lose its last records without a word.
  for (const std::int32_t short_by : {1, 2}) {
    SCOPED_TRACE(short_by);
    RemovePeople();
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    CreatePeople({{1, "Ann", "A1"}, {2, "Bo", "B1"}, {3, "Cy", "C1"}});
    PatchFile(dir_ + "people.dat", data_header_layout::kNextRecordNumber, 4 - short_by,
              data_header_layout::kNextRecordNumberSize);
    const auto before = Files();
    fields_[2] = FieldDef(3, "Code").String(12);  // a full rebuild

    TDataCursor preview(*directory_, "people", CursorModes{.Exclusive = true});
    const auto previewed =
        ErrorOf([&] { preview.PreviewRestructure({}, {fields_, indexes_, secondaryCount_}); });
    const auto restructured = ErrorOf([&] { Restructure(); });
    ASSERT_TRUE(previewed && restructured);
    EXPECT_EQ(previewed->Code, STRATA_HEADERCORRUPT);
    EXPECT_EQ(restructured->Code, STRATA_HEADERCORRUPT);
    EXPECT_EQ(restructured->TableName, "people");
    EXPECT_TRUE(Files() == before);
    EXPECT_FALSE(Exists("people.dbk"));
    EXPECT_TRUE(PrivateEmpty());
    EXPECT_TRUE(losses_.empty());
  }
}

TEST_F(RestructureTest, StoredPhysicalSizesAreRecomputedBeforeValuesAreCarried) {
  // Only a copy of what the type gives: a damaged copy neither empties the
  // names nor shifts the fields after them.
  for (const std::uint16_t stored : {0, 1, 200}) {
    SCOPED_TRACE(stored);
    RemovePeople();
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    CreatePeople({{1, "Ann", "A1"}, {2, "Bo", "B1"}});
    PatchFile(dir_ + "people.dat", DescriptorOffset(2, field_descriptor_layout::kPhysicalSize),
              stored, field_descriptor_layout::kPhysicalSizeSize);
    EXPECT_EQ(Structure()[1].PhysicalSize, 31);
    fields_[2] = FieldDef(3, "Code").String(12);
    EXPECT_EQ(Restructure(), RestructureLevel::Full);
    EXPECT_TRUE(losses_.empty());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Ann|A1|notes of Ann", "2|Bo|B1|notes of Bo"}));
  }
}

TEST_F(RestructureTest, FullRebuildMatchesFieldsByNumberAndKeepsBackups) {
  CreatePeople({{1, "Christopher Robin", "C1"}, {2, "Ann", "A1"}, {3, "Bo", "B1"}});
  const auto oldFiles = Files();
  // Positions 2 and 3 swap their numbers under crossed names, Name shrinks
  // to 10 characters and Notes goes.
  FieldDescriptor code = FieldDef(3, "Name").String(10);
  FieldDescriptor name = FieldDef(2, "Code").String(10);
  fields_ = {FieldDef(1, "ID").Integer(), code, name};
  EXPECT_EQ(Restructure(), RestructureLevel::Full);

  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|C1|Christophe", "2|A1|Ann", "3|B1|Bo"}));
  EXPECT_EQ(progress_, (std::vector<std::uint16_t>{33, 66, 100}));
  const Loss deleted{dlFieldDeletion, "Notes"};
  EXPECT_EQ(losses_, (std::vector<Loss>{deleted, deleted, deleted}));
  // Field numbers are positions again, and the old files are the backups.
  const auto stored = Structure();
  EXPECT_EQ(stored[1].FieldNumber, 2);
  EXPECT_EQ(stored[2].FieldNumber, 3);
  EXPECT_TRUE((std::vector<std::string>{Slurp("people.dbk"), Slurp("people.ibk"),
                                        Slurp("people.bbk")}) == oldFiles);
  EXPECT_FALSE(Exists("people.blb"));
  EXPECT_TRUE(PrivateEmpty());
  EXPECT_EQ(directory_->ListTables(), std::vector<std::string>{"people"});
}

TEST_F(RestructureTest, SuppressBackupsLeavesNoPreviousFiles) {
  CreatePeople({{1, "Ann", "A1"}});
  Put("people.dbk", "an older backup");
  fields_[2] = FieldDef(3, "Code").String(20);
  RestructureOptions options;
  options.SuppressBackups = true;
  Restructure(options);
  for (const char* file : {"people.dbk", "people.ibk", "people.bbk"}) {
    // The backup left by an earlier restructure stays untouched.
    EXPECT_EQ(Exists(file), std::string(file) == "people.dbk") << file;
  }
  EXPECT_EQ(Slurp("people.dbk"), "an older backup");
  EXPECT_EQ(Rows(), std::vector<std::string>{"1|Ann|A1|notes of Ann"});
}

TEST_F(RestructureTest, UnconvertibleValuesAreReportedAndLeftAtTheDefault) {
  CreatePeople({{1, "Ann", "12"}, {2, "Bo", "xy"}});
  fields_[2] = FieldDef(3, "Code").Integer();
  Restructure();
  EXPECT_EQ(losses_, (std::vector<Loss>{{dlFieldConversion, "Code"}}));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Ann|12|notes of Ann", "2|Bo|-|notes of Bo"}));
}

TEST_F(RestructureTest, NewUniqueIndexDropsLaterDuplicatesAfterAnIndexOnlyRebuild) {
  CreatePeople({{1, "Ann", "A"}, {2, "Bo", "B"}, {3, "Cy", "A"}, {4, "Di", "A"}});
  indexes_[1] = IndexDef("ByCode", {3}).Unique();
  secondaryCount_ = 1;
  EXPECT_EQ(Restructure(), RestructureLevel::IndexOnly);
  const Loss duplicate{dlKeyViolation, "ByCode"};
  EXPECT_EQ(losses_, (std::vector<Loss>{duplicate, duplicate}));
  EXPECT_EQ(progress_.back(), 100);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Ann|A|notes of Ann", "2|Bo|B|notes of Bo"}));
  EXPECT_TRUE(Exists("people.ibk"));
  EXPECT_FALSE(Exists("people.dbk"));
  EXPECT_TRUE(PrivateEmpty());

  // The new index holds the kept records and refuses another "B".
  TDataCursor cursor(*directory_, "people");
  cursor.Open(true);
  EXPECT_TRUE(cursor.Indexes().CheckTrees().empty());
  EXPECT_EQ(cursor.Indexes().KeyCount(1), 2);
  Bytes record = cursor.NewRecordBuffer();
  cursor.ApplyDefaults(record);
  cursor.SetField(record, 3, TextBytes("B"));
  const auto error = ErrorOf([&] { cursor.InsertRecord(record); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Code, STRATA_KEYVIOL);
}

TEST_F(RestructureTest, DuplicatesAcrossNewUniqueIndexesAreRefusedAsInsertingWould) {
  // Inserted in record order into unique ByName and ByCode, Bo repeats
  // Ann's name and is refused; Cy repeats Bo's code, but Bo is not there,
  // so Cy stays and ByCode's "B" leads to Cy. Both kinds of rebuild agree.
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "full rebuild" : "index-only rebuild");
    CreatePeople({{1, "Ann", "A"}, {2, "Ann", "B"}, {3, "Cy", "B"}, {4, "Di", "D"}});
    if (full) fields_[1] = FieldDef(2, "Name").String(40);
    indexes_[1] = IndexDef("ByName", {2}).Unique();
    indexes_[2] = IndexDef("ByCode", {3}).Unique();
    secondaryCount_ = 2;
    EXPECT_EQ(Restructure(), full ? RestructureLevel::Full : RestructureLevel::IndexOnly);
    EXPECT_EQ(losses_, (std::vector<Loss>{{dlKeyViolation, "ByName"}}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Ann|A|notes of Ann", "3|Cy|B|notes of Cy",
                                                "4|Di|D|notes of Di"}));
    EXPECT_TRUE(Verified());
    {
      TDataCursor cursor(*directory_, "people");
      cursor.Open(true);
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      WriteWideString(record, cursor.Fields()[2], u"B", Collation());
      const auto found = cursor.Indexes().FindKey(2, cursor.Indexes().BuildKey(2, record, 0));
      ASSERT_TRUE(found);
      ASSERT_TRUE(cursor.ReadRecord(*found, record));
      EXPECT_EQ(ReadString(record, cursor.Fields()[1]), "Cy");
    }
    RemovePeople();
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    indexes_ = {};
    indexes_[0] = IndexDef("", {}).Unique();
  }
}

// Records that share a RecordID (or have none), which only damage or
// another program leaves, keep their values: the later ones get new
// RecordIDs above the table's, before any key is built, whether the primary
// index is the RecordID one or one on a field. The rebuilt table verifies
// clean.
TEST_F(RestructureTest, RecordsSharingARecordIdGetNewOnesAndTheRebuiltTableVerifies) {
  const struct {
    const char* name;
    std::vector<std::uint16_t> primary;
  } cases[] = {{"RecordID primary index", {}}, {"primary index on ID", {1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemovePeople();
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    indexes_ = {};
    indexes_[0] = IndexDef("", {}).Unique();
    secondaryCount_ = 0;
    // Names and notes alike, so that the non-unique and full-text keys of
    // Ann and Cy differ only in their RecordIDs.
    CreatePeople({{1, "Ann", "A1"}, {2, "Bo", "B1"}, {3, "Ann", "C1"}, {4, "Di", "D1"}},
                 {IndexDef("ByName", {2})}, {2, 4});
    // The third record takes the first one's RecordID; the fourth has none.
    std::string data = Slurp("people.dat");
    const std::size_t recordSize = [&] {
      TDataCursor cursor(*directory_, "people");
      cursor.Open();
      return static_cast<std::size_t>(cursor.RecordSize());
    }();
    const auto setId = [&](std::int32_t slot, std::int32_t id) {
      const std::size_t at = data_header_layout::kFieldDescriptors + kFieldDescriptorSize * 4 +
                             recordSize * static_cast<std::size_t>(slot - 1) + record_layout::kId;
      for (std::size_t i = 0; i < 4; ++i) data[at + i] = static_cast<char>(id >> (8 * i));
    };
    setId(3, 1);
    setId(4, 0);
    Put("people.dat", data);

    // Code gets longer: a full rebuild.
    fields_[2] = FieldDef(3, "Code").String(20);
    indexes_[0] = IndexDef("", c.primary).Unique();
    indexes_[1] = IndexDef("ByName", {2});
    indexes_[kFullTextSlot] = IndexDef("Sys Text", {2, 4});
    secondaryCount_ = 1;
    EXPECT_EQ(Restructure(), RestructureLevel::Full);
    EXPECT_EQ(losses_, std::vector<Loss>{});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Ann|A1|notes of Ann", "2|Bo|B1|notes of Bo",
                                                "3|Ann|C1|notes of Ann", "4|Di|D1|notes of Di"}));
    EXPECT_TRUE(Verified());
    TDataCursor cursor(*directory_, "people");
    cursor.Open(true);
    std::vector<std::int32_t> ids;
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      ASSERT_TRUE(cursor.ReadRecord(n, record));
      ids.push_back(LoadI32(record.data() + record_layout::kId));
    }
    EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 5, 6}));
    EXPECT_EQ(cursor.Table()->DataFile()->LastRecordID(), 6);
  }
}

TEST_F(RestructureTest, IndexChangesRebuildOnlyTheIndexes) {
  struct Case {
    const char* what;
    std::function<void(RestructureOptions&)> change;
  } cases[] = {
      {"index dropped", [this](RestructureOptions&) { secondaryCount_ = 1; }},
      {"first of two changed",
       [this](RestructureOptions&) { indexes_[1] = IndexDef("ByCode", {3}).CaseInsensitive(); }},
      {"primary key on ID",
       [this](RestructureOptions&) { indexes_[0] = IndexDef("", {1}).Unique(); }},
      {"stop words", [](RestructureOptions& o) { o.StopWords = {"ann"}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_ + "people.dat");
    std::filesystem::remove(dir_ + "people.idx");
    std::filesystem::remove(dir_ + "people.blb");
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    indexes_ = {};
    indexes_[0] = IndexDef("", {}).Unique();
    Create("people", fields_, {}, {IndexDef("ByCode", {3}), IndexDef("ByName", {2})});
    {
      TDataCursor cursor(*directory_, "people");
      cursor.Open();
      for (int id = 1; id <= 3; ++id) {
        Bytes record = cursor.NewRecordBuffer();
        cursor.ApplyDefaults(record);
        cursor.SetField(record, 1, Int32Bytes(id));
        cursor.SetField(record, 2, TextBytes("n" + std::to_string(id)));
        cursor.SetField(record, 3, TextBytes("c"));
        cursor.InsertRecord(record);
      }
    }
    fields_ = Structure();
    {
      TDataCursor cursor(*directory_, "people");
      cursor.Open();
      for (int slot = 0; slot <= 2; ++slot) {
        indexes_[slot] = cursor.Table()->IndexFile()->Descriptor(slot);
      }
    }
    secondaryCount_ = 2;
    RestructureOptions options;
    c.change(options);
    EXPECT_EQ(Restructure(options), RestructureLevel::IndexOnly);
    EXPECT_TRUE(losses_.empty());

    TDataCursor cursor(*directory_, "people");
    cursor.Open(true);
    EXPECT_EQ(cursor.Table()->IndexFile()->SecondaryIndexCount(), secondaryCount_);
    EXPECT_TRUE(cursor.Indexes().CheckTrees().empty());
    for (int slot = 0; slot <= secondaryCount_; ++slot) {
      EXPECT_EQ(cursor.Indexes().KeyCount(slot), 3) << slot;
    }
    EXPECT_EQ(Rows().size(), 3u);
  }
}

TEST_F(RestructureTest, StoppedIndexRebuildRestoresTheIndexFileAndKeepsEveryRecord) {
  CreatePeople({{1, "Ann", "A"}, {2, "Bo", "A"}, {3, "Cy", "C"}});
  const auto before = Files();
  indexes_[1] = IndexDef("ByCode", {3}).Unique();
  secondaryCount_ = 1;
  onLoss_ = [](bool&, bool& go) { go = false; };
  EXPECT_EQ(Restructure(), RestructureLevel::IndexOnly);
  EXPECT_EQ(losses_.size(), 1u);
  EXPECT_EQ(progress_.back(), 100);
  const auto after = Files();
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(after[i] == before[i]) << i;
  EXPECT_FALSE(Exists("people.ibk"));
  EXPECT_TRUE(PrivateEmpty());
  EXPECT_EQ(Rows().size(), 3u);
}

TEST_F(RestructureTest, IndexRebuildEndsOnAFailureOtherThanADuplicateKeyAndRestoresTheIndexFile) {
  CreatePeople({{1, "Ann", "A"}, {2, "Bo", "B"}});
  // The memos' blocks are damaged: indexing their words fails.
  std::string blob = Slurp("people.blb");
  std::fill(blob.begin() + blob_header_layout::kBlocks, blob.end(), '\xFF');
  Put("people.blb", blob);
  const auto before = Files();
  indexes_[kFullTextSlot] = IndexDef("", {4});
  const auto error = ErrorOf([&] { Restructure(); });
  ASSERT_TRUE(error) << "the rebuild went on";
  EXPECT_EQ(error->Code, STRATA_MEMOCORRUPT);
  EXPECT_TRUE(losses_.empty());
  const auto after = Files();
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(after[i] == before[i]) << i;
  EXPECT_FALSE(Exists("people.ibk"));
  EXPECT_TRUE(PrivateEmpty());
}

TEST_F(RestructureTest, StopAtTheFirstReportLeavesTheTableAsItWas) {
  CreatePeople({{1, "Ann", "xy"}, {2, "Bo", "zz"}});
  const auto before = Files();
  fields_[2] = FieldDef(3, "Code").Integer();
  onLoss_ = [](bool&, bool& go) { go = false; };
  Restructure();
  EXPECT_EQ(losses_.size(), 1u);
  EXPECT_EQ(progress_, std::vector<std::uint16_t>{100});
  const auto after = Files();
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(after[i] == before[i]) << i;
  EXPECT_FALSE(Exists("people.dbk"));
  EXPECT_TRUE(PrivateEmpty());
}

TEST_F(RestructureTest, StopAskingSilencesLaterReports) {
  CreatePeople({{1, "Ann", "xy"}, {2, "Bo", "zz"}});
  fields_[2] = FieldDef(3, "Code").Integer();
  onLoss_ = [](bool& stop, bool&) { stop = true; };
  Restructure();
  EXPECT_EQ(losses_.size(), 1u);
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(RestructureTest, EmptyTableReportsOneHundredOnce) {
  CreatePeople({});
  fields_.push_back(FieldDef(5, "Extra").Integer());
  Restructure();
  EXPECT_EQ(progress_, std::vector<std::uint16_t>{100});
  EXPECT_EQ(Structure().size(), 5u);
}

TEST_F(RestructureTest, IntegerBecomingAutoIncNumbersNullsAboveTheHighest) {
  CreatePeople({{std::nullopt, "Ann", "A"}, {7, "Bo", "B"}, {3, "Cy", "C"}});
  fields_[0].SubType = kSubTypeAutoInc;
  EXPECT_EQ(Restructure(), RestructureLevel::Full);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"8|Ann|A|notes of Ann", "7|Bo|B|notes of Bo",
                                              "3|Cy|C|notes of Cy"}));
}

TEST_F(RestructureTest, TableInUseOrReadOnlyIsRefused) {
  CreatePeople({{1, "Ann", "A"}});
  fields_[2] = FieldDef(3, "Code").String(20);
  {
    TDataCursor other(*directory_, "people");
    other.Open();
    const auto error = ErrorOf([&] { Restructure(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, STRATA_OSEACCES);
  }
  std::filesystem::permissions(dir_ + "people.dat", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  const auto error = ErrorOf([&] { Restructure(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Code, STRATA_OSEACCES);
  EXPECT_FALSE(Exists("people.dbk"));
  EXPECT_TRUE(PrivateEmpty());
}

TEST_F(RestructureTest, FullTextKeysFollowTheirFieldsToTheirNewPositions) {
  const std::vector<FieldDescriptor> original = fields_;
  const FieldDescriptor id = original[0], name = original[1], code = original[2],
                        notes = original[3];
  struct Case {
    const char* what;
    std::vector<FieldDescriptor> fields;
    std::uint16_t namePosition;
    std::uint16_t notesPosition;
  } cases[] = {
      {"a field before them deleted", {name, code, notes}, 1, 3},
      {"a field inserted before them",
       {id, FieldDef(5, "Extra").Integer(), name, code, notes}, 3, 5},
      {"fields reordered", {id, notes, code, name}, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemovePeople();
    fields_ = original;
    CreatePeople({{1, "Ann Lee", "A1"}, {2, "Bo Ray", "B1"}}, {}, {2, 4});
    fields_ = c.fields;
    indexes_[kFullTextSlot] = IndexDef("", {2, 4});
    EXPECT_EQ(Restructure(), RestructureLevel::Full);

    EXPECT_TRUE(Verified());
    TDataCursor cursor(*directory_, "people");
    cursor.Open(true);
    TableIndexWriter& indexes = cursor.Indexes();
    EXPECT_EQ(indexes.FindWord(c.namePosition, "LEE", 1), 1);
    EXPECT_EQ(indexes.FindWord(c.namePosition, "RAY", 2), 2);
    EXPECT_EQ(indexes.FindWord(c.notesPosition, "NOTES", 1), 1);
    EXPECT_EQ(indexes.FindWord(c.notesPosition, "ANN", 1), 1);
    // Each record's name gives two words and its notes three.
    EXPECT_EQ(indexes.KeyCount(kFullTextSlot), 10);
  }
}

TEST_F(RestructureTest, WideStringSubTypeChangesConvertTheText) {
  const std::vector<FieldDescriptor> original = fields_;
  struct Case {
    const char* what;
    FieldDescriptor from;  // the Code field before and after
    FieldDescriptor to;
    std::vector<std::u16string> before;
    RestructureLevel level;
    std::vector<std::u16string> after;
    std::vector<Loss> losses;
  } cases[] = {
      {"string into a wide string of the same bytes", FieldDef(3, "Code").String(20),
       FieldDef(3, "Code").WideString(10),
       {u"Zo\u00EB pays \u20AC5 for it", u"Zo\u00EB paid \u20AC7"}, RestructureLevel::Full,
       {u"Zo\u00EB pays \u20AC", u"Zo\u00EB paid \u20AC"}, {}},
      {"wide string into a string", FieldDef(3, "Code").WideString(10),
       FieldDef(3, "Code").String(20), {u"Zo\u00EB \u20AC5", u"\u0141\u00F3d\u017A"},
       RestructureLevel::Full, {u"Zo\u00EB \u20AC5", u"?\u00F3d?"}, {{dlFieldConversion, "Code"}}},
      {"wide string shortened", FieldDef(3, "Code").WideString(10),
       FieldDef(3, "Code").WideString(6),
       {u"\u0141\u00F3d\u017A city", u"\u0141\u00F3d\u017A town"},
       RestructureLevel::Full, {u"\u0141\u00F3d\u017A c", u"\u0141\u00F3d\u017A t"}, {}},
      {"string made fixed-length", FieldDef(3, "Code").String(10),
       FieldDef(3, "Code").FixedChar(10), {u"Zo\u00EB \u20AC5", u"Bo"},
       RestructureLevel::HeaderOnly, {u"Zo\u00EB \u20AC5", u"Bo"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemovePeople();
    fields_ = original;
    fields_[2] = c.from;
    // A unique index over the field: its keys must keep the values apart.
    CreatePeople({{1, "Ann", c.before[0]}, {2, "Bo", c.before[1]}},
                 {IndexDef("ByCode", {3}).Unique()});
    fields_[2] = c.to;
    indexes_[1] = IndexDef("ByCode", {3}).Unique();
    secondaryCount_ = 1;
    EXPECT_EQ(Restructure(), c.level);
    EXPECT_EQ(losses_, c.losses);
    EXPECT_EQ(Texts(3), c.after);
    EXPECT_TRUE(Verified());
  }
}

TEST_F(RestructureTest, StringsAndMemosCarryTheirTextIntoEachOther) {
  CreatePeople({{1, "Christopher Robin", "C1"}, {2, "Zo\xEB", "Z1"}});
  fields_[1] = FieldDef(2, "Name").Memo();
  EXPECT_EQ(Restructure(), RestructureLevel::Full);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Christopher Robin|C1|notes of Christopher Robin",
                                              "2|Zo\xEB|Z1|notes of Zo\xEB"}));
  // Back into a shorter string: cut as a shortened string is, unreported.
  fields_ = Structure();
  fields_[1] = FieldDef(2, "Name").String(10);
  EXPECT_EQ(Restructure(), RestructureLevel::Full);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|Christophe|C1|notes of Christopher Robin",
                                              "2|Zo\xEB|Z1|notes of Zo\xEB"}));
  EXPECT_TRUE(losses_.empty());
  EXPECT_TRUE(Verified());
}

TEST_F(RestructureTest, OtherConversionsIntoAndOutOfBlobsLoseTheValue) {
  const std::vector<FieldDescriptor> original = fields_;
  struct Case {
    const char* what;
    std::size_t position;
    FieldDescriptor to;
    const char* row;
  } cases[] = {
      {"string into a binary BLOB", 1, FieldDef(2, "Name").Blob(), "1|-|A1|notes of Ann"},
      {"memo into an integer", 3, FieldDef(4, "Notes").Integer(), "1|Ann|A1|-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemovePeople();
    fields_ = original;
    CreatePeople({{1, "Ann", "A1"}});
    fields_[c.position] = c.to;
    EXPECT_EQ(Restructure(), RestructureLevel::Full);
    EXPECT_EQ(losses_, (std::vector<Loss>{{dlFieldConversion, c.to.Name}}));
    EXPECT_EQ(Rows(), std::vector<std::string>{c.row});
  }
}

TEST_F(RestructureTest, IndexOnlyRebuildRedefinesOnlyTheSlotsThatDiffer) {
  const std::vector<FieldDescriptor> original = fields_;
  struct Case {
    const char* what;
    std::vector<IndexDescriptor> before;
    std::vector<IndexDescriptor> after;
    std::vector<int> kept;  // slots whose tree stays where it was
  } cases[] = {
      {"a changed slot before an unchanged one", {IndexDef("ByName", {2}), IndexDef("ByCode", {3})},
       {IndexDef("ByID", {1}), IndexDef("ByCode", {3})}, {2}},
      {"two slots exchanging places", {IndexDef("ByName", {2}), IndexDef("ByCode", {3})},
       {IndexDef("ByCode", {3}), IndexDef("ByName", {2})}, {}},
      {"a renamed slot whose old name a new slot takes", {IndexDef("ByName", {2})},
       {IndexDef("Names", {2}), IndexDef("ByName", {3})}, {1}},
      {"a slot dropped between two others",
       {IndexDef("ByName", {2}), IndexDef("ByCode", {3}), IndexDef("ByID", {1})},
       {IndexDef("ByName", {2}), IndexDef("ByID", {1})}, {1}},
  };
  // Small pages, so that the index over Name spans several of them.
  TableCreateOptions small;
  small.IndexPageSize = 1024;
  std::vector<Row> rows;
  for (int n = 1; n <= 40; ++n) {
    rows.emplace_back(n, "name " + std::to_string(100 + n), "c" + std::to_string(n % 7));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemovePeople();
    fields_ = original;
    CreatePeople(rows, c.before, {}, small);
    std::array<std::int32_t, kIndexSlotCount> roots{};
    {
      TDataCursor cursor(*directory_, "people");
      cursor.Open(true);
      for (int slot = 1; slot <= static_cast<int>(c.before.size()); ++slot) {
        roots[slot] = cursor.Table()->IndexFile()->RootPage(slot);
      }
    }
    indexes_ = {};
    indexes_[0] = IndexDef("", {}).Unique();
    for (std::size_t i = 0; i < c.after.size(); ++i) indexes_[i + 1] = c.after[i];
    secondaryCount_ = static_cast<int>(c.after.size());
    RestructureOptions options;
    options.IndexPageSize = small.IndexPageSize;
    EXPECT_EQ(Restructure(options), RestructureLevel::IndexOnly);
    EXPECT_TRUE(losses_.empty());

    EXPECT_TRUE(Verified());
    TDataCursor cursor(*directory_, "people");
    cursor.Open(true);
    const TIndexFile& index = *cursor.Table()->IndexFile();
    ASSERT_EQ(index.SecondaryIndexCount(), secondaryCount_);
    EXPECT_TRUE(cursor.Indexes().CheckTrees().empty());
    for (int slot = 1; slot <= secondaryCount_; ++slot) {
      const IndexDescriptor& wanted = c.after[static_cast<std::size_t>(slot - 1)];
      EXPECT_EQ(index.Descriptor(slot).Name, wanted.Name) << slot;
      EXPECT_EQ(index.Descriptor(slot).FieldNumbers[0], wanted.FieldNumbers[0]) << slot;
      EXPECT_EQ(cursor.Indexes().KeyCount(slot), 40) << slot;
    }
    for (const int slot : c.kept) EXPECT_EQ(index.RootPage(slot), roots[slot]) << slot;
  }
}

}  // namespace
}  // namespace strata

namespace strata {
namespace {

// The preview of each kind of change: it writes nothing, names the level
// the restructure then takes and counts what the restructure then reports.
TEST_F(RestructureTest, PreviewCountsWhatTheRestructureThenDoes) {
  struct Case {
    const char* what;
    std::function<void()> change;
    RestructureLevel level;
    bool headerChanges;
    std::int64_t keyViolations;
    std::int64_t validityFailures;
    // name, dropped, lost, cut, changed
    std::vector<std::tuple<std::string, bool, std::int64_t, std::int64_t, std::int64_t>> fields;
  };
  const std::vector<Case> cases = {
      {"same structure", [] {}, RestructureLevel::HeaderOnly, false, 0, 0, {}},
      {"renamed field", [this] { fields_[1].Name = "FullName"; },
       RestructureLevel::HeaderOnly, true, 0, 0, {}},
      {"text to integer", [this] { fields_[2] = FieldDef(3, "Code").Integer(); },
       RestructureLevel::Full, false, 0, 0, {{"Code", false, 2, 0, 0}}},
      // Converted without a failure, yet 2 and 3 come back as 1.
      {"integer to boolean", [this] { fields_[0] = FieldDef(1, "ID").Boolean(); },
       RestructureLevel::Full, false, 0, 0, {{"ID", false, 0, 0, 2}}},
      {"integer to text", [this] { fields_[0] = FieldDef(1, "ID").String(4); },
       RestructureLevel::Full, false, 0, 0, {{"ID", false, 0, 0, 0}}},
      // The memo's text goes into the string; one of three is too long.
      {"memo to short text", [this] { fields_[3] = FieldDef(4, "Notes").String(11); },
       RestructureLevel::Full, false, 0, 0, {{"Notes", false, 0, 1, 0}}},
      {"dropped memo, shorter name",
       [this] {
         fields_.pop_back();
         fields_[1] = FieldDef(2, "Name").String(2);
       },
       RestructureLevel::Full, false, 0, 0, {{"Name", false, 0, 1, 0}, {"Notes", true, 3, 0, 0}}},
      {"required code", [this] { fields_[2].Required = 1; },
       RestructureLevel::Full, false, 0, 1, {}},
      {"unique index on code",
       [this] {
         indexes_[1] = IndexDef("ByCode", {3}).Unique();
         secondaryCount_ = 1;
       },
       RestructureLevel::IndexOnly, false, 1, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* file : {"people.dat", "people.idx", "people.blb", "people.dbk", "people.ibk",
                             "people.bbk"}) {
      std::filesystem::remove(dir_ + file);
    }
    fields_ = {FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
               FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
    indexes_ = {};
    indexes_[0] = IndexDef("", {}).Unique();
    secondaryCount_ = 0;
    CreatePeople({{1, "Ann", "A"}, {2, "Bo", ""}, {3, "Cy", "A"}});
    c.change();
    const auto before = Files();

    TDataCursor cursor(*directory_, "people", CursorModes{.Exclusive = true});
    std::vector<FieldDescriptor> fields = fields_;
    std::array<IndexDescriptor, kIndexSlotCount> indexes = indexes_;
    const RestructurePreview preview =
        cursor.PreviewRestructure({}, {fields, indexes, secondaryCount_});
    EXPECT_TRUE(Files() == before);
    EXPECT_EQ(preview.Records, 3);
    EXPECT_EQ(preview.Level, c.level);
    EXPECT_EQ(preview.HeaderChanges, c.headerChanges);
    EXPECT_EQ(preview.KeyViolations, c.keyViolations);
    EXPECT_EQ(preview.ValidityFailures, c.validityFailures);
    std::vector<std::tuple<std::string, bool, std::int64_t, std::int64_t, std::int64_t>> changes;
    for (const FieldChangePreview& f : preview.Fields) {
      changes.emplace_back(f.Name, f.Dropped, f.Lost, f.Cut, f.Changed);
    }
    EXPECT_EQ(changes, c.fields);
    EXPECT_GT(preview.BytesToRewrite, 0);

    losses_.clear();
    EXPECT_EQ(Restructure(), c.level);
    std::int64_t keyLosses = 0, validityLosses = 0, valueLosses = 0;
    for (const Loss& loss : losses_) {
      keyLosses += loss.Cause == dlKeyViolation;
      validityLosses += loss.Cause == dlValidityCheckFail;
      valueLosses += loss.Cause == dlFieldConversion || loss.Cause == dlFieldDeletion;
    }
    EXPECT_EQ(keyLosses, c.keyViolations);
    EXPECT_EQ(validityLosses, c.validityFailures);
    std::int64_t lost = 0;
    for (const auto& field : c.fields) lost += std::get<2>(field);
    EXPECT_EQ(valueLosses, lost);
  }
}

}  // namespace
}  // namespace strata
