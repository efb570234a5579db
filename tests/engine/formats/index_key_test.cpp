#include "engine/formats/index_key.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_key_layout.h"
#include "engine/formats/record_layout.h"
#include "engine/formats/record_values.h"
#include "engine/values/bcd.h"
#include "tests/engine/formats/index_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

std::vector<std::uint8_t> KeyOf(const IndexKeyLayout& layout, const std::vector<std::uint8_t>& record,
                                std::int32_t recordId) {
  std::vector<std::uint8_t> key(layout.KeyLength());
  layout.BuildKey(record, recordId, key);
  return key;
}

TEST(IndexKey, EncodesEachValueTypeSoThatByteOrderIsValueOrder) {
  struct Case {
    std::uint8_t type;
    std::uint16_t length;
    std::string value;  // the value bytes in the record, hex; empty: NULL
    std::string key;    // the whole key, hex
  };
  std::vector<std::uint8_t> bcd(kBcdSize);
  ASSERT_TRUE(CurrencyToBcd(15000, 2, std::span<std::uint8_t, kBcdSize>(bcd.data(), kBcdSize)));
  std::vector<std::uint8_t> negativeBcd(kBcdSize);
  ASSERT_TRUE(
      CurrencyToBcd(-15000, 2, std::span<std::uint8_t, kBcdSize>(negativeBcd.data(), kBcdSize)));
  auto hexOf = [](const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (auto b : bytes) {
      std::snprintf(pair, sizeof pair, "%02X ", b);
      text += pair;
    }
    return text;
  };
  const Case cases[] = {
      {kTypeInteger, 0, "FF FF FF FF", "01 7F FF FF FF"},
      {kTypeInteger, 0, "00 00 00 00", "01 80 00 00 00"},
      {kTypeInteger, 0, "01 00 00 00", "01 80 00 00 01"},
      {kTypeInteger, 0, "", "00 00 00 00 00"},
      {kTypeDate, 0, "5A 95 0A 00", "01 80 0A 95 5A"},
      {kTypeTime, 0, "00 00 00 80", "01 00 00 00 00"},
      {kTypeSmallint, 0, "FE FF", "01 7F FE"},
      {kTypeWord, 0, "CD AB", "01 AB CD"},
      {kTypeBoolean, 0, "01 00", "01 00 01"},
      {kTypeLargeint, 0, "FF FF FF FF FF FF FF FF", "01 7F FF FF FF FF FF FF FF"},
      {kTypeFloat, 0, "00 00 00 00 00 00 F0 BF", "01 40 0F FF FF FF FF FF FF"},  // -1.0
      {kTypeFloat, 0, "00 00 00 00 00 00 F0 3F", "01 BF F0 00 00 00 00 00 00"},  // 1.0
      {kTypeFloat, 0, "00 00 00 00 00 00 00 00", "01 80 00 00 00 00 00 00 00"},  // 0.0
      {kTypeFloat, 0, "00 00 00 00 00 00 00 80", "01 80 00 00 00 00 00 00 00"},  // -0.0
      {kTypeTimestamp, 0, "00 00 00 00 00 00 04 40", "01 C0 04 00 00 00 00 00 00"},  // 2.5
      {kTypeBcd, 0, hexOf(bcd), "01 80 00 00 00 00 00 3A 98"},                    // 1.5
      {kTypeBcd, 0, hexOf(negativeBcd), "01 7F FF FF FF FF FF C5 68"},            // -1.5
      {kTypeBytes, 3, "AA BB CC", "01 AA BB CC"},
      {kTypeString, 4, "61 62 00 00 00", "01 61 62 00 00 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.value);
    const auto fields = MakeFields({{"Value", c.type, c.length}});
    const auto layout = IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields, Collation());
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields), 0);
    const auto value = Hex(c.value);
    record[fields[0].FieldOffset] = value.empty() ? 0 : 1;
    std::copy(value.begin(), value.end(), record.begin() + ValueAt(fields[0]));
    EXPECT_EQ(KeyOf(layout, record, 1), Hex(c.key));
  }
}

