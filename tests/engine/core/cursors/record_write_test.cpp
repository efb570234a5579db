#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/core/objects/data_engine.h"
#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "engine/formats/table_file_header_layout.h"
#include "engine/values/date_time.h"
#include "engine/values/engine_text.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

std::optional<std::span<const std::uint8_t>> Value(const Bytes& bytes) { return bytes; }

class RecordWriteTest : public strata::testing::WriteTest {
 protected:
  // ID autoinc (primary), Name string[10] (unique "ByName"), Code fixed
  // char[4], Upper string[8] upper case, Qty integer required 1..99.
  void CreateItems(TableCreateOptions options = {}) {
    FieldDescriptor upper = FieldDef(4, "Upper").String(8);
    upper.CharCase = 2;
    FieldDescriptor qty = FieldDef(5, "Qty").Integer();
    qty.Required = 1;
    qty.MinValue = "1";
    qty.MaxValue = "99";
    Create("items",
           {FieldDef(1, "ID").AutoInc(), FieldDef(2, "Name").String(10),
            FieldDef(3, "Code").FixedChar(4), upper, qty},
           {1}, {IndexDef("ByName", {2}).Unique()}, {}, options);
  }

  Bytes Item(TDataCursor& cursor, std::optional<std::int32_t> id, std::string_view name,
             std::int32_t qty = 5) {
    Bytes record = cursor.NewRecordBuffer();
    cursor.ApplyDefaults(record);
    if (id) cursor.SetField(record, 1, Value(Int32Bytes(*id)));
    cursor.SetField(record, 2, Value(TextBytes(name)));
    cursor.SetField(record, 5, Value(Int32Bytes(qty)));
    return record;
  }

  void InsertItem(TDataCursor& cursor, std::string_view name) {
    Bytes record = Item(cursor, std::nullopt, name);
    cursor.InsertRecord(record);
  }

  // Items "n0", "n1", ... through a shared cursor that is closed again.
  void InsertItems(int count) {
    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    for (int i = 0; i < count; ++i) InsertItem(cursor, "n" + std::to_string(i));
  }

  std::int32_t FieldInt(TDataCursor& cursor, const Bytes& record, std::uint16_t field) {
    const auto value = cursor.GetField(record, field);
    return value ? LoadI32(value->data()) : -1;
  }
};

TEST_F(RecordWriteTest, AutoIncrementFollowsTheCounterAndExplicitValues) {
  TableCreateOptions options;
  options.LastAutoIncValue = 41;
  CreateItems(options);
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  const TDataFile& data = *cursor.Table()->DataFile();
  const struct {
    std::optional<std::int32_t> given;
    std::int32_t stored;
    std::int32_t last;
  } cases[] = {{std::nullopt, 42, 42}, {100, 100, 100}, {std::nullopt, 101, 101}, {7, 7, 101}};
  int n = 0;
  for (const auto& c : cases) {
    Bytes record = Item(cursor, c.given, "n" + std::to_string(n++));
    cursor.InsertRecord(record);
    EXPECT_EQ(FieldInt(cursor, record, 1), c.stored);
    EXPECT_EQ(data.LastAutoIncValue(), c.last);
    EXPECT_EQ(session_->LastAutoIncValue(), c.stored);
  }
  EXPECT_EQ(data.LastRecordID(), 4);
}

TEST_F(RecordWriteTest, InsertOptionsLeaveOutTheAutoIncValueOrTheHash) {
  CreateItems();
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  const auto hashIsZero = [](const Bytes& record) {
    const auto hash = record.begin() + record_layout::kHash;
    return std::all_of(hash, hash + record_layout::kHashSize, [](std::uint8_t b) { return b == 0; });
  };

  Bytes ordinary = Item(cursor, std::nullopt, "Lamp");
  cursor.InsertRecord(ordinary);
  EXPECT_EQ(FieldInt(cursor, ordinary, 1), 1);
  EXPECT_FALSE(hashIsZero(ordinary));

  Bytes noHash = Item(cursor, std::nullopt, "Desk");
  cursor.InsertRecord(noHash, {.ComputeHash = false});
  EXPECT_EQ(FieldInt(cursor, noHash, 1), 2);
  EXPECT_TRUE(hashIsZero(noHash));

  Bytes noAutoInc = Item(cursor, std::nullopt, "Chair");
  cursor.InsertRecord(noAutoInc, {.SkipAutoInc = true});
  EXPECT_FALSE(cursor.GetField(noAutoInc, 1).has_value());
  EXPECT_FALSE(hashIsZero(noAutoInc));
  EXPECT_EQ(cursor.Table()->DataFile()->LastAutoIncValue(), 2);
  EXPECT_EQ(cursor.Table()->DataFile()->Header().RecordCount, 3);
}

