#include <gtest/gtest.h>

#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/numbers.h"

namespace strata {
namespace {

using namespace strata::testing;

constexpr std::int32_t kRecords = 3000;

const char* const kWords[] = {"amber", "the",   "Birch", "cedar", "and",    "delta", "ember",
                              "fjord", "grain", "HARBOUR", "isle", "jasper", "kiln",  "lumen"};

std::string Sentence(Numbers& numbers, std::size_t words) {
  std::string text;
  for (std::size_t i = 0; i < words; ++i) {
    if (!text.empty()) text += numbers.Below(4) == 0 ? ", " : " ";
    text += kWords[numbers.Below(std::size(kWords))];
    if (numbers.Below(5) == 0) text += std::to_string(numbers.Below(100));
  }
  return text;
}

class TableRoundTripTest : public strata::testing::WriteTest {
 protected:
  void SetUp() override {
    // Index pages still leave the cache often, just not on every key.
    engine_.Options().MaxTableIndexBufferSize = 1 << 20;
    WriteTest::SetUp();
  }
};

TEST_F(TableRoundTripTest, EveryTypeKeyAndWordSurvivesReopening) {
  FieldDescriptor amount = FieldDef(10, "Amount").Bcd();
  amount.DeclaredDecimals = 2;
  FieldDescriptor small = FieldDef(6, "Small").Smallint();
  small.DefaultValue = "3";
  FieldDescriptor extra = FieldDef(18, "Extra").Memo();
  extra.Compression = 6;
  const std::vector<FieldDescriptor> fields = {
      FieldDef(1, "ID").AutoInc(),
      FieldDef(2, "Name").String(30),
      FieldDef(3, "Born").Date(),
      FieldDef(4, "Notes").Memo(),
      FieldDef(5, "Active").Boolean(),
      small,
      FieldDef(7, "Count").Integer(),
      FieldDef(8, "Ratio").Float(),
      FieldDef(9, "Price").Currency(),
      amount,
      FieldDef(11, "Raw").Bytes(6),
      FieldDef(12, "At").Time(),
      FieldDef(13, "Stamp").Timestamp(),
      FieldDef(14, "Word").Word(),
      FieldDef(15, "Var").VarBytes(10),
      FieldDef(16, "Big").Largeint(),
      FieldDef(17, "Title").String(40),
      extra,
      FieldDef(19, "Code").FixedChar(5),
  };
  Create("round", fields, {1},
         {IndexDef("ByName", {2}).Unique(), IndexDef("ByCount", {7}),
          IndexDef("ByTitle", {17}).CaseInsensitive(), IndexDef("ByStamp", {13, 7}).Descending()},
         {17, 4});

  Numbers numbers(2024);
  std::vector<Bytes> given(kRecords + 1);
  std::vector<Bytes> notes(kRecords + 1);
  std::vector<Bytes> extras(kRecords + 1);
  {
    TDataCursor cursor(*directory_, "round", CursorModes{.Exclusive = true});
    cursor.Open();
    for (std::int32_t r = 1; r <= kRecords; ++r) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      for (const FieldDescriptor& field : cursor.Fields()) {
        const std::uint16_t number = field.FieldNumber;
        if (number == 1 && numbers.Below(50) != 0) continue;  // mostly AutoInc values
        if (number == 1) {
          // An explicit value above every one given so far.
          strata::testing::Bytes value = strata::testing::Int32Bytes(100000 + r);
          cursor.SetField(record, 1, std::span<const std::uint8_t>(value));
          continue;
        }
        if (number != 2 && numbers.Below(7) == 0) {
          if (field.EngineType == kTypeBlob) continue;
          cursor.SetField(record, number, std::nullopt);
          continue;
        }
        if (field.EngineType == kTypeBlob) {
          const std::string text = Sentence(numbers, numbers.Below(number == 4 ? 200 : 20));
          Bytes bytes(text.begin(), text.end());
          cursor.SetBlobValue(record, number, bytes);
          (number == 4 ? notes : extras)[static_cast<std::size_t>(r)] = bytes;
          continue;
        }
        if (field.EngineType == kTypeString) {
          const std::string text =
              number == 2 ? "name " + std::to_string(r) : Sentence(numbers, 1 + numbers.Below(4));
          cursor.SetField(record, number,
                          std::span<const std::uint8_t>(
                              reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
          continue;
        }
        Bytes value(field.PhysicalSize);
        for (auto& byte : value) byte = static_cast<std::uint8_t>(numbers.Next());
        switch (field.EngineType) {
          case kTypeDate: StoreI32(value.data(), 700000 + numbers.Below(40000)); break;
          case kTypeTime: StoreI32(value.data(), numbers.Below(86400000)); break;
          case kTypeFloat:
            StoreF64(value.data(), numbers.Below(1000000) / 7.0 - 5000);
            break;
          case kTypeTimestamp:
            StoreF64(value.data(), 6.3e13 + numbers.Below(1000000) * 1000.0);
            break;
          case kTypeBcd: {
            WriteBcd(record, field, static_cast<Currency>(numbers.Below(2000000)) * 100 - 99999900);
            continue;
          }
          case kTypeInteger: StoreI32(value.data(), static_cast<std::int32_t>(numbers.Below(50))); break;
          default: break;
        }
        cursor.SetField(record, number, std::span<const std::uint8_t>(value));
      }
      given[static_cast<std::size_t>(r)] = record;
      cursor.InsertRecord(record);
      ASSERT_EQ(cursor.CurrentRecord(), r);
    }
  }

  TDataCursor cursor(*directory_, "round");
  cursor.Open();
  ASSERT_EQ(cursor.Table()->DataFile()->RecordCount(), kRecords);
  TableIndexWriter& indexes = cursor.Indexes();
  EXPECT_TRUE(indexes.CheckTrees().empty());
  for (int slot = 0; slot <= 4; ++slot) EXPECT_EQ(indexes.KeyCount(slot), kRecords) << slot;

  std::int64_t words = 0;
  std::int32_t lastAutoInc = 0;
  for (std::int32_t r = 1; r <= kRecords; ++r) {
    SCOPED_TRACE(r);
    Bytes record = cursor.NewRecordBuffer();
    ASSERT_TRUE(cursor.ReadRecord(r, record));
    const Bytes& expected = given[static_cast<std::size_t>(r)];
    for (const FieldDescriptor& field : cursor.Fields()) {
      if (field.EngineType == kTypeBlob || field.FieldNumber == 1) continue;
      ASSERT_EQ(cursor.GetField(record, field.FieldNumber),
                cursor.GetField(expected, field.FieldNumber))
          << field.Name;
    }
    const auto id = cursor.GetField(record, 1);
    ASSERT_TRUE(id);
    lastAutoInc = std::max(lastAutoInc, LoadI32(id->data()));
    EXPECT_EQ(LoadI32(record.data() + record_layout::kId), r);
    const Md5Digest hash = ComputeRecordHash(record, cursor.Fields());
    EXPECT_TRUE(std::equal(hash.begin(), hash.end(), record.begin() + record_layout::kHash));
    for (int slot = 0; slot <= 4; ++slot) {
      EXPECT_EQ(indexes.FindKey(slot, indexes.BuildKey(slot, record, r)), r) << slot;
    }
    for (const std::uint16_t number : {4, 18}) {
      const Bytes& value = (number == 4 ? notes : extras)[static_cast<std::size_t>(r)];
      EXPECT_EQ(cursor.OpenBlob(record, number), value.size());
      const auto stored = cursor.BlobValue(record, number);
      EXPECT_EQ(Bytes(stored.begin(), stored.end()), value);
      if (number == 4) {
        const std::string text(value.begin(), value.end());
        const TLocaleStringList list = indexes.WordsOf(cursor.Fields()[3], text);
        for (const std::string& word : list.Strings()) {
          EXPECT_EQ(indexes.FindWord(4, word, r), r) << word;
        }
        words += static_cast<std::int64_t>(list.Count());
      }
    }
    cursor.FreeBlobs();
    if (!FieldIsNull(record, cursor.Fields()[16])) {
      const TLocaleStringList list =
          indexes.WordsOf(cursor.Fields()[16], ReadString(record, cursor.Fields()[16]));
      for (const std::string& word : list.Strings()) {
        EXPECT_EQ(indexes.FindWord(17, word, r), r) << word;
      }
      words += static_cast<std::int64_t>(list.Count());
    }
  }
  EXPECT_EQ(indexes.KeyCount(31), words);
  EXPECT_EQ(cursor.Table()->DataFile()->LastAutoIncValue(), lastAutoInc);
  EXPECT_EQ(cursor.Table()->DataFile()->LastRecordID(), kRecords);
}

}  // namespace
}  // namespace strata
