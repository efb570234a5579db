#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "engine/formats/blob_block_layout.h"
#include "engine/formats/blob_file_header_layout.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/index_file_header_layout.h"
#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/formats/index_key.h"
#include "engine/locale/collation.h"
#include "engine/formats/index_page_layout.h"
#include "tests/engine/core/verify/salvage_test_support.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;
using Lines = std::vector<std::string>;

constexpr char kStarted[] = " started at ";
constexpr char kCompleted[] = " completed at ";

// The values of one record as the application sees them.
struct RecordValues {
  std::optional<Bytes> Id, Name, Code;
  std::string Notes;
  bool operator==(const RecordValues&) const = default;
};

// A memo of 1000 bytes whose last 12 are blanks: cut anywhere after byte
// 984 it still holds the same words.
std::string LongNote() {
  std::string text;
  while (text.size() < 980) text += "lorem ipsum ";
  text.resize(1000, ' ');
  return text;
}

struct Outcome {
  bool Result = false;
  Lines Findings;  // between the start and completion lines
  std::vector<std::pair<std::uint16_t, std::string>> Progress;
};

class TableVerifyTest : public strata::testing::WriteTest {
 protected:
  // ID autoinc (primary), Name string[20] ("ByName", non-unique), Code
  // integer ("ByCode", unique), Notes memo; Name and Notes in the full-text
  // index. Ten records (or more); notes on records 1 (three blocks), 4
  // and 5.
  void CreateItems(const std::string& name, int count = 10) {
    Create(name,
           {FieldDef(1, "ID").AutoInc(), FieldDef(2, "Name").String(20),
            FieldDef(3, "Code").Integer(), FieldDef(4, "Notes").Memo()},
           {1}, {IndexDef("ByName", {2}), IndexDef("ByCode", {3}).Unique()}, {2, 4});
    TDataCursor cursor(*directory_, name, CursorModes{.Exclusive = true});
    cursor.Open();
    const char* colours[] = {"red", "green", "blue"};
    for (int n = 1; n <= count; ++n) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 2, TextBytes("item " + std::to_string(n) + " " + colours[n % 3]));
      cursor.SetField(record, 3, Int32Bytes(n * 10));
      const std::string note = n == 1 ? LongNote() : n == 4 ? "fourth note" : n == 5 ? "fifth" : "";
      if (!note.empty()) cursor.SetBlobValue(record, 4, TextBytes(note));
      cursor.InsertRecord(record);
    }
  }

  std::string PathOf(const std::string& table, const char* extension) const {
    return dir_ + table + extension;
  }

  Bytes ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const std::string& path, const Bytes& bytes) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void Patch(const std::string& path, std::size_t offset, const Bytes& bytes) const {
    Bytes content = ReadFile(path);
    ASSERT_LE(offset + bytes.size(), content.size());
    std::copy(bytes.begin(), bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(offset));
    WriteFile(path, content);
  }
  // The table's three files.
  std::vector<Bytes> Snapshot(const std::string& table) const {
    return {ReadFile(PathOf(table, ".dat")), ReadFile(PathOf(table, ".idx")),
            ReadFile(PathOf(table, ".blb"))};
  }
  std::int32_t ReadI32At(const std::string& path, std::size_t offset) const {
    return LoadI32(ReadFile(path).data() + offset);
  }

  // Where slot n starts in the data file, and the table's record size.
  std::size_t SlotOffset(const std::string& table, std::int32_t n) {
    TDataCursor cursor(*directory_, table);
    cursor.Open();
    return data_header_layout::kFieldDescriptors + kFieldDescriptorSize * cursor.Fields().size() +
           static_cast<std::size_t>(n - 1) * static_cast<std::size_t>(cursor.RecordSize());
  }
  std::size_t FieldOffset(const std::string& table, std::uint16_t field) {
    TDataCursor cursor(*directory_, table);
    cursor.Open();
    return cursor.Fields()[field - 1u].FieldOffset;
  }

  // Every record in use, by slot.
  std::map<std::int32_t, RecordValues> Records(const std::string& table) {
    std::map<std::int32_t, RecordValues> records;
    TDataCursor cursor(*directory_, table);
    cursor.Open();
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      RecordValues values{cursor.GetField(record, 1), cursor.GetField(record, 2),
                          cursor.GetField(record, 3), ""};
      if (cursor.OpenBlob(record, 4) > 0) {
        const auto bytes = cursor.BlobValue(record, 4);
        values.Notes.assign(bytes.begin(), bytes.end());
      }
      cursor.CloseBlob(record, 4);
      records[n] = values;
    }
    return records;
  }

  Outcome VerifyOrRepair(const std::string& table, bool repair, bool force = false) {
    Outcome run;
    Lines lines;
    TDataCursor cursor(*directory_, table, CursorModes{.Exclusive = true});
    cursor.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
    cursor.OnProgress = [&](std::uint16_t percent, std::string_view text) {
      run.Progress.emplace_back(percent, std::string(text));
    };
    run.Result = cursor.VerifyOrRepairTable(repair, force);
    const std::string prefix = (repair ? "Repair of table " : "Verification of table ") + table;
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() >= 2) {
      EXPECT_EQ(lines.front().rfind(prefix + kStarted, 0), 0u) << lines.front();
      EXPECT_EQ(lines.back().rfind(prefix + kCompleted, 0), 0u) << lines.back();
      run.Findings.assign(lines.begin() + 1, lines.end() - 1);
    }
    return run;
  }

  // The texts of the progress reports, each once, in order.
  static Lines ProgressTexts(const Outcome& run) {
    Lines texts;
    for (const auto& [percent, text] : run.Progress) {
      if (texts.empty() || texts.back() != text) texts.push_back(text);
    }
    return texts;
  }
};

TEST_F(TableVerifyTest, AHealthyTableIsCleanInBothModes) {
  CreateItems("items");
  const auto before = Records("items");
  const auto files = Snapshot("items");
  const Outcome verify = VerifyOrRepair("items", false);
  EXPECT_TRUE(Snapshot("items") == files) << "verification changed the files";
  EXPECT_TRUE(verify.Result);
  EXPECT_EQ(verify.Findings, Lines{});
  EXPECT_EQ(ProgressTexts(verify),
            (Lines{"Verifying headers", "Verifying record, index, and BLOB data",
                   "Verifying index data"}));
  EXPECT_EQ(verify.Progress.front(),
            std::make_pair(std::uint16_t{0}, std::string("Verifying headers")));
  EXPECT_EQ(verify.Progress.back().first, 100);

  const Outcome repair = VerifyOrRepair("items", true);
  EXPECT_TRUE(repair.Result);
  EXPECT_EQ(repair.Findings, Lines{});
  EXPECT_EQ(ProgressTexts(repair),
            (Lines{"Repairing headers", "Repairing record, index, and BLOB data",
                   "Repairing index data"}));
  EXPECT_EQ(Records("items"), before);
  EXPECT_TRUE(VerifyOrRepair("items", false).Result);
}