TEST(IndexKey, BuildsCompositeKeysWithTheRecordIdSuffixOfNonUniqueIndexes) {
  const auto fields = MakeFields({{"Name", kTypeString, 10}, {"Count", kTypeInteger, 0}});
  std::vector<std::uint8_t> record(testing::RecordSizeOf(fields), 0);
  record[fields[0].FieldOffset] = 1;
  const std::size_t name = ValueAt(fields[0]);
  record[name] = 'a';
  record[name + 1] = 0xE9;  // é: upper-cased to É by the collation
  record[name + 2] = 'c';
  record[fields[1].FieldOffset] = 1;
  StoreI32(record.data() + ValueAt(fields[1]), 7);

  const auto unique = IndexKeyLayout::Make(IndexDef("", {1, 2}).Unique().CaseInsensitive(), fields,
                                           Collation());
  EXPECT_EQ(unique.KeyLength(), 17);
  EXPECT_EQ(KeyOf(unique, record, 42),
            Hex("01 41 C9 43 00 00 00 00 00 00 00 00 | 01 80 00 00 07"));

  const auto plain = IndexKeyLayout::Make(IndexDef("", {1, 2}), fields, Collation());
  EXPECT_EQ(plain.KeyLength(), 21);
  EXPECT_EQ(KeyOf(plain, record, 42),
            Hex("01 61 E9 63 00 00 00 00 00 00 00 00 | 01 80 00 00 07 | 80 00 00 2A"));

  // The system fields: RecordID from the argument, RecordHash as stored.
  const auto hash = record.begin() + record_layout::kHash;
  std::fill(hash, hash + record_layout::kHashSize, 0x5A);
  const auto system = IndexKeyLayout::Make(
      IndexDef("", {kRecordIdFieldNumber, kRecordHashFieldNumber}).Unique(), fields, Collation());
  EXPECT_EQ(system.KeyLength(), 5 + 17);
  EXPECT_EQ(KeyOf(system, record, 42),
            Hex("01 80 00 00 2A | 01 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A"));
}

TEST(IndexKey, RefusesBlobKeyFieldsExceptMemosOfTheFullTextIndex) {
  const auto fields = MakeFields({{"Photo", kTypeBlob, kSubTypeGraphic},
                                  {"Notes", kTypeBlob, kSubTypeMemo}});
  for (std::uint16_t number : {1, 2, 9}) {
    EXPECT_EQ(CodeOf([&] {
                IndexKeyLayout::Make(IndexDef("ByPhoto", {number}).Unique(), fields, Collation(),
                                     "people");
              }),
              STRATA_SEARCHCOLREQD);
  }
  IndexDescriptor text = TIndexFile::EmptyTextDescriptor();
  text.FieldCount = 1;
  text.FieldNumbers[0] = 2;
  EXPECT_EQ(IndexKeyLayout::Make(text, fields, Collation()).KeyLength(), kFullTextKeyLength);
}

class KeyOrder : public ::testing::Test {
 protected:
  // Keys of one string field and one integer field.
  std::vector<std::uint8_t> Key(const IndexKeyLayout& layout, const char* name,
                                std::int32_t recordId) {
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields_), 0);
    if (name != nullptr) {
      record[fields_[0].FieldOffset] = 1;
      std::copy(name, name + std::strlen(name), record.begin() + ValueAt(fields_[0]));
    }
    return KeyOf(layout, record, recordId);
  }
  int Compare(const IndexKeyLayout& layout, const std::vector<std::uint8_t>& a,
              const std::vector<std::uint8_t>& b, std::size_t n = 0) {
    return layout.CompareKeys(a.data(), b.data(), n == 0 ? layout.KeyLength() : n);
  }
  std::vector<FieldDescriptor> fields_ = MakeFields({{"Name", kTypeString, 10}});
};

TEST_F(KeyOrder, NullSortsFirstAscendingAndLastDescending) {
  for (std::uint32_t locale : {0u, 2057u}) {
    if (!LocaleAvailable(locale)) continue;
    const auto asc =
        IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields_, Collation::For(locale));
    const auto desc = IndexKeyLayout::Make(IndexDef("", {1}).Unique().DescendingKeys({true}),
                                           fields_, Collation::For(locale));
    EXPECT_LT(Compare(asc, Key(asc, nullptr, 1), Key(asc, "a", 1)), 0) << locale;
    EXPECT_GT(Compare(desc, Key(desc, nullptr, 1), Key(desc, "a", 1)), 0) << locale;
    EXPECT_GT(Compare(desc, Key(desc, "a", 1), Key(desc, "b", 1)), 0) << locale;
  }
}

TEST_F(KeyOrder, EqualValuesOfANonUniqueIndexOrderByRecordId) {
  const auto layout =
      IndexKeyLayout::Make(IndexDef("", {1}).DescendingKeys({true}), fields_, Collation());
  // The suffix sorts ascending even when the field descends.
  EXPECT_LT(Compare(layout, Key(layout, "same", 2), Key(layout, "same", 300)), 0);
  EXPECT_GT(Compare(layout, Key(layout, "same", 2), Key(layout, "samf", 1)), 0);
  // A prefix length compares only what it covers.
  EXPECT_EQ(Compare(layout, Key(layout, "same", 2), Key(layout, "same", 300), 12), 0);
  EXPECT_EQ(Compare(layout, Key(layout, "sama", 2), Key(layout, "samz", 300), 4), 0);
}

