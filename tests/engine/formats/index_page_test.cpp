#include "engine/formats/index_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_tree.h"
#include "tests/engine/formats/index_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;
using index_page_layout::kDupCountSize;
using index_page_layout::kEntryCount;
using index_page_layout::kPageType;
using index_page_layout::kUsedBytes;

class IndexPageTest : public testing::IndexFileTest {
 protected:
  // Index slot 1 over a 7-character name; keys inserted in slot 1's tree.
  TIndexTree& Define(bool unique, std::uint8_t compression, std::int32_t pageSize = 1024) {
    Create(pageSize);
    file_->DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), fields_);
    file_->AddSecondaryIndex(IndexDef("ByName", {1}).Unique(unique).Compression(compression),
                             fields_);
    layout_ = IndexKeyLayout::Make(file_->Descriptor(1), fields_, Collation());
    tree_ = std::make_unique<TIndexTree>(*file_, 1, layout_);
    return *tree_;
  }
  std::vector<std::uint8_t> Key(const char* name, std::int32_t recordId) {
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields_), 0);
    record[fields_[0].FieldOffset] = 1;
    std::memcpy(record.data() + testing::ValueAt(fields_[0]), name, std::strlen(name));
    std::vector<std::uint8_t> key(layout_.KeyLength());
    layout_.BuildKey(record, recordId, key);
    return key;
  }

  std::vector<FieldDescriptor> fields_ = MakeFields({{"Name", kTypeString, 7}});
  IndexKeyLayout layout_;
  std::unique_ptr<TIndexTree> tree_;
};

// Keys ABC (RecordID 1, record 10), ABCDE (2, 11), ABD (3, 12) and, in the
// non-unique index, ABD again (4, 13), packed by hand.
TEST_F(IndexPageTest, PacksLeavesOfEachCompressionKind) {
  struct Case {
    bool unique;
    std::uint8_t compression;
    std::uint16_t usedBytes;
    std::string payload;
  };
  const Case cases[] = {
      {true, 0, 0,
       "01 41 42 43 00 00 00 00 00 0A000000 | 01 41 42 43 44 45 00 00 00 0B000000 |"
       "01 41 42 44 00 00 00 00 00 0C000000"},
      {true, 1, 35,
       "00 01 41 42 43 00 00 00 00 00 0A000000 | 04 44 45 00 00 00 0B000000 |"
       "03 44 00 00 00 00 00 0C000000"},
      {true, 2, 29,
       "05 01 41 42 43 0A000000 | 03 01 41 42 43 44 45 0B000000 | 05 01 41 42 44 0C000000"},
      {true, 3, 25, "00 05 01 41 42 43 0A000000 | 04 03 44 45 0B000000 | 03 05 44 0C000000"},
      {false, 0, 0,
       "01 41 42 43 00 00 00 00 00 80000001 0A000000 | 01 41 42 43 44 45 00 00 00 80000002 0B000000 |"
       "01 41 42 44 00 00 00 00 00 80000003 0C000000 | 01 41 42 44 00 00 00 00 00 80000004 0D000000"},
      {false, 1, 18 + 14 + 15 + 6,
       "00 01 41 42 43 00 00 00 00 00 80000001 0A000000 | 04 44 45 00 00 00 80000002 0B000000 |"
       "03 44 00 00 00 00 00 80000003 0C000000 | 0C 04 0D000000"},
      {false, 2, 13 + 15 + 13 + 13,
       "05 01 41 42 43 80000001 0A000000 | 03 01 41 42 43 44 45 80000002 0B000000 |"
       "05 01 41 42 44 80000003 0C000000 | 05 01 41 42 44 80000004 0D000000"},
      {false, 3, 14 + 12 + 11 + 7,
       "00 05 01 41 42 43 80000001 0A000000 | 04 03 44 45 80000002 0B000000 |"
       "03 05 44 80000003 0C000000 | 0C 00 04 0D000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.unique ? "unique" : "non-unique") + " compression " +
                 std::to_string(c.compression));
    TIndexTree& tree = Define(c.unique, c.compression);
    // Inserted out of order: the page holds them sorted.
    tree.Insert(Key("ABD", 3), 12);
    tree.Insert(Key("ABC", 1), 10);
    if (!c.unique) tree.Insert(Key("ABD", 4), 13);
    tree.Insert(Key("ABCDE", 2), 11);
    Flush();
    const auto page = PageBytes(file_->RootPage(1));
    const auto payload = Hex(c.payload);
    const int entries = c.unique ? 3 : 4;
    std::vector<std::uint8_t> expected(1024, 0);
    expected[kPageType] = kPageRootLeaf;
    StoreU16(expected.data() + kEntryCount, static_cast<std::uint16_t>(entries));
    StoreU16(expected.data() + kUsedBytes, c.usedBytes);
    std::copy(payload.begin(), payload.end(), expected.begin() + kPageHeaderSize);
    EXPECT_EQ(page, expected);

    // Read back from the file, the page expands to the same keys.
    Reopen();
    TIndexTree again(*file_, 1, layout_);
    EXPECT_EQ(again.Find(Key("ABCDE", 2)), 11);
    EXPECT_EQ(again.Find(Key("ABD", 3)), 12);
    EXPECT_EQ(again.Find(Key("ABE", 9)), std::nullopt);
    again.Delete(Key("ABC", 1));  // the next entry becomes the first of the page
    Flush();
    const auto after = PageBytes(file_->RootPage(1));
    if (c.compression & 1) {
      EXPECT_EQ(after[kPageHeaderSize], 0) << "DupCount of the new first";
    }
  }
}