TEST_F(TableVerifyTest, DeletedRecordsAndEmptiedBlobsLeaveNoFinding) {
  CreateItems("items");
  {
    TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
    cursor.Open();
    cursor.DeleteRecord(1);  // three blocks
    cursor.DeleteRecord(4);
    // A value written empty keeps no block but the revision it was written
    // under, with its NullFlag 0.
    Bytes record = cursor.NewRecordBuffer();
    cursor.SetField(record, 3, Int32Bytes(999));
    cursor.SetBlobValue(record, 4, Bytes{});
    cursor.InsertRecord(record);
    ASSERT_TRUE(cursor.ReadRecord(4, record));  // the last slot freed is reused first
    ASSERT_EQ(cursor.GetField(record, 3), Int32Bytes(999));
    const std::size_t at = cursor.Fields()[3].FieldOffset;
    EXPECT_EQ(record[at], 0);
    EXPECT_EQ(LoadI32(record.data() + at + record_layout::kNullFlagSize +
                      record_layout::kBlobFirstBlock),
              0);
    EXPECT_NE(LoadI32(record.data() + at + record_layout::kNullFlagSize +
                      record_layout::kBlobRevision),
              0);
  }
  const Outcome verify = VerifyOrRepair("items", false);
  EXPECT_TRUE(verify.Result);
  EXPECT_EQ(verify.Findings, Lines{});
}

TEST_F(TableVerifyTest, AForcedRebuildOfAHealthyTableSucceeds) {
  CreateItems("items");
  const auto before = Records("items");
  const Outcome repair = VerifyOrRepair("items", true, true);
  EXPECT_TRUE(repair.Result);
  EXPECT_EQ(repair.Findings, Lines{});
  EXPECT_EQ(
      ProgressTexts(repair),
      (Lines{"Repairing headers", "Repairing record, index, and BLOB data", "Rebuilding indexes"}));
  EXPECT_EQ(Records("items"), before);
  EXPECT_TRUE(VerifyOrRepair("items", false).Result);
  TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
  cursor.Open();
  EXPECT_EQ(cursor.Indexes().CheckTrees(), Lines{});
  EXPECT_EQ(cursor.Indexes().FindWord(4, "lorem", 1), 1);
}

