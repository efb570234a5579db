#include "engine/formats/index_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_tree_check.h"
#include "tests/engine/formats/index_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomKeys = 10000;
#else
constexpr int kRandomKeys = 20000;
#endif

class IndexTreeTest : public testing::IndexFileTest {
 protected:
  // Slot 1 indexes field 1 of fields_.
  TIndexTree& Define(const IndexDescriptor& index, std::uint32_t locale = 0,
                     std::int32_t pageSize = 1024) {
    Create(pageSize);
    file_->DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), fields_);
    file_->AddSecondaryIndex(index, fields_);
    layout_ = IndexKeyLayout::Make(file_->Descriptor(1), fields_, Collation::For(locale));
    return Tree();
  }
  TIndexTree& Tree() {
    tree_ = std::make_unique<TIndexTree>(*file_, 1, layout_);
    return *tree_;
  }
  std::vector<std::uint8_t> StringKey(const std::string* value, std::int32_t recordId) {
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields_), 0);
    if (value != nullptr && !value->empty()) {
      record[fields_[0].FieldOffset] = 1;
      std::memcpy(record.data() + testing::ValueAt(fields_[0]), value->data(), value->size());
    }
    std::vector<std::uint8_t> key(layout_.KeyLength());
    layout_.BuildKey(record, recordId, key);
    return key;
  }
  std::vector<std::uint8_t> IntKey(std::int32_t value, std::int32_t recordId) {
    std::vector<std::uint8_t> record(testing::RecordSizeOf(fields_), 0);
    record[fields_[0].FieldOffset] = 1;
    StoreI32(record.data() + testing::ValueAt(fields_[0]), value);
    std::vector<std::uint8_t> key(layout_.KeyLength());
    layout_.BuildKey(record, recordId, key);
    return key;
  }
  // Every invariant of slot 1's tree and of the free chain.
  void ExpectSound(const char* phase) {
    std::vector<bool> inUse;
    auto problems = CheckIndexTree(*file_, 1, layout_, inUse);
    const auto free = CheckFreeChain(*file_, inUse);
    problems.insert(problems.end(), free.begin(), free.end());
    if (problems.size() > 5) problems.resize(5);
    EXPECT_TRUE(problems.empty()) << phase << ": " << ::testing::PrintToString(problems);
  }
  int FreeChainLength() {
    int n = 0;
    for (std::int32_t page = file_->FirstFreePage(); page != 0; ++n) {
      BufferPin pin;
      page = file_->FetchPage(nullptr, page, PageFormat{}, pin).NextPage();
    }
    return n;
  }

  std::vector<FieldDescriptor> fields_ = MakeFields({{"Value", kTypeString, 20}});
  IndexKeyLayout layout_;
  std::unique_ptr<TIndexTree> tree_;
};

struct RandomCase {
  const char* name;
  bool unique;
  bool strings;
  std::uint8_t compression;
  bool descending;
  bool caseInsensitive;
  std::uint32_t locale;
  std::int32_t pageSize;
};

// A text of letters of both cases for a number, most significant first so
// that neighbours share prefixes; different numbers give different texts.
std::string TextOf(int n) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string text(static_cast<std::size_t>(n % 4), '0');
  do {
    text.insert(text.begin(), letters[n % 52]);
    n /= 52;
  } while (n > 0);
  return text;
}

class RandomTree : public IndexTreeTest, public ::testing::WithParamInterface<RandomCase> {};