TEST_F(RecordWriteTest, StoresStringsAsTheFieldsSay) {
  CreateItems();
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  Bytes record = Item(cursor, std::nullopt, "Lamp     ");
  cursor.SetField(record, 3, Value(TextBytes("ab  ")));
  cursor.SetField(record, 4, Value(TextBytes("m\xE9tal")));
  cursor.InsertRecord(record);
  Bytes empty = Item(cursor, std::nullopt, "");
  cursor.InsertRecord(empty);

  Bytes stored = cursor.NewRecordBuffer();
  ASSERT_TRUE(cursor.ReadRecord(1, stored));
  EXPECT_EQ(ReadString(stored, cursor.Fields()[1]), "Lamp");
  EXPECT_EQ(ReadString(stored, cursor.Fields()[2]), "ab  ");
  EXPECT_EQ(ReadString(stored, cursor.Fields()[3]), "M\xC9TAL");
  ASSERT_TRUE(cursor.ReadRecord(2, stored));
  EXPECT_FALSE(cursor.GetField(stored, 2));
}

TEST_F(RecordWriteTest, FailedChecksLeaveTheTableUnchanged) {
  CreateItems();
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  InsertItem(cursor, "Lamp");
  const DataFileHeader before = cursor.Table()->DataFile()->Header();

  Bytes noQty = Item(cursor, std::nullopt, "Desk");
  cursor.SetField(noQty, 5, std::nullopt);
  const struct {
    Bytes record;
    ErrorCode code;
    std::string field;
    std::string index;
  } cases[] = {
      {Item(cursor, std::nullopt, "Lamp  "), STRATA_KEYVIOL, "", "ByName"},
      {Item(cursor, 1, "Chair"), STRATA_KEYVIOL, "", "Primary"},
      {noQty, STRATA_REQDERR, "Qty", ""},
      {Item(cursor, std::nullopt, "Desk", 0), STRATA_MINVALERR, "Qty", ""},
      {Item(cursor, std::nullopt, "Desk", 100), STRATA_MAXVALERR, "Qty", ""},
  };
  for (const auto& c : cases) {
    Bytes record = c.record;
    const auto error = ErrorOf([&] { cursor.InsertRecord(record); });
    ASSERT_TRUE(error) << c.code;
    EXPECT_EQ(error->Code, c.code);
    EXPECT_EQ(error->FieldName, c.field);
    EXPECT_EQ(error->IndexName, c.index);
    EXPECT_EQ(error->TableName, "items");
  }
  const DataFileHeader& after = cursor.Table()->DataFile()->Header();
  EXPECT_EQ(after.RecordCount, before.RecordCount);
  EXPECT_EQ(after.NextRecordNumber, before.NextRecordNumber);
  EXPECT_EQ(after.FirstFreeRecord, before.FirstFreeRecord);
  EXPECT_EQ(after.LastRecordID, before.LastRecordID);
  EXPECT_EQ(after.LastAutoIncValue, before.LastAutoIncValue);
  EXPECT_EQ(cursor.Indexes().KeyCount(0), 1);
  EXPECT_EQ(cursor.Indexes().KeyCount(1), 1);
}

