// The strata program over tables whose header or field descriptors are
// damaged: the update never rebuilds a table from a header that disagrees
// with its files (it refuses it and changes none of its bytes, and the dry
// run decides alike), a stored PhysicalSize is only a copy of what the type
// gives, and no command reads a value beyond its record (the sanitizer
// build runs these same cases).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/index_file.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"
#include "tests/support/definitions.h"
#include "tests/support/file_patch.h"
#include "tests/tools/program_run.h"
#include "tests/tools/stored_tables.h"
#include "tests/update/update_test_support.h"
#include "tools/sample_database.h"

namespace strata {
namespace {

using namespace strata::testing;
namespace fs = std::filesystem;

constexpr std::int32_t kRows = 30;

class DamagedTableTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    DefaultSession().SetActive(true);
  }

  RunResult Strata(const std::string& args) {
    return RunStrataProgram(args, root_.string() + "/");
  }
  std::string Dir() const { return "'" + data_.string() + "'"; }
  std::string File(const std::string& name) const { return (data_ / name).string(); }

  // The table's files as they are now (absent ones as empty).
  std::vector<std::string> Files(const std::string& table) const {
    std::vector<std::string> files;
    for (const char* extension : {".dat", ".idx", ".blb"}) {
      files.push_back(ReadWholeFile(File(table + extension)));
    }
    return files;
  }

  // No sanitizer report and no crash of the program.
  static void ExpectCleanRun(const RunResult& run) {
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    EXPECT_GE(run.status, 0) << run.err;
  }
};

TEST_F(DamagedTableTest, UpdateAndDryRunRefuseAHeaderThatDisagreesWithItsFileAndLeaveItsBytes) {
  tools::WriteSampleDatabase(data_.string(), kRows);
  const std::string table = "accents";
  // Short of the slots, as a writer that died between appending them and
  // rewriting the header leaves it; or past them.
  for (const std::int32_t next : {kRows - 1, kRows, kRows + 2}) {
    SCOPED_TRACE(next);
    const auto stored = static_cast<std::int32_t>(
        PeekFile(File(table + ".dat"), data_header_layout::kNextRecordNumber,
                 data_header_layout::kNextRecordNumberSize));
    ASSERT_EQ(stored, kRows + 1);
    PatchFile(File(table + ".dat"), data_header_layout::kNextRecordNumber,
              static_cast<std::uint32_t>(next), data_header_layout::kNextRecordNumberSize);
    const std::vector<std::string> before = Files(table);

    const RunResult dryRun = Strata("update --dry-run " + Dir());
    const RunResult update = Strata("update " + Dir());
    ExpectCleanRun(update);
    EXPECT_EQ(dryRun.status, 2) << dryRun.out << dryRun.err;
    EXPECT_EQ(update.status, 2) << update.out << update.err;
    EXPECT_NE(update.err.find("Strata Engine Error # 8961"), std::string::npos) << update.err;
    EXPECT_NE(update.err.find("'" + table + "'"), std::string::npos) << update.err;
    EXPECT_NE(update.err.find("strata repair " + data_.string() + " " + table), std::string::npos)
        << update.err;
    EXPECT_EQ(dryRun.err, update.err);
    EXPECT_EQ(update.out.find("Your data has been updated"), std::string::npos) << update.out;
    EXPECT_TRUE(Files(table) == before);
    PatchFile(File(table + ".dat"), data_header_layout::kNextRecordNumber, kRows + 1,
              data_header_layout::kNextRecordNumberSize);
  }

  // Repair fixes the count, and the update then carries every row.
  PatchFile(File(table + ".dat"), data_header_layout::kNextRecordNumber, kRows - 1,
            data_header_layout::kNextRecordNumberSize);
  const RunResult repair = Strata("repair " + Dir() + " " + table);
  EXPECT_EQ(repair.status, 1) << repair.out << repair.err;
  const RunResult update = Strata("update " + Dir());
  EXPECT_EQ(update.status, 0) << update.out << update.err;
  EXPECT_EQ(ReadStored(data_.string(), table + ".dat").Rows.size(), std::size_t{kRows});
}