TEST_F(KeyOrder, StringsFollowTheTableCollation) {
  const auto bytes = IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields_, Collation());
  EXPECT_LT(Compare(bytes, Key(bytes, "Zebra", 1), Key(bytes, "apple", 1)), 0);
  const auto upper =
      IndexKeyLayout::Make(IndexDef("", {1}).Unique().CaseInsensitive(), fields_, Collation());
  EXPECT_GT(Compare(upper, Key(upper, "Zebra", 1), Key(upper, "apple", 1)), 0);
  if (!LocaleAvailable(2057)) GTEST_SKIP() << "no collation for 2057";
  const auto uk = IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields_, Collation::For(2057));
  EXPECT_GT(Compare(uk, Key(uk, "Zebra", 1), Key(uk, "apple", 1)), 0);
  EXPECT_EQ(Compare(uk, Key(uk, "r\xE9sum\xE9", 1), Key(uk, "resume", 1)), 0);
}

TEST(IndexKey, WideStringsKeyAndCompareTheirCodeUnits) {
  auto fields = MakeFields({{"Name", kTypeString, 4}});
  fields[0].SubType = kSubTypeWideString;
  fields[0].PhysicalSize = PhysicalSizeOf(kTypeString, kSubTypeWideString, 4);
  const auto key = [&](const IndexKeyLayout& layout, std::u16string_view text) {
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields), 0);
    WriteWideString(record, fields[0], text, Collation());
    return KeyOf(layout, record, 1);
  };
  const auto upper =
      IndexKeyLayout::Make(IndexDef("", {1}).Unique().CaseInsensitive(), fields, Collation());
  EXPECT_EQ(key(upper, u"ab\u00E9"), Hex("01 41 00 42 00 C9 00 00 00 00"));

  for (std::uint32_t locale : {0u, 2057u}) {
    if (!LocaleAvailable(locale)) continue;
    SCOPED_TRACE(locale);
    const auto layout =
        IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields, Collation::For(locale));
    const auto compare = [&](std::u16string_view a, std::u16string_view b) {
      return layout.CompareKeys(key(layout, a).data(), key(layout, b).data(), layout.KeyLength());
    };
    // Characters after the first one count, although their high bytes are 0.
    EXPECT_LT(compare(u"AB", u"AC"), 0);
    EXPECT_GT(compare(u"ABC", u"AB"), 0);
    EXPECT_NE(compare(u"\u0141x", u"\u0142x"), 0);
  }
  if (!LocaleAvailable(2057)) GTEST_SKIP() << "no collation for 2057";
  const auto uk = IndexKeyLayout::Make(IndexDef("", {1}).Unique(), fields, Collation::For(2057));
  const auto a = key(uk, u"r\u00E9s");
  const auto b = key(uk, u"res");
  EXPECT_EQ(uk.CompareKeys(a.data(), b.data(), uk.KeyLength()), 0);
  EXPECT_GT(uk.CompareKeys(key(uk, u"Zeb").data(), key(uk, u"app").data(), uk.KeyLength()), 0);
}

TEST(IndexKey, BuildsFullTextKeys) {
  std::array<std::uint8_t, kFullTextKeyLength> key{};
  BuildTextKey(3, "Hello", 5, Collation(), key);
  std::vector<std::uint8_t> expected(kFullTextKeyLength, 0);
  const auto head = Hex("01 00 03 48 45 4C 4C 4F");
  std::copy(head.begin(), head.end(), expected.begin());
  const auto tail = Hex("80 00 00 05");
  using index_key_layout::kTextRecordId;
  std::copy(tail.begin(), tail.end(), expected.begin() + kTextRecordId);
  EXPECT_EQ(std::vector<std::uint8_t>(key.begin(), key.end()), expected);

  BuildTextKey(0x0102, std::string(70, 'w'), -1, Collation(), key);
  EXPECT_EQ(key[index_key_layout::kTextFieldNumber], 0x01);
  EXPECT_EQ(key[index_key_layout::kTextFieldNumber + 1], 0x02);
  EXPECT_EQ(key[kTextRecordId - 1], 'W');  // 61 characters, the rest cut
  EXPECT_EQ(std::vector<std::uint8_t>(key.begin() + kTextRecordId, key.end()),
            Hex("7F FF FF FF"));
}

}  // namespace
}  // namespace strata