TEST_F(TableVerifyTest, PreconditionsComeFirst) {
  CreateItems("items");
  TDataCursor open(*directory_, "items", CursorModes{.Exclusive = true});
  open.Open();
  TDataCursor shared(*directory_, "items");
  TDataCursor readOnly(*directory_, "items", CursorModes{.Exclusive = true, .ReadOnly = true});
  const struct {
    TDataCursor* cursor;
    bool repair;
    ErrorCode code;
  } cases[] = {{&open, false, STRATA_TABLEOPEN},
               {&shared, false, STRATA_NEEDEXCLACCESS},
               {&readOnly, true, STRATA_OSEACCES}};
  for (const auto& c : cases) {
    const auto error = ErrorOf([&] { c.cursor->VerifyOrRepairTable(c.repair); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, c.code);
  }
  open.Close();
  EXPECT_TRUE(readOnly.VerifyOrRepairTable(false));
}

TEST_F(TableVerifyTest, UnavailableLocaleIsRefusedNamingTheTable) {
  CreateItems("items");
  Patch(PathOf("items", ".dat"), data_header_layout::kLocaleID, Int32Bytes(0x7FFF0409));
  TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
  std::vector<std::string> lines;
  cursor.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
  for (const bool repair : {false, true}) {
    const auto error = ErrorOf([&] { cursor.VerifyOrRepairTable(repair); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, STRATA_CANNOTLOADLDDRV);
    EXPECT_EQ(error->Message(),
              "Strata Engine Error # 15878 The locale support for the table 'items' is not "
              "available or installed");
  }
  EXPECT_EQ(lines, std::vector<std::string>{});
}

class TableDamageTest : public TableVerifyTest {
 public:
  using TableVerifyTest::FieldOffset;
  using TableVerifyTest::Patch;
  using TableVerifyTest::PathOf;
  using TableVerifyTest::ReadFile;
  using TableVerifyTest::ReadI32At;
  using TableVerifyTest::SlotOffset;
  using TableVerifyTest::WriteFile;
  TDataDirectory& Directory() { return *directory_; }
};

// One kind of damage, the lines each mode reports, and what a repair
// changes in the records (slot -> values; nullopt: the record is gone).
struct DamageCase {
  std::string Name;
  std::function<void(TableDamageTest&, const std::string&)> Damage;
  Lines Verify;
  Lines Repair;
  std::function<void(std::map<std::int32_t, RecordValues>&)> Expected = nullptr;
  std::function<void(TableDamageTest&, const std::string&)> AfterRepair = nullptr;
};

Bytes I32(std::int32_t value) { return Int32Bytes(value); }

// Where the BLOB block n of the test tables (blocks of 512 bytes) starts.
std::size_t BlockOffset(std::int32_t n) {
  return blob_header_layout::kBlocks + static_cast<std::size_t>(n - 1) * 512;
}
// Where the descriptor of field n starts in the data file, and that of index
// slot n in the index file.
std::size_t FieldDescriptorOffset(std::size_t n) {
  return data_header_layout::kFieldDescriptors + kFieldDescriptorSize * (n - 1);
}
std::size_t IndexSlotOffset(std::size_t slot) {
  return index_header_layout::kDescriptors + kIndexDescriptorSize * slot;
}
// Where a BLOB field's reference names its first block.
std::size_t FirstBlockAt(std::size_t fieldOffset) {
  return fieldOffset + record_layout::kNullFlagSize + record_layout::kBlobFirstBlock;
}
Bytes U16(std::uint16_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

std::vector<DamageCase> DamageCases() {
  const std::string fixed = ", error fixed";
  const std::string indexesInvalid = "Indexes do not match record data and are invalid";
  const Lines rebuilt = {indexesInvalid + ", starting to fix indexes", "Invalid indexes fixed"};
  const auto join = [](Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      {"half a record slot at the end",
       [](TableDamageTest& t, const std::string& table) {
         Bytes data = t.ReadFile(t.PathOf(table, ".dat"));
         data.resize(data.size() + 36, 0xAB);
         t.WriteFile(t.PathOf(table, ".dat"), data);
       },
       {"Physical records not aligned on even record size boundaries"},
       {"Physical records not aligned on even record size boundaries" + fixed}},
      {"two records with one RecordID",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), t.SlotOffset(table, 3) + record_layout::kId, I32(1));
       },
       {"Record ID 1 for physical record # 3 is invalid", indexesInvalid},
       join({"Record ID 1 for physical record # 3 is invalid, error fixed"}, rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open();
         Bytes record = cursor.NewRecordBuffer();
         ASSERT_TRUE(cursor.ReadRecord(3, record));
         EXPECT_EQ(LoadI32(record.data() + record_layout::kId), 11);
         EXPECT_EQ(cursor.Table()->DataFile()->LastRecordID(), 11);
       }},
      {"a wrong digest",
       [](TableDamageTest& t, const std::string& table) {
         const std::size_t at = t.SlotOffset(table, 2) + record_layout::kHash;
         t.Patch(t.PathOf(table, ".dat"), at,
                 {static_cast<std::uint8_t>(t.ReadFile(t.PathOf(table, ".dat"))[at] ^ 0xFF)});
       },
       {"Checksum for physical record # 2 (logical record ID of 2) is invalid and the data is "
        "most likely corrupted"},
       {"Checksum for physical record # 2 (logical record ID of 2) is invalid and the data is "
        "most likely corrupted, error fixed"}},
      {"a deleted slot naming a BLOB block",
       [](TableDamageTest& t, const std::string& table) {
         {
           TDataCursor cursor(t.Directory(), table, CursorModes{.Exclusive = true});
           cursor.Open();
           cursor.DeleteRecord(7);
         }
         t.Patch(t.PathOf(table, ".dat"),
                 t.SlotOffset(table, 7) + FirstBlockAt(t.FieldOffset(table, 4)), I32(2));
       },
       {"Invalid BLOB offset into BLOB file for physical record # 7 (logical record ID of 7)"},
       {"Invalid BLOB offset into BLOB file for physical record # 7 (logical record ID of 7), "
        "error fixed"},
       [](auto& records) { records.erase(7); }},
      {"deleted slots 3 and 8 behind a bad free record pointer",
       [](TableDamageTest& t, const std::string& table) {
         {
           TDataCursor cursor(t.Directory(), table, CursorModes{.Exclusive = true});
           cursor.Open();
           cursor.DeleteRecord(8);
           cursor.DeleteRecord(3);
         }
         t.Patch(t.PathOf(table, ".dat"), data_header_layout::kFirstFreeRecord, I32(99));
       },
       {"Invalid next free record pointer"},
       {"Invalid next free record pointer" + fixed},
       [](auto& records) {
         records.erase(3);
         records.erase(8);
       },
       [](TableDamageTest& t, const std::string& table) {
         const std::string path = t.PathOf(table, ".dat");
         EXPECT_EQ(t.ReadI32At(path, data_header_layout::kFirstFreeRecord), 8);
         EXPECT_EQ(t.ReadI32At(path, t.SlotOffset(table, 8) + record_layout::kLink), 3);
         EXPECT_EQ(t.ReadI32At(path, t.SlotOffset(table, 3) + record_layout::kLink), 0);
       }},
      {"an index missing a key",
       [](TableDamageTest&, const std::string&) {},  // set up below
       {indexesInvalid},
       rebuilt},
      {"equal keys in a unique index",
       [](TableDamageTest& t, const std::string& table) {
         const std::string path = t.PathOf(table, ".dat");
         const std::size_t slot = t.SlotOffset(table, 5);
         Bytes data = t.ReadFile(path);
         TDataCursor cursor(t.Directory(), table);
         cursor.Open();
         const std::span<std::uint8_t> record(data.data() + slot,
                                              static_cast<std::size_t>(cursor.RecordSize()));
         WriteInteger(record, cursor.Fields()[2], 20);
         const Md5Digest hash = ComputeRecordHash(record, cursor.Fields());
         std::copy(hash.begin(), hash.end(), record.begin() + record_layout::kHash);
         cursor.Close();
         t.WriteFile(path, data);
       },
       {indexesInvalid},
       {indexesInvalid + ", starting to fix indexes",
        "Error rebuilding index keys for physical record # 5 (logical record ID of 5), error "
        "fixed but physical record deleted",
        "Physical record # 5 (logical record ID of 5) kept in {table}.salvage~",
        "Invalid indexes fixed", "Invalid total record count of 10, error fixed"},
       [](auto& records) { records.erase(5); },
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open();
         EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(), 9);
         // The memo of the deleted record went back to the free chain.
         EXPECT_NE(cursor.Table()->BlobFile()->Header().FirstFreeBlock, 0);
         // Its bytes and its memo are kept.
         const auto kept = ReadSalvageFile(t.PathOf(table, ".salvage~"));
         ASSERT_EQ(kept.size(), 2u);
         EXPECT_EQ(kept[0].Tag, "STBL");
         EXPECT_EQ(kept[0].TableName, table);
         EXPECT_EQ(kept[1].Tag, "SREC");
         EXPECT_EQ(kept[1].Slot, 5);
         EXPECT_EQ(kept[1].RecordId, 5);
         EXPECT_EQ(kept[1].Reason, "a key the index ByCode holds for another record");
         EXPECT_EQ(kept[1].SlotBytes.size(), static_cast<std::size_t>(cursor.RecordSize()));
         ASSERT_EQ(kept[1].Values.size(), 1u);
         EXPECT_EQ(kept[1].Values[0].Stored, std::optional(TextBytes("fifth")));
       }},
      {"a memo chain shorter than its length",
       [](TableDamageTest& t, const std::string& table) {
         const std::string blob = t.PathOf(table, ".blb");
         const std::int32_t first =
             t.ReadI32At(t.PathOf(table, ".dat"),
                         t.SlotOffset(table, 1) + FirstBlockAt(t.FieldOffset(table, 4)));
         const std::int32_t second =
             t.ReadI32At(blob, BlockOffset(first) + blob_block_layout::kNextBlock);
         t.Patch(blob, BlockOffset(second) + blob_block_layout::kNextBlock, I32(0));
       },
       // The third block, cut off the chain, goes back to the free chain.
       {"BLOB size mismatch in BLOB file for physical record # 1 (logical record ID of 1)",
        "1 BLOB blocks in use by no record and not free", indexesInvalid},
       {"BLOB size mismatch in BLOB file for physical record # 1 (logical record ID of 1), "
        "error fixed",
        "1 BLOB blocks in use by no record and not free, freed"},
       [](auto& records) { records[1].Notes.resize(988); }},
      {"two fields of one name",
       [](TableDamageTest& t, const std::string& table) {
         Bytes name(field_descriptor_layout::kNameSize, 0);
         name[0] = 4;
         std::copy_n("Code", 4, name.begin() + 1);
         t.Patch(t.PathOf(table, ".dat"), FieldDescriptorOffset(4) + field_descriptor_layout::kName,
                 name);
       },
       {"Invalid field name (duplicate) for field Code in table header",
        "Invalid field name (duplicate) for field Code in table header"},
       {"Invalid field name (duplicate) for field Code in table header, error fixed"},
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open(true);
         EXPECT_EQ(cursor.Fields()[2].Name, "_3Code");
         EXPECT_EQ(cursor.Fields()[3].Name, "Code");
       }},
      {"a password check value in a plain table",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), data_header_layout::kPasswordCheck + 5, Bytes{0x5A});
       },
       {"Password check value of a table without a password"},
       {"Password check value of a table without a password" + fixed}},
      {"a name in an unused index slot",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".idx"), IndexSlotOffset(9) + index_descriptor_layout::kName,
                 Bytes{1, 'X'});
       },
       {"Unused index slots not empty", indexesInvalid},
       join({"Unused index slots not empty" + fixed}, rebuilt)},
      {"a bad free page pointer",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".idx"), index_header_layout::kFirstFreePage, I32(9999));
       },
       {"Invalid free index page pointer", indexesInvalid},
       join({"Invalid free index page pointer" + fixed}, rebuilt)},
      {"a key field naming no field",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".idx"),
                 IndexSlotOffset(1) + index_descriptor_layout::kFieldNumbers, U16(77));
       },
       {"Invalid field number 77 in index ByName", "Invalid key size of 0 for index ByName",
        "Invalid key field count of 1 for index ByName", indexesInvalid},
       join({"Invalid field number 77 in index ByName, error fixed and field removed from index",
             "Invalid key size of 0 for index ByName, error fixed and index removed",
             "Invalid key field count of 1 for index ByName, error fixed"},
            rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open(true);
         const TIndexFile& index = *cursor.Table()->IndexFile();
         EXPECT_EQ(index.SecondaryIndexCount(), 1);
         EXPECT_EQ(index.Descriptor(1).Name, "ByCode");
       }},
      {"a key field after the end of an index's field list",
       [](TableDamageTest& t, const std::string& table) {
         // ByName's list is 2, 0, 0, ...: the entry after the end belongs
         // to no key.
         t.Patch(t.PathOf(table, ".idx"),
                 IndexSlotOffset(1) + index_descriptor_layout::kFieldNumbers +
                     3 * index_descriptor_layout::kFieldNumberSize,
                 U16(3));
       },
       {"Invalid field number 3 in index ByName", indexesInvalid},
       join({"Invalid field number 3 in index ByName, error fixed and field removed from index"},
            rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open(true);
         const IndexDescriptor& byName = cursor.Table()->IndexFile()->Descriptor(1);
         EXPECT_EQ(byName.FieldCount, 1);
         EXPECT_EQ(byName.FieldNumbers[0], 2);
         EXPECT_EQ(byName.FieldNumbers[3], 0);
       }},
      {"descending flags other than 0 and 1",
       [](TableDamageTest& t, const std::string& table) {
         // A flag past ByName's one key field, and 7 for ByCode's field.
         t.Patch(t.PathOf(table, ".idx"),
                 IndexSlotOffset(1) + index_descriptor_layout::kDescendingFields + 5, Bytes{1});
         t.Patch(t.PathOf(table, ".idx"),
                 IndexSlotOffset(2) + index_descriptor_layout::kDescendingFields, Bytes{7});
       },
       {"Invalid descending key field flags for index ByName",
        "Invalid descending key field flags for index ByCode", indexesInvalid},
       join({"Invalid descending key field flags for index ByName" + fixed,
             "Invalid descending key field flags for index ByCode" + fixed},
            rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table);
         cursor.Open(true);
         const TIndexFile& index = *cursor.Table()->IndexFile();
         EXPECT_EQ(index.Descriptor(1).DescendingFields[5], 0);
         // 7 read as descending: the index is rebuilt that way.
         EXPECT_EQ(index.Descriptor(2).DescendingFields[0], 1);
       }},
      {"an index page count past the file's pages",
       [](TableDamageTest& t, const std::string& table) {
         const std::string path = t.PathOf(table, ".idx");
         t.Patch(path, index_header_layout::kNextPageNumber,
                 I32(t.ReadI32At(path, index_header_layout::kNextPageNumber) + 3));
       },
       {"Physical index page count not correct", indexesInvalid},
       join({"Physical index page count not correct" + fixed}, rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         const std::string path = t.PathOf(table, ".idx");
         EXPECT_EQ(t.ReadI32At(path, index_header_layout::kNextPageNumber) - 1,
                   static_cast<std::int32_t>((t.ReadFile(path).size() - kFirstIndexPageOffset) /
                                             4096));
       }},
      {"a leaf of the last level with a right neighbour",
       [](TableDamageTest& t, const std::string& table) {
         // The primary index is one root leaf; another page becomes its
         // right neighbour.
         const std::string path = t.PathOf(table, ".idx");
         const std::int32_t root = t.ReadI32At(path, index_header_layout::kRootPage);
         t.Patch(path,
                 static_cast<std::size_t>(kFirstIndexPageOffset) +
                     static_cast<std::size_t>(root - 1) * 4096 + index_page_layout::kNextPage,
                 I32(root == 1 ? 2 : 1));
       },
       {indexesInvalid},
       rebuilt},
      {"a full-text word its record does not hold",
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table, CursorModes{.Exclusive = true});
         cursor.Open();
         std::array<std::uint8_t, kFullTextKeyLength> key{};
         BuildTextKey(2, "ZEBRA", 2, Collation(), key);
         cursor.Indexes().InsertKey(static_cast<int>(kFullTextSlot), key, 2);
       },
       {indexesInvalid},
       rebuilt,
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         TDataCursor cursor(t.Directory(), table, CursorModes{.Exclusive = true});
         cursor.Open();
         EXPECT_EQ(cursor.Indexes().FindWord(2, "ZEBRA", 2), std::nullopt);
       }},
      {"a BLOB block size the header cannot hold",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), data_header_layout::kBlobBlockSize, I32(500));
       },
       // The BLOB file's length and block count give its size back.
       {"Invalid BLOB block size in table header"},
       {"Invalid BLOB block size in table header" + fixed},
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         EXPECT_EQ(t.ReadI32At(t.PathOf(table, ".dat"), data_header_layout::kBlobBlockSize), 512);
       }},
      {"a BLOB block size other than the file's",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), data_header_layout::kBlobBlockSize, I32(520));
       },
       // Read with 520-byte blocks every memo would be lost.
       {"Invalid BLOB block size in table header"},
       {"Invalid BLOB block size in table header" + fixed},
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         EXPECT_EQ(t.ReadI32At(t.PathOf(table, ".dat"), data_header_layout::kBlobBlockSize), 512);
       }},
      {"an index page size the header cannot hold",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), data_header_layout::kIndexPageSize, I32(100));
       },
       {"Invalid index page size in table header", indexesInvalid},
       join({"Invalid index page size in table header" + fixed}, rebuilt),
       nullptr,
       [](TableDamageTest& t, const std::string& table) {
         EXPECT_EQ(t.ReadI32At(t.PathOf(table, ".dat"), data_header_layout::kIndexPageSize), 4096);
       }},
      {"a BLOB value flagged without a first block",
       [](TableDamageTest& t, const std::string& table) {
         // Record 2 has no memo; BLOB fields are not in the digest.
         t.Patch(t.PathOf(table, ".dat"), t.SlotOffset(table, 2) + t.FieldOffset(table, 4),
                 Bytes{1});
       },
       {"Invalid value (a BLOB value without a first block) of field Notes for physical record "
        "# 2 (logical record ID of 2)"},
       {"Invalid value (a BLOB value without a first block) of field Notes for physical record "
        "# 2 (logical record ID of 2), error fixed, field set to NULL"}},
      {"a compression level on a field whose values are not compressed",
       [](TableDamageTest& t, const std::string& table) {
         t.Patch(t.PathOf(table, ".dat"), FieldDescriptorOffset(4) + field_descriptor_layout::kCompression,
                 Bytes{6});
       },
       {"Invalid compression level for field Notes in table header",
        "BLOB value of field Notes that cannot be decompressed for physical record # 1 (logical "
        "record ID of 1)",
        "BLOB value of field Notes that cannot be decompressed for physical record # 4 (logical "
        "record ID of 4)",
        "BLOB value of field Notes that cannot be decompressed for physical record # 5 (logical "
        "record ID of 5)",
        indexesInvalid},
       // The memos stay as they are, read as stored.
       {"Invalid compression level for field Notes in table header" + fixed}},
  };
}