TEST_F(DamagedTableTest, UpdateCarriesEveryValueOfAFieldWhoseStoredSizeIsDamaged) {
  tools::WriteSampleDatabase(data_.string(), kRows);
  const std::string table = "accents";
  const StoredTable before = ReadStored(data_.string(), table + ".dat");
  std::size_t position = 0;
  while (position < before.Fields.size() && before.Fields[position].EngineType != kTypeString) {
    ++position;
  }
  ASSERT_LT(position, before.Fields.size());
  PatchFile(File(table + ".dat"),
            DescriptorOffset(position + 1, field_descriptor_layout::kPhysicalSize), 0,
            field_descriptor_layout::kPhysicalSizeSize);

  const RunResult dryRun = Strata("update --dry-run " + Dir());
  EXPECT_NE(dryRun.status, 2) << dryRun.err;
  const RunResult update = Strata("update " + Dir());
  ExpectCleanRun(update);
  ASSERT_EQ(update.status, 0) << update.out << update.err;

  const StoredTable after = ReadStored(data_.string(), table + ".dat");
  ASSERT_EQ(after.Rows.size(), before.Rows.size());
  const FieldDescriptor& field = after.Fields[position];
  ASSERT_EQ(field.Name, before.Fields[position].Name);
  ASSERT_EQ(field.EngineType, kTypeString);
  for (const auto& [recordId, values] : before.Rows) {
    SCOPED_TRACE(recordId);
    ASSERT_TRUE(values[position].has_value());
    const std::string old(reinterpret_cast<const char*>(values[position]->data()));
    const auto row = after.Rows.find(recordId);
    ASSERT_NE(row, after.Rows.end());
    ASSERT_TRUE(row->second[position].has_value());
    std::string now(reinterpret_cast<const char*>(row->second[position]->data()));
    std::string expected = old.substr(0, field.DeclaredLength);
    if (field.CharCase != 0) {
      for (std::string* text : {&now, &expected}) {
        for (char& c : *text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    EXPECT_EQ(now, expected);
  }
}

// A table "t" of two rows: Name string[10] (NullFlag at 25), Amount integer
// (37) and Big largeint (42), records of 56 bytes.
class DamagedDescriptorTest : public DamagedTableTest {
 protected:
  void SetUp() override {
    DamagedTableTest::SetUp();
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", data_.string());
    {
      std::vector<FieldDescriptor> fields = {
          FieldDef(1, "Name").String(10), FieldDef(2, "Amount").Integer(),
          FieldDef(3, "Big").Largeint()};
      std::array<IndexDescriptor, kIndexSlotCount> indexes{};
      indexes[0] = TIndexFile::DefaultPrimaryDescriptor();
      indexes[kFullTextSlot] = TIndexFile::EmptyTextDescriptor();
      TDataCursor cursor(directory, "t", CursorModes{.Exclusive = true});
      cursor.CreateTableFiles({}, {fields, indexes, 0});
      if (rows_) {
        cursor.Open();
        for (const char* name : {"Ann", "Bo"}) {
          std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
          WriteString(record, cursor.Fields()[0], name, Collation());
          WriteInteger(record, cursor.Fields()[1], 7);
          WriteInteger(record, cursor.Fields()[2], 1LL << 40);
          cursor.InsertRecord(record);
        }
      }
    }
    session.CloseDirectory(directory);
  }

  void PatchDescriptor(std::size_t position, std::size_t at, std::uint64_t value,
                       std::size_t size) {
    PatchFile(File("t.dat"), DescriptorOffset(position, at), value, size);
  }
  void PatchHeader(std::size_t at, std::uint64_t value, std::size_t size) {
    PatchFile(File("t.dat"), static_cast<std::int64_t>(at), value, size);
  }

  bool rows_ = true;
};

TEST_F(DamagedDescriptorTest, AStoredPhysicalSizeIsRecomputedByEveryCommand) {
  using namespace field_descriptor_layout;
  const std::string original = ReadWholeFile(File("t.dat"));
  // Too large, too small, and a size no field could have.
  for (const std::uint64_t stored : {0, 1, 12, 200, 65535}) {
    SCOPED_TRACE(stored);
    std::ofstream(File("t.dat"), std::ios::binary) << original;
    PatchDescriptor(1, kPhysicalSize, stored, kPhysicalSizeSize);

    const RunResult info = Strata("info " + Dir() + " t --json");
    ExpectCleanRun(info);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"physicalSize\": 11,"), std::string::npos) << info.out;
    const RunResult exported = Strata("export " + Dir() + " t --format csv");
    ExpectCleanRun(exported);
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, "Name,Amount,Big\r\nAnn,7,1099511627776\r\nBo,7,1099511627776\r\n");
    const RunResult verify = Strata("verify " + Dir() + " t");
    ExpectCleanRun(verify);
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    // Repair writes the descriptors again, with the size the type gives.
    const RunResult repair = Strata("repair " + Dir() + " t");
    ExpectCleanRun(repair);
    EXPECT_EQ(repair.status, 0) << repair.out << repair.err;
    EXPECT_EQ(PeekFile(File("t.dat"), DescriptorOffset(1, kPhysicalSize), kPhysicalSizeSize), 11u);
  }
}