TEST_P(RandomTree, KeepsEveryInvariantThroughInsertsAndDeletes) {
  const RandomCase c = GetParam();
  if (!LocaleAvailable(c.locale)) GTEST_SKIP() << "no collation for " << c.locale;
  if (!c.strings) fields_ = MakeFields({{"Value", kTypeInteger, 0}});
  Define(IndexDef("ByValue", {1})
             .Unique(c.unique)
             .Compression(c.compression)
             .DescendingKeys({c.descending})
             .CaseInsensitive(c.caseInsensitive),
         c.locale, c.pageSize);
  const int n = kRandomKeys;
  std::mt19937 random(12345);
  std::vector<int> values(n);
  std::vector<std::string> texts(n);
  for (int i = 0; i < n; ++i) {
    values[i] = c.unique ? i * 3 - n : static_cast<int>(random() % (n / 8)) - n / 16;
    texts[i] = c.unique ? TextOf(i) : (i % 50 == 0 ? std::string() : TextOf(values[i] + n));
  }
  auto key = [&](int i) {
    return c.strings ? StringKey(&texts[i], i + 1) : IntKey(values[i], i + 1);
  };
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), random);

  for (int i : order) Tree().Insert(key(i), 1000 + i);
  ExpectSound("after inserting");
  Reopen();
  ExpectSound("read back");
  EXPECT_EQ(Tree().KeyTotal(), n);

  std::shuffle(order.begin(), order.end(), random);
  const int half = n / 2;
  for (int j = 0; j < half; ++j) Tree().Delete(key(order[j]));
  ExpectSound("after deleting half");
  EXPECT_EQ(Tree().KeyTotal(), n - half);
  EXPECT_EQ(Tree().Find(key(order[0])), std::nullopt);
  EXPECT_EQ(Tree().Find(key(order[n - 1])), 1000 + order[n - 1]);

  for (int j = 0; j < half / 2; ++j) Tree().Insert(key(order[j]), 1000 + order[j]);
  ExpectSound("after inserting a quarter again");
  Reopen();
  for (int j = half / 2; j < n; ++j) {
    if (j >= half) Tree().Delete(key(order[j]));
  }
  for (int j = 0; j < half / 2; ++j) Tree().Delete(key(order[j]));
  ExpectSound("after deleting everything");
  EXPECT_EQ(file_->RootPage(1), 0);
  EXPECT_EQ(FreeChainLength(), file_->UnitCount()) << "every page is free again";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RandomTree,
    ::testing::Values(RandomCase{"UniqueIntPlain", true, false, 0, false, false, 0, 1024},
                      RandomCase{"IntDuplicatesBoth", false, false, 3, false, false, 0, 4096},
                      RandomCase{"UniqueIntDescendingTrail", true, false, 2, true, false, 0, 4096},
                      RandomCase{"IntDuplicatesDup", false, false, 1, false, false, 0, 1024},
                      RandomCase{"UniqueTextDupUk", true, true, 1, true, false, 2057, 1024},
                      RandomCase{"TextDuplicatesUpperTrail", false, true, 2, false, true, 0, 1024},
                      RandomCase{"TextDuplicatesBothUk", false, true, 3, false, false, 2057, 4096},
                      RandomCase{"UniqueTextBoth", true, true, 3, false, false, 0, 1024}),
    [](const ::testing::TestParamInfo<RandomCase>& info) { return std::string(info.param.name); });

// Wide keys: six to a page, so a few keys build a deep tree.
class WideKeyTree : public IndexTreeTest {
 protected:
  void SetUp() override {
    IndexTreeTest::SetUp();
    fields_ = MakeFields({{"Value", kTypeString, 148}});  // K = 150
    Define(IndexDef("ByValue", {1}).Unique());
  }
  std::vector<std::uint8_t> Key(const std::string& text) { return StringKey(&text, 1); }
  TPage& Page(std::int32_t number, BufferPin& pin) {
    return file_->FetchPage(nullptr, number, tree_->Format(), pin);
  }
};