TEST_F(TableDamageTest, EachDamageIsReportedAndRepaired) {
  const std::vector<DamageCase> cases = DamageCases();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const DamageCase& c = cases[i];
    SCOPED_TRACE(c.Name);
    const std::string table = "case" + std::to_string(i);
    CreateItems(table);
    if (c.Name == "an index missing a key") {
      TDataCursor cursor(*directory_, table, CursorModes{.Exclusive = true});
      cursor.Open();
      Bytes record = cursor.NewRecordBuffer();
      ASSERT_TRUE(cursor.ReadRecord(6, record));
      cursor.Indexes().DeleteKey(1, cursor.Indexes().BuildKey(1, record, 6));
    }
    auto expected = Records(table);
    c.Damage(*this, table);
    if (c.Expected) c.Expected(expected);

    // "{table}" in an expected line stands for the case's table.
    const auto named = [&](Lines lines) {
      for (std::string& line : lines) {
        for (std::size_t at; (at = line.find("{table}")) != std::string::npos;) {
          line.replace(at, 7, table);
        }
      }
      return lines;
    };
    const auto damaged = Snapshot(table);
    const Outcome verify = VerifyOrRepair(table, false);
    EXPECT_FALSE(verify.Result);
    EXPECT_EQ(verify.Findings, named(c.Verify));
    EXPECT_TRUE(Snapshot(table) == damaged) << "verification changed the files";
    const Outcome repair = VerifyOrRepair(table, true);
    EXPECT_FALSE(repair.Result);
    EXPECT_EQ(repair.Findings, named(c.Repair));

    const Outcome after = VerifyOrRepair(table, false);
    EXPECT_TRUE(after.Result);
    EXPECT_EQ(after.Findings, Lines{});
    EXPECT_EQ(Records(table), expected);
    if (c.AfterRepair) c.AfterRepair(*this, table);
    {
      TDataCursor cursor(*directory_, table, CursorModes{.Exclusive = true});
      cursor.Open(true);  // the ordinary header checks pass again
      EXPECT_EQ(cursor.Indexes().CheckTrees(), Lines{});
    }
  }
}