TEST_F(DamagedDescriptorTest, AFieldThatWouldReachPastTheRecordIsRefusedByEveryCommand) {
  using namespace field_descriptor_layout;
  // Big's stored size 0 and the record size lowered to match: the size its
  // type gives would take Big's value past the record's end.
  PatchDescriptor(3, kPhysicalSize, 0, kPhysicalSizeSize);
  PatchHeader(data_header_layout::kRecordSize, 48, data_header_layout::kRecordSizeSize);
  const std::string before = ReadWholeFile(File("t.dat"));
  for (const char* command : {"info", "export", "verify", "repair"}) {
    SCOPED_TRACE(command);
    const RunResult run = Strata(std::string(command) + " " + Dir() + " t");
    ExpectCleanRun(run);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("Strata Engine Error # 8961"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(ReadWholeFile(File("t.dat")) == before);
}

// Amount as engine type 13 and Big as 19: codes reported as numbers that
// have no stored value of their own (declared length 0, so no value bytes).
// Records of 40 bytes: Name at 25, Amount's NullFlag at 37, Big's at 38.
class ValuelessTypesTest : public DamagedDescriptorTest {
 protected:
  void SetUp() override {
    rows_ = false;
    DamagedDescriptorTest::SetUp();
    using namespace field_descriptor_layout;
    PatchDescriptor(2, kEngineType, kTypeOtherInteger, kEngineTypeSize);
    PatchDescriptor(2, kPhysicalSize, 0, kPhysicalSizeSize);
    PatchDescriptor(3, kEngineType, kTypeOtherLargeint, kEngineTypeSize);
    PatchDescriptor(3, kPhysicalSize, 0, kPhysicalSizeSize);
    PatchDescriptor(3, kFieldOffset, 38, kFieldOffsetSize);
    PatchHeader(data_header_layout::kRecordSize, 40, data_header_layout::kRecordSizeSize);
    // Two records with both NullFlags set, appended as a program of the
    // format writes them; the last byte of each is Big's NullFlag's
    // neighbour, so a read of Big's "value" would leave the record.
    std::ofstream out(File("t.dat"), std::ios::binary | std::ios::app);
    std::int32_t id = 0;
    for (const char* name : {"Ann", "Bo"}) {
      ++id;
      std::string record(40, '\0');
      auto* bytes = reinterpret_cast<std::uint8_t*>(record.data());
      StoreI32(bytes + record_layout::kLink, id);
      StoreI32(bytes + record_layout::kId, id);
      bytes[25] = 1;
      std::copy_n(name, std::strlen(name), record.begin() + 26);
      bytes[37] = 1;
      bytes[38] = 1;
      out << record;
    }
    out.close();
    PatchHeader(data_header_layout::kNextRecordNumber, 3, data_header_layout::kNextRecordNumberSize);
    PatchHeader(data_header_layout::kRecordCount, 2, data_header_layout::kRecordCountSize);
    PatchHeader(data_header_layout::kLastRecordID, 2, data_header_layout::kLastRecordIDSize);
  }
};

TEST_F(ValuelessTypesTest, ReadAsNullByEveryCommand) {
  const RunResult exported = Strata("export " + Dir() + " t --format csv --null NULL");
  ExpectCleanRun(exported);
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, "Name,Amount,Big\r\nAnn,NULL,NULL\r\nBo,NULL,NULL\r\n");
  for (const char* command : {"info", "verify", "repair"}) {
    SCOPED_TRACE(command);
    const RunResult run = Strata(std::string(command) + " " + Dir() + " t");
    ExpectCleanRun(run);
    // The records were written without their keys and checksums: verify
    // and repair find that; the repaired table is clean.
    EXPECT_NE(run.status, 2) << run.out << run.err;
  }
  const RunResult verify = Strata("verify " + Dir() + " t");
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  const RunResult again = Strata("export " + Dir() + " t --format csv --null NULL");
  EXPECT_EQ(again.out, exported.out);
}

}  // namespace
}  // namespace strata
