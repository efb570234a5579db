#include "engine/core/cursors/data_cursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/record_layout.h"
#include "tests/engine/core/core_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Int32(std::int32_t value) {
  Bytes bytes(4);
  StoreI32(bytes.data(), value);
  return bytes;
}

class CursorTest : public strata::testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    session_ = &QuickSession(engine_);
    directory_ = &session_->OpenDirectory("books", dir_);
    TableStructure structure = strata::testing::SampleStructure(true);
    structure.Fields.push_back(FieldDef(5, "Code").FixedChar(6));
    FieldDescriptor upper = FieldDef(6, "Upper").String(10);
    upper.CharCase = 2;
    structure.Fields.push_back(upper);
    directory_->CloseTable(directory_->CreateTable("asset", "asset", false, structure));
  }

  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
};

TEST_F(CursorTest, SetsAndReadsFieldValues) {
  TDataCursor cursor(*directory_, "asset.dat");
  cursor.Open();
  Bytes record = cursor.NewRecordBuffer();
  ASSERT_EQ(record.size(), static_cast<std::size_t>(cursor.RecordSize()));

  const struct {
    std::uint16_t field;
    std::optional<Bytes> value;
    std::optional<Bytes> stored;
  } cases[] = {
      {1, Int32(42), Int32(42)},
      {2, Text("Lamp     "), Text(std::string("Lamp") + std::string(17, '\0'))},
      {2, Text(""), std::nullopt},
      {2, std::nullopt, std::nullopt},
      {2, Text("abc\0def"), Text(std::string("abc") + std::string(18, '\0'))},
      {2, Text(std::string(30, 'x')), Text(std::string(20, 'x') + '\0')},
      {3, Bytes{7, 0}, Bytes{1, 0}},
      {3, Bytes{0, 0}, Bytes{0, 0}},
      {5, Text("ab  "), Text(std::string("ab  ") + std::string(3, '\0'))},
      {6, Text("m\xE9tal"), Text(std::string("M\xC9TAL") + std::string(6, '\0'))},
      {4, Int32(12), Int32(12)},
      {4, Int32(0), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    std::optional<std::span<const std::uint8_t>> value;
    if (c.value) value = std::span<const std::uint8_t>(*c.value);
    cursor.SetField(record, c.field, value);
    EXPECT_EQ(cursor.GetField(record, c.field), c.stored);
  }

  // An open BLOB's handle keeps the caller's flag.
  cursor.SetBlobField(record, 4, -3, true);
  EXPECT_EQ(cursor.GetField(record, 4), Int32(-3));
  cursor.SetBlobField(record, 4, -3, false);
  EXPECT_EQ(cursor.GetField(record, 4), std::nullopt);

  // The system fields read like fields and are never set.
  StoreI32(record.data() + record_layout::kId, 9);
  cursor.SetField(record, kRecordIdFieldNumber, Int32(1));
  EXPECT_EQ(cursor.GetField(record, kRecordIdFieldNumber), Int32(9));
  EXPECT_EQ(cursor.GetField(record, kRecordHashFieldNumber)->size(), 16u);
  EXPECT_THROW(cursor.GetField(record, 7), std::out_of_range);

  cursor.Modes().FieldsByNumber = true;
  EXPECT_EQ(cursor.FieldByNumber(6)->Name, "Upper");
}

TEST_F(CursorTest, ReadsRecordsOthersAppended) {
  TDataCursor reader(*directory_, "asset");
  reader.Open();
  TDataSession& other = QuickSession(engine_);
  TDataDirectory& otherDirectory = other.OpenDirectory("books", dir_);
  TDataTable& writer = otherDirectory.OpenTable("asset", "asset");
  strata::testing::AppendRecord(writer, 11);

  Bytes record = reader.NewRecordBuffer();
  EXPECT_TRUE(reader.ReadRecord(1, record));
  EXPECT_EQ(reader.GetField(record, kRecordIdFieldNumber), Int32(11));
  EXPECT_EQ(reader.Table()->LockEntry()->Held(), 0);  // released after the read
  EXPECT_EQ(CodeOf([&] { reader.ReadRecord(2, record); }), STRATA_RECNOTFOUND);
  EXPECT_EQ(CodeOf([&] { reader.ReadRecord(0, record); }), STRATA_RECNOTFOUND);

  session_->SetStrictChangeDetection(true);
  strata::testing::AppendRecord(writer, 12);
  EXPECT_TRUE(reader.ReadRecord(2, record));
  EXPECT_EQ(reader.GetField(record, kRecordIdFieldNumber), Int32(12));
  reader.Close();
  EXPECT_EQ(directory_->TableCount(), 0u);
}

// A sequential scan reads runs of records in one call; a cursor without it
// reads each record on its own. Both see every record and what a writer of
// another session appends meanwhile.
TEST_F(CursorTest, SequentialScanReadsAheadAndStillSeesOtherWriters) {
  TDataSession& other = QuickSession(engine_);
  TDataDirectory& otherDirectory = other.OpenDirectory("books", dir_);
  TDataTable& writer = otherDirectory.OpenTable("asset", "asset");
  for (std::int32_t id = 1; id <= 200; ++id) strata::testing::AppendRecord(writer, id);

  for (const bool sequential : {false, true}) {
    SCOPED_TRACE(sequential ? "sequential" : "one by one");
    TDataCursor reader(*directory_, "asset", CursorModes{.SequentialScan = sequential});
    reader.Open();
    Bytes record = reader.NewRecordBuffer();
    const std::int64_t readsBefore = reader.Table()->DataFile()->Stats().PhysicalReads;
    for (std::int32_t n = 1; n <= 200; ++n) {
      ASSERT_TRUE(reader.ReadRecord(n, record));
      EXPECT_EQ(reader.GetField(record, kRecordIdFieldNumber), Int32(n));
    }
    const std::int64_t reads = reader.Table()->DataFile()->Stats().PhysicalReads - readsBefore;
    if (sequential) {
      EXPECT_LT(reads, 20);
    } else {
      EXPECT_EQ(reads, 200);
    }
    strata::testing::AppendRecord(writer, 201 + sequential);
    ASSERT_TRUE(reader.ReadRecord(201 + sequential, record));
    EXPECT_EQ(reader.GetField(record, kRecordIdFieldNumber), Int32(201 + sequential));
    reader.Close();
  }
  otherDirectory.CloseTable(writer);
  other.CloseDirectory(otherDirectory);
}

TEST_F(CursorTest, ExclusiveCursorRefusesSharers) {
  TDataCursor owner(*directory_, "asset", {.Exclusive = true});
  owner.Open();
  EXPECT_EQ(owner.Table()->LockEntry(), nullptr);
  TDataCursor shared(*directory_, "asset");
  EXPECT_EQ(CodeOf([&] { shared.Open(); }), STRATA_OSEACCES);
  owner.Close();
  shared.Open();
  EXPECT_FALSE(shared.ReadOnly());
}

TEST_F(CursorTest, ProgressReportsEveryStepAndEndsWithHundred) {
  TDataCursor cursor(*directory_, "asset");
  std::vector<int> reported;
  cursor.OnProgress = [&](std::uint16_t percent, std::string_view) { reported.push_back(percent); };
  const auto run = [&](std::int64_t total) {
    reported.clear();
    cursor.BeginProgress();
    for (std::int64_t n = 1; n <= total; ++n) cursor.StepProgress(n, total);
    cursor.EndProgress();
    return reported;
  };
  EXPECT_EQ(run(3), (std::vector<int>{33, 66, 100}));
  EXPECT_EQ(run(0), (std::vector<int>{100}));
  EXPECT_EQ(run(200).size(), 20u);
  session_->SetProgressSteps(0);
  EXPECT_EQ(run(7), (std::vector<int>{100}));
}

TEST_F(CursorTest, DataLossReportsStopOnceAskedTo) {
  TDataCursor cursor(*directory_, "asset");
  EXPECT_TRUE(cursor.ReportDataLoss(dlFieldDeletion, "Gone"));  // no hook: accepted
  std::vector<std::string> asked;
  cursor.OnDataLost = [&](TDataLossCause cause, std::string_view context, bool& stopAsking,
                          bool& continueOperation) {
    asked.push_back(std::to_string(cause) + ":" + std::string(context));
    stopAsking = asked.size() == 2;
    continueOperation = true;
  };
  cursor.ResetDataLoss();
  EXPECT_TRUE(cursor.ReportDataLoss(dlKeyViolation, "ByName"));
  EXPECT_TRUE(cursor.ReportDataLoss(dlFieldConversion, std::string(300, 'c')));
  EXPECT_TRUE(cursor.ReportDataLoss(dlUnknown, ""));
  EXPECT_TRUE(cursor.ReportDataLoss(dlUnknown, "forced", true));
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0], "1:ByName");
  EXPECT_EQ(asked[1].size(), 2u + 255u);
  EXPECT_EQ(asked[2], "0:forced");

  cursor.OnDataLost = [](TDataLossCause, std::string_view, bool&, bool& continueOperation) {
    continueOperation = false;
  };
  cursor.ResetDataLoss();
  EXPECT_FALSE(cursor.ReportDataLoss(dlValidityCheckFail, "Price"));
  EXPECT_FALSE(cursor.ContinueOperation());

  std::string line;
  cursor.OnLog = [&](std::string_view text) { line = text; };
  cursor.Log(std::string(400, 'l'));
  EXPECT_EQ(line.size(), 255u);
}

}  // namespace
}  // namespace strata