// Stored bytes that no value of their field can be, in a record whose
// digest was made to match them: verify names record and field; repair
// stores what the write path would have stored for the value held (a
// string ended, padded, trimmed and in its letter case, a boolean 1), makes
// the field NULL when no value is held (or puts the link, status or padding
// right) and leaves the rest of the record as it was.
TEST_F(TableDamageTest, ImpossibleStoredBytesAreNamedAndRepaired) {
  // Name is 9 characters long so that the record ends in padding; Code is
  // kept in upper case.
  FieldDescriptor code = FieldDef(5, "Code").String(4);
  code.CharCase = 2;
  Create("kinds", {FieldDef(1, "Name").String(9), FieldDef(2, "Born").Date(),
                   FieldDef(3, "At").Time(), FieldDef(4, "Done").Boolean(), code});
  {
    TDataCursor cursor(*directory_, "kinds", CursorModes{.Exclusive = true});
    cursor.Open();
    for (int n = 0; n < 2; ++n) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 1, TextBytes("ab"));
      cursor.SetField(record, 2, Int32Bytes(738000));
      cursor.SetField(record, 3, Int32Bytes(3600000));
      cursor.SetField(record, 4, U16(1));
      cursor.SetField(record, 5, TextBytes("XY"));
      cursor.InsertRecord(record);
    }
  }
  const Bytes healthy = ReadFile(PathOf("kinds", ".dat"));
  const std::size_t slot = SlotOffset("kinds", 2);
  auto at = [&](std::uint16_t field) { return slot + FieldOffset("kinds", field); };
  // A field's value, after its NullFlag.
  auto value = [&](std::uint16_t field) { return at(field) + record_layout::kNullFlagSize; };
  const std::size_t recordSize = SlotOffset("kinds", 2) - SlotOffset("kinds", 1);
  const struct {
    const char* name;
    std::size_t offset;
    Bytes bytes;
    const char* line;  // what verify says (after the record's number)
    std::uint16_t field;  // the field repair changes, 0 for none
    std::optional<std::string> after;  // its value then (nullopt: NULL)
  } cases[] = {
      {"NullFlag 7", at(1), {7}, "Invalid value (a NullFlag of 7) of field Name", 1, {}},
      {"bytes after the terminator", value(1) + 4, {'z'},
       "Invalid value (bytes after the text's terminating zero) of field Name", 1, "ab"},
      {"trailing blanks", value(1) + 2, {' ', ' '},
       "Invalid value (trailing blanks) of field Name", 1, "ab"},
      {"no terminator", value(1), TextBytes("abcdefghij"),
       "Invalid value (a text without its terminating zero) of field Name", 1, "abcdefghi"},
      {"an empty text", value(1), {0, 0}, "Invalid value (an empty text) of field Name", 1, {}},
      {"lower case in an upper-case field", value(5), {'x'},
       "Invalid value (letter case) of field Code", 5, "XY"},
      {"NULL with bytes", at(2), {0},
       "Invalid value (non-zero bytes in a NULL value) of field Born", 2, {}},
      {"day 0", value(2), {0, 0, 0, 0}, "Invalid value (day 0) of field Born", 2, {}},
      {"past midnight", value(3), Int32Bytes(86400000),
       "Invalid value (a time of 86400000 ms) of field At", 3, {}},
      {"boolean 2", value(4), U16(2), "Invalid value (a boolean of 2) of field Done", 4, "1"},
      {"link 0", slot + record_layout::kLink, Int32Bytes(0), "Invalid record link", 0, {}},
      {"status 7", slot + record_layout::kStatus, {7}, "Invalid record status", 0, {}},
      {"padding", slot + recordSize - 1, {9}, "Non-zero bytes after the last field", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes damaged = healthy;
    std::copy(c.bytes.begin(), c.bytes.end(),
              damaged.begin() + static_cast<std::ptrdiff_t>(c.offset));
    // The digest agrees with the damage: only the value rules can tell.
    TDataCursor fields(*directory_, "kinds");
    fields.Open();
    const std::vector<FieldDescriptor> descriptors(fields.Fields().begin(), fields.Fields().end());
    fields.Close();
    const std::span<std::uint8_t> record(damaged.data() + slot, recordSize);
    const Md5Digest hash = ComputeRecordHash(record, descriptors);
    std::copy(hash.begin(), hash.end(), record.begin() + record_layout::kHash);
    WriteFile(PathOf("kinds", ".dat"), damaged);

    const Outcome verify = VerifyOrRepair("kinds", false);
    EXPECT_FALSE(verify.Result);
    ASSERT_FALSE(verify.Findings.empty());
    EXPECT_EQ(verify.Findings[0].rfind(c.line, 0), 0u) << verify.Findings[0];
    EXPECT_NE(verify.Findings[0].find("physical record # 2 (logical record ID of 2)"),
              std::string::npos) << verify.Findings[0];
    EXPECT_FALSE(VerifyOrRepair("kinds", true).Result);
    EXPECT_TRUE(VerifyOrRepair("kinds", false).Result);

    TDataCursor cursor(*directory_, "kinds");
    cursor.Open(true);
    Bytes values = cursor.NewRecordBuffer();
    ASSERT_TRUE(cursor.ReadRecord(2, values));
    for (std::uint16_t f = 1; f <= 5; ++f) {
      const auto got = cursor.GetField(values, f);
      if (f != c.field) {
        EXPECT_TRUE(got.has_value()) << f;
        continue;
      }
      ASSERT_EQ(got.has_value(), c.after.has_value()) << f;
      if (!got) continue;
      const std::string text = f == 4 ? std::to_string(LoadU16(got->data()))
                                      : std::string(reinterpret_cast<const char*>(got->data()));
      EXPECT_EQ(text, *c.after);
    }
  }
}