TEST_F(RecordWriteTest, AFailedBlobWriteTakesBackKeysAndWords) {
  FieldDescriptor notes = FieldDef(3, "Notes").Memo();
  notes.Compression = 1;
  Create("notes", {FieldDef(1, "Title").String(20), FieldDef(2, "Qty").Integer(), notes}, {1},
         {IndexDef("ByQty", {2})}, {1, 3});
  TDataCursor cursor(*directory_, "notes");
  cursor.Open();
  Bytes record = cursor.NewRecordBuffer();
  cursor.SetField(record, 1, Value(TextBytes("red lamp")));
  cursor.SetField(record, 2, Value(Int32Bytes(3)));
  cursor.SetBlobValue(record, 3, TextBytes("bright green light"));
  CompressionHooks& hooks = engine_.Compression();
  // Each failure must leave nothing behind: no keys, words, slot or counter,
  // and an error naming the table and the field. A value no read could take
  // back (longer than a read accepts, or "compressed" to nothing) fails too.
  const struct {
    const char* what;
    CompressHook hook;
    std::size_t maxValueBytes;
    ErrorCode code;
  } cases[] = {
      {"a hook that throws",
       [](std::span<const std::uint8_t>, int) -> Bytes { throw std::runtime_error("no room"); },
       kDefaultMaxDecompressedBytes, STRATA_COMPRESS},
      {"a hook that returns nothing", [](std::span<const std::uint8_t>, int) { return Bytes{}; },
       kDefaultMaxDecompressedBytes, STRATA_COMPRESS},
      {"a value longer than a read accepts", nullptr, 17, STRATA_INVALIDBLOBLEN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    hooks.OnCompress = c.hook;
    hooks.MaxValueBytes = c.maxValueBytes;
    const DataFileHeader before = cursor.Table()->DataFile()->Header();
    const auto error = ErrorOf([&] { cursor.InsertRecord(record); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code, c.code);
    EXPECT_EQ(error->TableName, "notes");
    EXPECT_EQ(error->FieldName, "Notes");
    TableIndexWriter& indexes = cursor.Indexes();
    for (int slot : {0, 1, 31}) EXPECT_EQ(indexes.KeyCount(slot), 0) << slot;
    EXPECT_TRUE(indexes.CheckTrees().empty());
    EXPECT_EQ(cursor.Table()->DataFile()->Header().NextRecordNumber, before.NextRecordNumber);
    EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(), 0);
  }

  // The value stays open: the insert can be made again, and a value exactly
  // as long as a read accepts is stored and read back.
  hooks.OnCompress = nullptr;
  hooks.MaxValueBytes = 18;
  cursor.InsertRecord(record);
  TableIndexWriter& indexes = cursor.Indexes();
  EXPECT_EQ(indexes.KeyCount(31), 5);
  EXPECT_EQ(indexes.FindWord(3, "green", 1), 1);
  EXPECT_EQ(cursor.OpenBlobCount(), 0u);
  EXPECT_EQ(cursor.OpenBlob(record, 3), 18u);
  EXPECT_EQ(cursor.BlobValue(record, 3).size(), 18u);
  hooks.MaxValueBytes = kDefaultMaxDecompressedBytes;
}

TEST_F(RecordWriteTest, BcdValuesBeyondTheKeyRangeKeepTheirOrderInAUniqueIndex) {
  Create("amounts", {FieldDef(1, "ID").Integer(), FieldDef(2, "Amount").Bcd()}, {1},
         {IndexDef("ByAmount", {2}).Unique()});
  TDataCursor cursor(*directory_, "amounts");
  cursor.Open();
  // Stored images as a foreign file may hold them: 10^20 and -10^20 have
  // 21 digits, beyond 64 bits of ten-thousandths; 0 has no digits.
  const auto image = [](std::uint8_t signAndPlaces, bool huge) {
    Bytes bcd(kBcdSize, 0);
    bcd[0] = huge ? 21 : 0;
    bcd[1] = signAndPlaces;
    if (huge) bcd[2] = 0x10;
    return bcd;
  };
  const struct {
    std::int32_t id;
    Bytes amount;
  } rows[] = {{1, image(0x00, true)}, {2, image(0x80, true)}, {3, image(0x00, false)}};
  for (const auto& row : rows) {
    Bytes record = cursor.NewRecordBuffer();
    cursor.SetField(record, 1, Value(Int32Bytes(row.id)));
    cursor.SetField(record, 2, Value(row.amount));
    cursor.InsertRecord(record);
  }
  // Ascending: -10^20 (slot 2), 0 (slot 3), 10^20 (slot 1).
  std::vector<std::int32_t> order;
  for (const auto& [key, slot] : LeafEntries(*cursor.Table()->IndexFile(), 1)) {
    order.push_back(slot);
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{2, 3, 1}));
}