TEST_F(IndexPageTest, CapacityFollowsThePageSize) {
  Define(false, 0, 4096);
  // A one-integer non-unique key (K = 9) fits 240 per node and 314 per
  // uncompressed leaf.
  BufferPin pin;
  PageFormat format{9, false, false, 0};
  TPage& node = file_->AllocatePage(nullptr, format, kPageNode, pin);
  EXPECT_EQ(node.Capacity(), 240);
  node.SetPageType(kPageLeaf);
  EXPECT_EQ(node.Capacity(), 314);
  EXPECT_EQ(file_->PayloadSize(), 4083);
  // Keys longer than P / 3 are refused.
  const auto wide = MakeFields({{"Wide", kTypeString, 1359}, {"Wider", kTypeString, 1360}});
  EXPECT_EQ(file_->AddSecondaryIndex(IndexDef("Fits", {1}).Unique(), wide), 2);
  EXPECT_EQ(CodeOf([&] { file_->AddSecondaryIndex(IndexDef("TooWide", {2}).Unique(), wide); }),
            STRATA_INVALIDKEY);
}

// Damaged pages are reported, never read out of bounds.
TEST_F(IndexPageTest, DamagedPagesRaiseIndexCorrupt) {
  // Offsets inside the root page.
  const Damage cases[] = {
      {"entry count past the payload", kEntryCount, "FF 7F"},
      {"entry count past capacity", kEntryCount, "00 03"},
      // The first entry (N0) packs into 13 bytes; these hit the second.
      {"DupCount past the key", kPageHeaderSize + 13, "FF"},
      {"TrailCount past the key", kPageHeaderSize + 13 + kDupCountSize, "F0"},
      {"UsedBytes disagreeing", kUsedBytes, "01 00"},
      {"unknown page type", kPageType, "07"},
      {"root of the wrong type", kPageType, "01"},
      {"empty root", kEntryCount, "00 00"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TIndexTree& tree = Define(false, 3);
    for (int i = 0; i < 40; ++i) tree.Insert(Key(("N" + std::to_string(i)).c_str(), i + 1), i + 1);
    const std::int32_t root = file_->RootPage(1);
    Reopen();
    const auto page = PageBytes(root);
    ASSERT_EQ(page[kPageType], kPageRootLeaf);
    DamageAndReopen({c.what, (root - 1) * 1024 + c.offset, c.bytes});
    TIndexTree damaged(*file_, 1, layout_);
    EXPECT_EQ(CodeOf([&] {
                damaged.Insert(Key("N0", 1000), 1000);
                damaged.Delete(Key("N5", 6));
              }),
              STRATA_INDEXCORRUPT);
  }
}

TEST_F(IndexPageTest, PageNumbersOutsideTheFileRaiseIndexCorrupt) {
  TIndexTree& tree = Define(true, 0);
  for (int i = 0; i < 200; ++i) tree.Insert(Key(("N" + std::to_string(i)).c_str(), i + 1), i + 1);
  file_->SetRootPage(1, file_->UnitCount() + 1);
  EXPECT_EQ(CodeOf([&] { tree.Find(Key("N1", 2)); }), STRATA_INDEXCORRUPT);
  file_->SetRootPage(1, 0);
  file_->SetFirstFreePage(-3);
  EXPECT_EQ(CodeOf([&] { tree.Insert(Key("A", 1), 1); }), STRATA_INDEXCORRUPT);
}

}  // namespace
}  // namespace strata