// A record the table's rules refuse (a required field NULL, a primary key
// field NULL, a value beyond its field's maximum) is named by verify; a
// repair takes it out of the table after keeping its bytes and BLOB values
// in <table>.salvage~, and a compressed value that no longer decompresses
// goes there too, its field made NULL. Limits that name the moment are not
// applied. A later repair appends to the file.
TEST_F(TableDamageTest, RecordsTheRulesRefuseAreTakenOutAndKept) {
  FieldDescriptor name = FieldDef(2, "Name").String(10);
  name.Required = 1;
  FieldDescriptor small = FieldDef(3, "Small").Smallint();
  small.MinValue = "-10";
  small.MaxValue = "10";
  FieldDescriptor picture = FieldDef(5, "Picture").Graphic();
  picture.Compression = 6;
  FieldDescriptor when = FieldDef(6, "When").Date();
  when.MinValue = "CURRENT_DATE";
  Create("rules", {FieldDef(1, "Ref").String(6), name, small, FieldDef(4, "Notes").Memo(),
                   picture, when},
         {1});
  {
    TDataCursor cursor(*directory_, "rules", CursorModes{.Exclusive = true});
    cursor.Open();
    for (int n = 1; n <= 6; ++n) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 1, TextBytes("R" + std::to_string(n)));
      cursor.SetField(record, 2, TextBytes("n" + std::to_string(n)));
      cursor.SetField(record, 3, U16(static_cast<std::uint16_t>(n)));
      cursor.SetBlobValue(record, 4, TextBytes("note " + std::to_string(n)));
      cursor.SetBlobValue(record, 5, TextBytes("picture " + std::to_string(n)));
      cursor.InsertRecord(record);
    }
  }
  TDataCursor reader(*directory_, "rules");
  reader.Open();
  const std::vector<FieldDescriptor> fields(reader.Fields().begin(), reader.Fields().end());
  const auto recordSize = static_cast<std::size_t>(reader.RecordSize());
  reader.Close();
  // Changes a record and makes its digest agree; returns the slot's bytes.
  const auto patch = [&](std::int32_t n, const std::function<void(std::span<std::uint8_t>)>& change) {
    Bytes data = ReadFile(PathOf("rules", ".dat"));
    const std::span<std::uint8_t> record(data.data() + SlotOffset("rules", n), recordSize);
    change(record);
    const Md5Digest hash = ComputeRecordHash(record, fields);
    std::copy(hash.begin(), hash.end(), record.begin() + record_layout::kHash);
    WriteFile(PathOf("rules", ".dat"), data);
    return Bytes(record.begin(), record.end());
  };
  // Records written long ago: their day was today once.
  for (const std::int32_t n : {1, 5}) {
    patch(n, [&](auto record) { WriteFieldBytes(record, fields[5], Int32Bytes(700000), Collation()); });
  }
  const Bytes second = patch(2, [&](auto record) { SetFieldNull(record, fields[1]); });
  const Bytes third = patch(3, [&](auto record) { SetFieldNull(record, fields[0]); });
  const Bytes fourth = patch(4, [&](auto record) { WriteInteger(record, fields[2], 11); });
  // A byte of record 5's compressed picture.
  const std::int32_t block =
      ReadI32At(PathOf("rules", ".dat"), SlotOffset("rules", 5) + FirstBlockAt(fields[4].FieldOffset));
  const std::size_t at = BlockOffset(block) + blob_block_layout::kPayload + 3;
  const Bytes pictureBefore = ReadFile(PathOf("rules", ".blb"));
  Patch(PathOf("rules", ".blb"), at, {static_cast<std::uint8_t>(pictureBefore[at] ^ 0x55)});
  const std::string salvage = PathOf("rules", ".salvage~");

  const auto line = [](int n, const std::string& what) {
    return "Invalid record (" + what + ") for physical record # " + std::to_string(n) +
           " (logical record ID of " + std::to_string(n) + ")";
  };
  const std::string picture5 =
      "BLOB value of field Picture that cannot be decompressed for physical record # 5 (logical "
      "record ID of 5)";
  const Outcome verify = VerifyOrRepair("rules", false);
  EXPECT_FALSE(verify.Result);
  EXPECT_EQ(verify.Findings,
            (Lines{line(2, "required field Name is NULL"), line(3, "primary key field Ref is NULL"),
                   line(4, "value of field Small above its maximum"), picture5,
                   "Indexes do not match record data and are invalid"}));
  EXPECT_FALSE(std::filesystem::exists(salvage)) << "verification wrote a salvage file";

  const std::string kept = ", error fixed but physical record deleted and kept in rules.salvage~";
  const Outcome repair = VerifyOrRepair("rules", true);
  EXPECT_FALSE(repair.Result);
  EXPECT_EQ(repair.Findings,
            (Lines{line(2, "required field Name is NULL") + kept,
                   line(3, "primary key field Ref is NULL") + kept,
                   line(4, "value of field Small above its maximum") + kept,
                   picture5 + ", error fixed, field set to NULL and its value kept in rules.salvage~",
                   "Indexes do not match record data and are invalid, starting to fix indexes",
                   "Invalid indexes fixed", "Invalid total record count of 6, error fixed"}));
  EXPECT_TRUE(VerifyOrRepair("rules", false).Result);
  {
    // Records 1 and 5 keep their old days; record 5 lost its picture only.
    TDataCursor cursor(*directory_, "rules");
    cursor.Open(true);
    Bytes record = cursor.NewRecordBuffer();
    std::vector<std::string> refs;
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      refs.push_back(ReadString(record, cursor.Fields()[0]));
      EXPECT_EQ(cursor.GetField(record, 5).has_value(), n != 5) << n;
    }
    EXPECT_EQ(refs, (std::vector<std::string>{"R1", "R5", "R6"}));
  }

  auto entries = ReadSalvageFile(salvage);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].Tag, "STBL");
  EXPECT_EQ(entries[0].TableName, "rules");
  EXPECT_EQ(entries[0].RecordSize, recordSize);
  EXPECT_EQ(entries[0].FieldCount, 6);
  EXPECT_FALSE(entries[0].Enciphered);
  const struct {
    std::int32_t slot;
    const char* reason;
    const Bytes* bytes;
  } records[] = {{2, "required field Name is NULL", &second},
                 {3, "primary key field Ref is NULL", &third},
                 {4, "value of field Small above its maximum", &fourth}};
  for (std::size_t i = 0; i < std::size(records); ++i) {
    SCOPED_TRACE(records[i].reason);
    const SalvageEntry& entry = entries[i + 1];
    EXPECT_EQ(entry.Tag, "SREC");
    EXPECT_EQ(entry.Slot, records[i].slot);
    EXPECT_EQ(entry.RecordId, records[i].slot);
    EXPECT_EQ(entry.Reason, records[i].reason);
    EXPECT_TRUE(entry.SlotBytes == *records[i].bytes);
    ASSERT_EQ(entry.Values.size(), 2u);
    EXPECT_EQ(entry.Values[0].FieldNumber, 4);
    EXPECT_EQ(entry.Values[0].Stored, TextBytes("note " + std::to_string(records[i].slot)));
    EXPECT_EQ(entry.Values[1].FieldNumber, 5);
    ASSERT_TRUE(entry.Values[1].Stored);
    EXPECT_EQ(ZlibDecompress(*entry.Values[1].Stored, 1 << 20),
              TextBytes("picture " + std::to_string(records[i].slot)));
  }
  EXPECT_EQ(entries[4].Tag, "SVAL");
  EXPECT_EQ(entries[4].Slot, 5);
  EXPECT_EQ(entries[4].Reason, "a value that cannot be decompressed");
  ASSERT_EQ(entries[4].Values.size(), 1u);
  EXPECT_EQ(entries[4].Values[0].FieldNumber, 5);
  EXPECT_TRUE(entries[4].Values[0].Stored.has_value());

  // The next repair that takes a record out adds a section of its own.
  patch(1, [&](auto record) { SetFieldNull(record, fields[1]); });
  EXPECT_FALSE(VerifyOrRepair("rules", true).Result);
  entries = ReadSalvageFile(salvage);
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[5].Tag, "STBL");
  EXPECT_EQ(entries[6].Tag, "SREC");
  EXPECT_EQ(entries[6].Slot, 1);
  EXPECT_TRUE(VerifyOrRepair("rules", false).Result);
}