TEST_F(RecordWriteTest, FullTextWordsGoThroughStopWordsAndTheEngineFilters) {
  TableCreateOptions options;
  options.StopWords = std::vector<std::string>{"lamp"};
  Create("words", {FieldDef(1, "Title").String(120)}, {}, {}, {1}, options);
  engine_.TextIndex.OnTextIndexFilter = [](const TextIndexContext& context, std::string& text) {
    if (context.FieldName == "Title") text += " extra";
  };
  engine_.TextIndex.OnTextIndexTokenFilter = [](const TextIndexContext&, std::string& word) {
    return word != "Red";
  };
  TDataCursor cursor(*directory_, "words");
  cursor.Open();
  Bytes record = cursor.NewRecordBuffer();
  const std::string longWord(65, 'x');
  cursor.SetField(record, 1, Value(TextBytes("Red LAMP glows, glows;" + longWord)));
  cursor.InsertRecord(record);
  TableIndexWriter& indexes = cursor.Indexes();
  EXPECT_EQ(indexes.KeyCount(31), 3);
  for (const std::string& word : {std::string("GLOWS"), std::string("extra"), std::string(61, 'x')}) {
    EXPECT_EQ(indexes.FindWord(1, word, 1), 1) << word;
  }
  for (const char* word : {"red", "lamp"}) EXPECT_FALSE(indexes.FindWord(1, word, 1)) << word;
}

TEST_F(RecordWriteTest, DeletedSlotsAreReusedLastFirst) {
  Create("slots", {FieldDef(1, "N").Integer(), FieldDef(2, "Notes").Memo()},
         {}, {IndexDef("ByN", {1})});
  TDataCursor cursor(*directory_, "slots");
  cursor.Open();
  for (std::int32_t n = 1; n <= 6; ++n) {
    Bytes record = cursor.NewRecordBuffer();
    cursor.SetField(record, 1, Value(Int32Bytes(n)));
    cursor.SetBlobValue(record, 2, Bytes(600, static_cast<std::uint8_t>(n)));
    cursor.InsertRecord(record);
  }
  cursor.DeleteRecord(3);
  cursor.DeleteRecord(5);
  EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(), 4);
  EXPECT_EQ(cursor.Indexes().KeyCount(1), 4);
  EXPECT_NE(cursor.Table()->BlobFile()->Header().FirstFreeBlock, 0);
  EXPECT_EQ(ErrorOf([&] { cursor.DeleteRecord(5); })->Code, STRATA_KEYORRECDELETED);
  for (std::int32_t expected : {5, 3, 7}) {
    Bytes record = cursor.NewRecordBuffer();
    cursor.SetField(record, 1, Value(Int32Bytes(10 + expected)));
    cursor.InsertRecord(record);
    EXPECT_EQ(cursor.CurrentRecord(), expected);
    EXPECT_EQ(LoadI32(record.data() + record_layout::kLink), expected);
  }
  EXPECT_TRUE(cursor.Indexes().CheckTrees().empty());
}

TEST_F(RecordWriteTest, RequiredFieldFailsBeforeASlotIsTaken) {
  CreateItems();
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  InsertItem(cursor, "Lamp");
  cursor.DeleteRecord(1);
  Bytes missing = Item(cursor, std::nullopt, "Desk");
  cursor.SetField(missing, 5, std::nullopt);
  EXPECT_EQ(ErrorOf([&] { cursor.InsertRecord(missing); })->Code, STRATA_REQDERR);
  EXPECT_EQ(cursor.Table()->DataFile()->FirstFreeRecord(), 1);
  Bytes slot = cursor.NewRecordBuffer();
  EXPECT_FALSE(cursor.ReadRecord(1, slot));
}

TEST_F(RecordWriteTest, KeptRecordIDsRaiseTheCounter) {
  CreateItems();
  InsertItems(3);
  TDataCursor cursor(*directory_, "items",
                     CursorModes{.Exclusive = true, .KeepRecordIDs = true, .NoTriggers = true});
  cursor.Open();
  for (const std::int32_t id : {7, 5}) {
    Bytes record = Item(cursor, std::nullopt, "k" + std::to_string(id));
    StoreI32(record.data() + record_layout::kId, id);
    cursor.InsertRecord(record);
    EXPECT_EQ(FieldInt(cursor, record, 65535), id);
    EXPECT_EQ(cursor.Table()->DataFile()->LastRecordID(), 7);
  }
}