TEST_F(WideKeyTree, SplitsSevenEntriesFourToThreeAndCopiesANewSmallestKeyUp) {
  for (int i = 0; i < 7; ++i) Tree().Insert(Key("B" + std::to_string(i)), i + 1);
  BufferPin rootPin;
  TPage& root = Page(file_->RootPage(1), rootPin);
  ASSERT_EQ(root.PageType(), kPageRootNode);
  ASSERT_EQ(root.EntryCount(), 2);
  BufferPin leftPin;
  BufferPin rightPin;
  EXPECT_EQ(Page(root.Pointer(0), leftPin).EntryCount(), 4);
  EXPECT_EQ(Page(root.Pointer(1), rightPin).EntryCount(), 3);
  EXPECT_EQ(root.KeyCount(0), 4);
  EXPECT_EQ(root.KeyCount(1), 3);
  rootPin.Release();
  leftPin.Release();
  rightPin.Release();

  for (int i = 7; i < 60; ++i) Tree().Insert(Key("B" + std::to_string(i)), i + 1);
  Tree().Insert(Key("A"), 100);
  ExpectSound("after the smallest key");
  // Every node on the leftmost path starts with the new key.
  std::int32_t number = file_->RootPage(1);
  int depth = 0;
  for (;; ++depth) {
    BufferPin pin;
    TPage& page = Page(number, pin);
    EXPECT_EQ(std::vector<std::uint8_t>(page.Key(0).begin(), page.Key(0).end()), Key("A"));
    if (page.IsLeaf()) break;
    number = page.Pointer(0);
  }
  EXPECT_GE(depth, 2);
}

TEST_F(WideKeyTree, DeletingDownToOneChildMakesItTheRoot) {
  for (int i = 0; i < 7; ++i) Tree().Insert(Key("B" + std::to_string(i)), i + 1);
  std::int32_t left = 0;
  {
    BufferPin pin;
    left = Page(file_->RootPage(1), pin).Pointer(0);
  }
  for (int i = 4; i < 7; ++i) Tree().Delete(Key("B" + std::to_string(i)));
  EXPECT_EQ(file_->RootPage(1), left);
  BufferPin pin;
  TPage& root = Page(left, pin);
  EXPECT_EQ(root.PageType(), kPageRootLeaf);
  EXPECT_EQ(root.PrevPage(), 0);
  EXPECT_EQ(root.NextPage(), 0);
  pin.Release();
  ExpectSound("after the collapse");
  EXPECT_EQ(CodeOf([&] { Tree().Delete(Key("B5")); }), STRATA_INDEXCORRUPT);
}

TEST_F(WideKeyTree, DuplicateKeysOfAUniqueIndexAreReportedWithTheIndexName) {
  Tree().Insert(Key("Smith"), 1);
  std::string message;
  EXPECT_EQ(CodeOf([&] { Tree().CheckUnique(Key("Smith")); }, &message), STRATA_KEYVIOL);
  EXPECT_NE(message.find("'ByValue' of the table 'people'"), std::string::npos) << message;
  Tree().CheckUnique(Key("Smyth"));

  layout_ = IndexKeyLayout::Make(file_->Descriptor(0), fields_, Collation());
  TIndexTree primary(*file_, 0, layout_);
  std::vector<std::uint8_t> key(5);
  layout_.BuildKey({}, 7, key);
  primary.Insert(key, 1);
  EXPECT_EQ(CodeOf([&] { primary.CheckUnique(key); }, &message), STRATA_KEYVIOL);
  EXPECT_NE(message.find("'Primary'"), std::string::npos) << message;
}

TEST_F(WideKeyTree, DeletingAnIndexFreesEveryPage) {
  for (int i = 0; i < 60; ++i) Tree().Insert(Key("B" + std::to_string(i)), i + 1);
  const std::int32_t pages = file_->UnitCount();
  Tree().DeleteAllPages();
  EXPECT_EQ(file_->RootPage(1), 0);
  EXPECT_EQ(FreeChainLength(), pages);
  // The freed pages are used again before the file grows.
  for (int i = 0; i < 60; ++i) Tree().Insert(Key("C" + std::to_string(i)), i + 1);
  EXPECT_EQ(file_->UnitCount(), pages);
  ExpectSound("rebuilt from freed pages");
}

}  // namespace
}  // namespace strata