// Under a locale's collation keys that differ only in an accent compare
// equal, so a search finds a record through an entry whose key bytes are
// not its record's. Verify compares the bytes: the entry is reported and a
// repair rebuilds the index.
TEST_F(TableDamageTest, AnEntryThatOnlyCollatesLikeItsRecordsKeyIsFound) {
  constexpr std::uint32_t kGerman = 0x0407;
  if (!LocaleAvailable(kGerman)) GTEST_SKIP() << "no German collation";
  TableCreateOptions options;
  options.LocaleID = kGerman;
  Create("names", {FieldDef(1, "Name").String(12)}, {}, {IndexDef("ByName", {1})}, {}, options);
  {
    TDataCursor cursor(*directory_, "names", CursorModes{.Exclusive = true});
    cursor.Open();
    for (const char* text : {"Adler", "M\xFCller", "Zander"}) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.SetField(record, 1, TextBytes(text));
      cursor.InsertRecord(record);
    }
  }
  // The key's u with umlaut becomes a plain u; the record keeps it.
  const std::string path = PathOf("names", ".idx");
  Bytes index = ReadFile(path);
  const Bytes name = TextBytes("M\xFCller");
  const auto found = std::search(index.begin(), index.end(), name.begin(), name.end());
  ASSERT_NE(found, index.end());
  ASSERT_EQ(std::search(found + 1, index.end(), name.begin(), name.end()), index.end());
  *(found + 1) = 'u';
  WriteFile(path, index);

  const Outcome verify = VerifyOrRepair("names", false);
  EXPECT_FALSE(verify.Result);
  EXPECT_EQ(verify.Findings, Lines{"Indexes do not match record data and are invalid"});
  EXPECT_FALSE(VerifyOrRepair("names", true).Result);
  EXPECT_TRUE(VerifyOrRepair("names", false).Result);
  index = ReadFile(path);
  EXPECT_NE(std::search(index.begin(), index.end(), name.begin(), name.end()), index.end());
}