TEST_F(RecordWriteTest, DefaultsIncludingTheCurrentMoment) {
  FieldDescriptor guid = FieldDef(1, "Key").String(38);
  guid.DefaultValue = "current_guid";
  FieldDescriptor stamp = FieldDef(2, "Made").Timestamp();
  stamp.DefaultValue = "Current_Timestamp";
  FieldDescriptor day = FieldDef(3, "Day").Date();
  day.DefaultValue = "current_date";
  FieldDescriptor flag = FieldDef(4, "Flag").Boolean();
  flag.DefaultValue = "true";
  FieldDescriptor price = FieldDef(5, "Price").Bcd();
  price.DeclaredDecimals = 2;
  price.DefaultValue = "12.5";
  FieldDescriptor text = FieldDef(6, "Text").String(10);
  text.DefaultValue = "none";
  Create("defaults", {guid, stamp, day, flag, price, text, FieldDef(7, "Plain").Integer()});
  TDataCursor cursor(*directory_, "defaults");
  cursor.Open();
  Bytes record(cursor.RecordSize(), 0xAA);
  const double before = CurrentDateTime();
  cursor.ApplyDefaults(record);
  const double after = CurrentDateTime();
  const auto fields = cursor.Fields();
  EXPECT_EQ(ReadString(record, fields[0]).size(), 38u);
  const double made = ReadTimestamp(record, fields[1]).value();
  EXPECT_GE(made, before - 1e-6);
  EXPECT_LE(made, after + 1e-6);
  EXPECT_EQ(ReadDate(record, fields[2]), std::floor(before));
  EXPECT_TRUE(ReadBoolean(record, fields[3]));
  EXPECT_EQ(ReadBcd(record, fields[4]), 125000);
  EXPECT_EQ(ReadString(record, fields[5]), "none");
  EXPECT_FALSE(cursor.GetField(record, 7));
  EXPECT_EQ(record[record_layout::kStatus], 0);
}

TEST_F(RecordWriteTest, InsertErrorHandlerChoosesTheAction) {
  CreateItems();
  TDataCursor cursor(*directory_, "items");
  cursor.Open();
  int calls = 0;
  engine_.Triggers.BeforeInsertTrigger = [&](TDataSession&, std::span<std::uint8_t>,
                                             TDataCursor&, TDataDirectory&) {
    if (++calls == 1) throw std::runtime_error("first call fails");
  };
  for (const TInsertErrorAction action :
       {TInsertErrorAction::Retry, TInsertErrorAction::Abort, TInsertErrorAction::Fail}) {
    calls = 0;
    engine_.Triggers.OnInsertError = [&](TDataCursor&, const std::exception&) { return action; };
    Bytes record = Item(cursor, std::nullopt, "n" + std::to_string(static_cast<int>(action)));
    const std::int32_t count = cursor.Table()->DataFile()->RecordCount();
    if (action == TInsertErrorAction::Fail) {
      EXPECT_THROW(cursor.InsertRecord(record), std::runtime_error);
    } else {
      cursor.InsertRecord(record);
    }
    EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(),
              count + (action == TInsertErrorAction::Retry ? 1 : 0));
  }
  // Without triggers neither the trigger nor the handler is asked.
  calls = 0;
  cursor.Close();
  TDataCursor exclusive(*directory_, "items", CursorModes{.Exclusive = true, .NoTriggers = true});
  exclusive.Open();
  Bytes record = Item(exclusive, std::nullopt, "quiet");
  exclusive.InsertRecord(record);
  EXPECT_EQ(calls, 0);
}

TEST_F(RecordWriteTest, SharedInsertsWriteAtOnceExclusiveOnesAtClose) {
  CreateItems();
  const auto onDisk = [&] {
    DataFileHeader header;
    const std::string bytes = Slurp("items.dat").substr(0, kDataHeaderSize);
    header.Decode(std::span<const std::uint8_t, kDataHeaderSize>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), kDataHeaderSize));
    return header;
  };
  {
    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    Bytes record = Item(cursor, std::nullopt, "Lamp");
    cursor.InsertRecord(record);
    EXPECT_EQ(onDisk().RecordCount, 1);
  }
  TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = true});
  cursor.Open();
  const std::int32_t changes = cursor.Table()->DataFile()->Header().ChangeCount;
  for (int i = 0; i < 3; ++i) {
    Bytes record = Item(cursor, std::nullopt, "x" + std::to_string(i));
    cursor.InsertRecord(record);
  }
  EXPECT_EQ(onDisk().RecordCount, 1);
  EXPECT_EQ(cursor.Table()->DataFile()->Header().ChangeCount, changes + 3);
  cursor.Close();
  EXPECT_EQ(onDisk().RecordCount, 4);
}

