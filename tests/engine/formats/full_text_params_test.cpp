#include "engine/formats/full_text_params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_page_layout.h"
#include "tests/engine/formats/index_test_support.h"

namespace strata {
namespace {

using testing::CodeOf;
using testing::Hex;

class FullTextParamsTest : public testing::IndexFileTest {};

using index_page_layout::kNextPage;
using index_page_layout::kPageType;
// The parameter stream starts right after the page header.
constexpr std::size_t kStream = kPageHeaderSize;

void PutInt(std::vector<std::uint8_t>& out, std::int32_t value) {
  std::uint8_t bytes[4];
  StoreI32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

TEST_F(FullTextParamsTest, WritesTheDefaultsIntoOneParameterPage) {
  Create();
  EXPECT_EQ(ReadFullTextParams(*file_), FullTextParams::Defaults());  // no chain yet
  WriteFullTextParams(*file_, FullTextParams::Defaults());
  EXPECT_EQ(file_->AuxPage(31), 1);
  Flush();

  std::vector<std::uint8_t> payload;
  PutInt(payload, 22);
  for (const char* word : {"A", "AN", "AND", "BE", "FOR", "HOW", "IN", "IS", "IT", "OF", "ON",
                           "OR", "THAT", "THE", "THIS", "TO", "WAS", "WHAT", "WHEN", "WHICH",
                           "WHY", "WILL"}) {
    PutInt(payload, static_cast<std::int32_t>(std::strlen(word)));
    payload.insert(payload.end(), word, word + std::strlen(word));
  }
  PutInt(payload, 32);
  const auto spaces = Hex("FE FF FF FF 01 FC 00 7C 00 00 00 10 01 00 00 00"
                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  payload.insert(payload.end(), spaces.begin(), spaces.end());
  PutInt(payload, 32);
  const auto includes = Hex("00 00 00 00 00 00 FF 03 FE FF FF 87 FE FF FF 07"
                            "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 7F");
  payload.insert(payload.end(), includes.begin(), includes.end());
  ASSERT_EQ(payload.size(), 226u);

  std::vector<std::uint8_t> expected(1024, 0);
  expected[kPageType] = kPageFullTextParams;
  std::copy(payload.begin(), payload.end(), expected.begin() + kStream);
  EXPECT_EQ(PageBytes(1), expected);

  Reopen();
  EXPECT_EQ(ReadFullTextParams(*file_), FullTextParams::Defaults());
}

TEST_F(FullTextParamsTest, StartsAValueThatDoesNotFitOnTheNextPage) {
  Create();
  FullTextParams params = FullTextParams::Defaults();
  params.StopWords = {std::string(600, 'a'), std::string(600, 'b'), std::string(2000, 'c'), ""};
  WriteFullTextParams(*file_, params);
  Flush();
  // Page 1: count, length, 600 a, length; page 2: 600 b, length; page 3:
  // 1011 c (cut to the payload); page 4: the empty word and the two sets.
  const auto first = PageBytes(1);
  EXPECT_EQ(testing::I32At(first, kNextPage), 2);
  EXPECT_EQ(testing::I32At(first, kStream + 608), 600);
  EXPECT_EQ(first[kStream + 612], 0) << "the rest of the page is unused";
  EXPECT_EQ(PageBytes(2)[kStream], 'b');
  EXPECT_EQ(testing::I32At(PageBytes(2), kStream + 600), 1011);
  EXPECT_EQ(PageBytes(3)[kStream + 1010], 'c');
  EXPECT_EQ(testing::I32At(PageBytes(4), kStream), 0);
  EXPECT_EQ(testing::I32At(PageBytes(4), kNextPage), 0);

  Reopen();
  params.StopWords[2].resize(1011);
  EXPECT_EQ(ReadFullTextParams(*file_), params);

  // A shorter stream reuses the first page and frees the rest.
  WriteFullTextParams(*file_, FullTextParams::Defaults());
  EXPECT_EQ(file_->AuxPage(31), 1);
  EXPECT_NE(file_->FirstFreePage(), 0);
  Reopen();
  EXPECT_EQ(ReadFullTextParams(*file_), FullTextParams::Defaults());
  EXPECT_EQ(testing::I32At(PageBytes(1), kNextPage), 0);
}

TEST_F(FullTextParamsTest, BrokenChainsRaiseIndexCorrupt) {
  const Damage cases[] = {
      {"next page outside the file", kNextPage, "09 00 00 00"},
      {"chain ends early", 1024 + kNextPage, "00 00 00 00"},
      {"next page of another type", 1024 + kPageType, "02"},
      {"word longer than a page", kStream + 4, "00 10 00 00"},
      {"negative word count", kStream, "FF FF FF FF"},
      {"set of another size", 3 * 1024 + kStream, "21"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    Create();
    FullTextParams params = FullTextParams::Defaults();
    params.StopWords = {std::string(600, 'a'), std::string(600, 'b'), std::string(1011, 'c')};
    WriteFullTextParams(*file_, params);
    Reopen();
    DamageAndReopen(c);
    EXPECT_EQ(CodeOf([&] { ReadFullTextParams(*file_); }), STRATA_INDEXCORRUPT);
  }
}

}  // namespace
}  // namespace strata