// Repair never crashes, whatever the damage (changed bytes, runs of zeros,
// bytes from elsewhere, a file cut short): after it, the table verifies
// clean, with every stored value, link, padding byte and BLOB block keeping
// the format's rules, opens with the ordinary checks and reads back; or the
// repair or the verification fails with an engine error that names the
// damage.
// The next unit number of each file's header at the lowest value it can
// hold: every count made from it stays within range (the sanitizers see an
// overflow). Verify reports the damage and repair brings every record back;
// an index header that counts no page is refused as it is opened.
TEST_F(TableDamageTest, TheLowestNextNumbersAreDamageNotOverflow) {
  const struct {
    const char* Extension;
    std::size_t Offset;
    bool RefusedAtOpen;
  } cases[] = {
      {".dat", data_header_layout::kNextRecordNumber, false},
      {".idx", index_header_layout::kNextPageNumber, true},
      {".blb", blob_header_layout::kNextBlockNumber, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Extension);
    const std::string table = std::string("lowest") + (c.Extension + 1);
    CreateItems(table);
    const auto expected = Records(table);
    Patch(PathOf(table, c.Extension), c.Offset, I32(INT32_MIN));
    if (c.RefusedAtOpen) {
      try {
        VerifyOrRepair(table, false);
        ADD_FAILURE() << "opened";
      } catch (const EStrataEngineError& error) {
        EXPECT_EQ(error.Code, STRATA_HEADERCORRUPT);
      }
      continue;
    }
    EXPECT_FALSE(VerifyOrRepair(table, false).Result);
    EXPECT_FALSE(VerifyOrRepair(table, true).Result);
    EXPECT_TRUE(VerifyOrRepair(table, false).Result);
    EXPECT_EQ(Records(table), expected);
  }
}

TEST_F(TableDamageTest, RepairSurvivesRandomDamage) {
  CreateItems("items", 200);  // two levels in the ordinary indexes
  const char* extensions[] = {".dat", ".idx", ".blb"};
  std::map<std::string, Bytes> healthy;
  for (const char* extension : extensions)
    healthy[extension] = ReadFile(PathOf("items", extension));
  const std::set<ErrorCode> allowed = {
      STRATA_HEADERCORRUPT,      STRATA_FILECORRUPT, STRATA_MEMOCORRUPT,
      STRATA_INDEXCORRUPT,       STRATA_OLDVERSION,  STRATA_BADSIGNATURE,
      STRATA_NOTSUFFTABLERIGHTS, STRATA_READERR,     STRATA_CANNOTLOADLDDRV};
  std::mt19937 random(20240611);
  int clean = 0;
  const int rounds = 300;
  for (int round = 0; round < rounds; ++round) {
    for (const auto& [extension, bytes] : healthy)
      WriteFile(PathOf("items", extension.c_str()), bytes);
    const std::string extension = extensions[random() % 3];
    Bytes bytes = healthy[extension];
    const int changes = 1 + static_cast<int>(random() % 6);
    std::string what = extension;
    for (int k = 0; k < changes && !bytes.empty(); ++k) {
      // Mostly the headers and descriptors, where damage does most harm.
      const std::size_t limit =
          random() % 2 == 0 ? std::min<std::size_t>(bytes.size(), 2048) : bytes.size();
      const std::size_t at = random() % limit;
      const std::size_t run = std::min<std::size_t>(1 + random() % 64, bytes.size() - at);
      switch (random() % 5) {
        case 0:
        case 1:  // a byte changed
          bytes[at] = static_cast<std::uint8_t>(random());
          what += " byte " + std::to_string(at);
          break;
        case 2:  // a run of zeros
          std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), run, 0);
          what += " zeros " + std::to_string(at) + "+" + std::to_string(run);
          break;
        case 3: {  // bytes from elsewhere in the file
          const std::size_t from = random() % (bytes.size() - run + 1);
          std::copy_n(healthy[extension].begin() + static_cast<std::ptrdiff_t>(from), run,
                      bytes.begin() + static_cast<std::ptrdiff_t>(at));
          what += " splice " + std::to_string(from) + "->" + std::to_string(at);
          break;
        }
        default:  // cut short
          bytes.resize(std::max<std::size_t>(at, bytes.size() - run * 8));
          what += " cut " + std::to_string(bytes.size());
          break;
      }
    }
    WriteFile(PathOf("items", extension.c_str()), bytes);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + what);

    Lines repairLines;
    try {
      TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
      cursor.OnLog = [&](std::string_view line) { repairLines.emplace_back(line); };
      cursor.VerifyOrRepairTable(true);
      TDataCursor check(*directory_, "items", CursorModes{.Exclusive = true});
      Lines lines;
      check.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
      const bool result = check.VerifyOrRepairTable(false);
      // A field the header cannot describe stays broken, and so do the
      // memos of a field whose compression level was changed: what they
      // hold no longer matches it.
      const bool unfixable =
          std::any_of(repairLines.begin(), repairLines.end(), [](const std::string& line) {
            return line.find("error cannot be fixed") != std::string::npos ||
                   line.find("# 15002 ") != std::string::npos;
          });
      if (!unfixable) {
        EXPECT_TRUE(result) << ::testing::PrintToString(repairLines) << "\n"
                            << ::testing::PrintToString(lines);
        if (result) ++clean;
        // The ordinary opening checks and every record with its BLOB value
        // read back.
        if (result) {
          TDataCursor reader(*directory_, "items");
          reader.Open(true);
          reader.Close();
          Records("items");
        }
      }
    } catch (const EStrataEngineError& error) {
      EXPECT_TRUE(allowed.contains(error.Code)) << error.Message();
    }
  }
  // Most damage can be repaired.
  EXPECT_GT(clean, rounds / 2);
}

}  // namespace
}  // namespace strata
