#include "engine/locale/locale_string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace strata {
namespace {

enum class Method { kFind, kPrefix, kWildcard };

struct FindCase {
  Method method;
  const char* text;
  std::size_t length;
  bool found;
  std::size_t index;
};

TEST(LocaleStringListTest, FindPrefixAndWildcard) {
  TLocaleStringList list(2057);
  for (const char* word : {"the", "and", "THE", "of", "a", "pre*", "Of"}) list.Add(word);
  // Case is ignored, so "THE" and "Of" were duplicates; "pre*" sorts before
  // "prefix" because punctuation comes before letters.
  ASSERT_EQ(list.Strings(), (std::vector<std::string>{"a", "and", "of", "pre*", "the"}));

  const FindCase cases[] = {
      {Method::kFind, "THE", 0, true, 4},
      {Method::kFind, "an", 0, false, 1},
      {Method::kFind, "", 0, false, 0},
      {Method::kFind, "zzz", 0, false, 5},
      {Method::kFind, "prefix", 0, false, 4},
      {Method::kFind, "\xC1nd", 0, true, 1},  // accents ignored
      {Method::kPrefix, "Theory", 3, true, 4},
      {Method::kPrefix, "anders", 3, true, 1},
      {Method::kPrefix, "ofx", 3, false, 3},
      {Method::kPrefix, "anything", 0, true, 2},
      {Method::kWildcard, "prefix", 0, true, 3},
      {Method::kWildcard, "PRE", 0, true, 3},
      {Method::kWildcard, "pr", 0, false, 3},
      {Method::kWildcard, "the", 0, true, 4},
      {Method::kWildcard, "then", 0, false, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.method) << " '" << c.text << "'");
    const auto result = c.method == Method::kFind     ? list.Find(c.text)
                        : c.method == Method::kPrefix ? list.FindPrefix(c.text, c.length)
                                                      : list.FindWildcard(c.text);
    EXPECT_EQ(result.Found, c.found);
    EXPECT_EQ(result.Index, c.index);
  }
}

TEST(LocaleStringListTest, WildcardBehindOtherEntries) {
  TLocaleStringList list(2057);
  for (const char* word : {"therapy", "ther*", "thermal", "zoo"}) list.Add(word);
  ASSERT_EQ(list[0], "ther*");
  const auto hit = list.FindWildcard("There");
  EXPECT_TRUE(hit.Found);
  EXPECT_EQ(hit.Index, 0u);
  const auto miss = list.FindWildcard("thesis");
  EXPECT_FALSE(miss.Found);
  EXPECT_EQ(miss.Index, 3u);

  list.Delete(0);
  EXPECT_FALSE(list.FindWildcard("there").Found);
  list.Add("*");
  EXPECT_TRUE(list.FindWildcard("anything").Found);
  EXPECT_FALSE(list.Find("anything").Found);
}

TEST(LocaleStringListTest, AnsiListIgnoresCase) {
  TLocaleStringList list(0);
  list.Add("Zebra");
  list.Add("apple");
  EXPECT_EQ(list.Strings(), (std::vector<std::string>{"apple", "Zebra"}));
  EXPECT_TRUE(list.Find("ZEBRA").Found);
}

TEST(LocaleStringListTest, Duplicates) {
  const std::vector<std::string> words = {"b", "B", "a", "b", "c"};

  TLocaleStringList ignore(2057, TDuplicates::dupIgnore);
  for (const auto& w : words) ignore.Add(w);
  EXPECT_EQ(ignore.Strings(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ignore.Add("B"), 1u);
  EXPECT_EQ(ignore.Count(), 3u);

  TLocaleStringList accept(2057, TDuplicates::dupAccept);
  for (const auto& w : words) accept.Add(w);
  ASSERT_EQ(accept.Count(), 5u);
  const auto found = accept.Find("B");
  EXPECT_TRUE(found.Found);
  EXPECT_EQ(found.Index, 1u);  // the leftmost of the three
  EXPECT_EQ(accept.Add("b"), 1u);
  EXPECT_EQ(accept.Find("c").Index, 5u);

  TLocaleStringList error(2057, TDuplicates::dupError);
  error.Add("b");
  EXPECT_THROW(error.Add("B"), EStringListError);
  EXPECT_EQ(error.Count(), 1u);
}

}  // namespace
}  // namespace strata