TEST_F(RecordWriteTest, ReadOnlyCursorCannotInsert) {
  CreateItems();
  TDataCursor cursor(*directory_, "items", CursorModes{.ReadOnly = true});
  cursor.Open();
  Bytes record = Item(cursor, std::nullopt, "Lamp");
  EXPECT_EQ(ErrorOf([&] { cursor.InsertRecord(record); })->Code, STRATA_OSEACCES);
}

// A lost index file held every index definition of the table: opening the
// table fails naming the file, and only a repair replaces it, with the
// default primary index over every record, keeping an unreadable file aside.
TEST_F(RecordWriteTest, LostIndexFileFailsTheOpenAndRepairRebuildsThePrimaryIndex) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> lose;
    std::uint16_t code;
    LostIndexFile lost;
  };
  const std::vector<Case> cases = {
      {"deleted", [](const std::string& path) { std::filesystem::remove(path); }, STRATA_OSENOENT,
       LostIndexFile::Missing},
      {"cut to 100 bytes", [](const std::string& path) { std::filesystem::resize_file(path, 100); },
       STRATA_READERR, LostIndexFile::Unreadable},
      // A header this engine does not read at all: its version and the
      // start of its signature zeroed.
      {"version zeroed",
       [](const std::string& path) {
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(table_file_header_layout::kFormatVersion);
         file.write(std::string(8, '\0').data(), 8);
       },
       STRATA_OLDVERSION, LostIndexFile::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().filename().string().starts_with("items.")) {
        std::filesystem::remove(entry.path());
      }
    }
    CreateItems();
    InsertItems(50);
    {
      TDataCursor cursor(*directory_, "items");
      cursor.Open();
      cursor.DeleteRecord(7);
    }
    const std::string indexPath = dir_ + "items.idx";
    c.lose(indexPath);
    for (bool exclusive : {false, true}) {
      TDataCursor cursor(*directory_, "items", CursorModes{.Exclusive = exclusive});
      const auto error = ErrorOf([&] { cursor.Open(); });
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->Code, c.code);
      EXPECT_EQ(error->TableName, indexPath);
    }
    EXPECT_EQ(std::filesystem::exists(indexPath), c.lost == LostIndexFile::Unreadable);

    std::vector<std::string> lines;
    TDataCursor verifier(*directory_, "items", CursorModes{.Exclusive = true, .ReadOnly = true});
    verifier.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
    EXPECT_FALSE(verifier.VerifyOrRepairTable(false));
    EXPECT_EQ(verifier.LostIndex(), c.lost);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(indexPath), std::string::npos);

    lines.clear();
    TDataCursor repairer(*directory_, "items", CursorModes{.Exclusive = true});
    repairer.OnLog = [&](std::string_view line) { lines.emplace_back(line); };
    EXPECT_FALSE(repairer.VerifyOrRepairTable(true));
    EXPECT_EQ(repairer.LostIndex(), c.lost);
    const bool named = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find("Index file " + indexPath) == 0 &&
             line.find("index definitions are lost") != std::string::npos;
    });
    EXPECT_TRUE(named);
    EXPECT_EQ(std::filesystem::exists(indexPath + ".damaged~"),
              c.lost == LostIndexFile::Unreadable);

    TDataCursor cursor(*directory_, "items");
    cursor.Open();
    EXPECT_EQ(cursor.Table()->DataFile()->RecordCount(), 49);
    TableIndexWriter& indexes = cursor.Indexes();
    EXPECT_EQ(indexes.SecondaryIndexCount(), 0);
    EXPECT_EQ(indexes.KeyCount(0), 49);
    EXPECT_TRUE(indexes.CheckTrees().empty());
    Bytes record = cursor.NewRecordBuffer();
    ASSERT_TRUE(cursor.ReadRecord(20, record));
    const std::int32_t id = LoadI32(record.data() + record_layout::kId);
    EXPECT_EQ(indexes.FindKey(0, indexes.BuildKey(0, record, id)), 20);
    cursor.Close();
    TDataCursor again(*directory_, "items", CursorModes{.Exclusive = true, .ReadOnly = true});
    EXPECT_TRUE(again.VerifyOrRepairTable(false));
  }
}

}  // namespace
}  // namespace strata
