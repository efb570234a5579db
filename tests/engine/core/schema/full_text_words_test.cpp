#include "engine/core/schema/full_text_words.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/schema/table_full_text_params.h"

namespace strata {
namespace {

using Words = std::vector<std::string>;

Words Split(std::string_view text, std::uint32_t locale = 0, const TextIndexHooks& hooks = {}) {
  return FullTextWordSplitter(FullTextParams::Defaults(), locale).Words(text, hooks).Strings();
}

TEST(FullTextWordsTest, SplitsWithTheDefaults) {
  struct Case {
    std::string text;
    Words expected;
  };
  const std::string long70 = std::string(61, 'a') + std::string(9, 'b');
  const Case cases[] = {
      // Punctuation in SpaceChars ends a word, sorted without regard to case.
      {"The quick,brown-fox:jumps/over the lazy\tdog.", {"brown", "dog", "fox", "jumps", "lazy", "over", "quick"}},
      // Characters in neither set are skipped without ending the word.
      {"dog's (42nd) time!", {"42nd", "dogs", "time"}},
      // One entry per word, whatever its letter case; the first form is kept.
      {"Apple apple APPLE pear", {"Apple", "pear"}},
      // Stop words in any case are left out.
      {"And THE which It is", {}},
      // A word is cut at 61 characters; the rest of it does not start a new one.
      {long70 + " z", {std::string(61, 'a'), "z"}},
      {"", {}},
      {"  ,,  ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.text), c.expected) << c.text;
}

TEST(FullTextWordsTest, CollatesUnderTheTableLocale) {
  const std::string text = "zebra Apple r\xE9sum\xE9 resume";
  EXPECT_EQ(Split(text, 0), (Words{"Apple", "resume", "r\xE9sum\xE9", "zebra"}));
  // Accents are ignored under 2057: the two spellings are one word.
  EXPECT_EQ(Split(text, 2057), (Words{"Apple", "r\xE9sum\xE9", "zebra"}));
  FullTextParams params = FullTextParams::Defaults();
  params.StopWords = {"RESUME"};
  EXPECT_EQ(FullTextWordSplitter(params, 2057).Words(text).Strings(), (Words{"Apple", "zebra"}));
}

TEST(FullTextWordsTest, FiltersTextAndWords) {
  TextIndexHooks hooks;
  std::string seenField;
  hooks.OnTextIndexFilter = [&](const TextIndexContext& context, std::string& text) {
    seenField = context.FieldName;
    text += " added";
  };
  hooks.OnTextIndexTokenFilter = [](const TextIndexContext&, std::string& word) {
    if (word == "colour") word = "color";
    return word.front() != 'x';
  };
  const FullTextWordSplitter splitter(FullTextParams::Defaults(), 0);
  EXPECT_EQ(splitter.Words("colour xray tree", hooks, {"Notes", "Body"}).Strings(),
            (Words{"added", "color", "tree"}));
  EXPECT_EQ(seenField, "Body");

  TextIndexHooks failing;
  failing.OnTextIndexFilter = [](const TextIndexContext&, std::string& text) {
    text = "replaced";
    throw std::runtime_error("filter");
  };
  failing.OnTextIndexTokenFilter = [](const TextIndexContext&, std::string& word) -> bool {
    word = "x";
    throw std::runtime_error("token");
  };
  // A failing filter keeps the text and the words as they were.
  EXPECT_EQ(splitter.Words("kept words", failing).Strings(), (Words{"kept", "words"}));
}

TEST(FullTextWordsTest, PhrasesKeepWildcards) {
  const FullTextWordSplitter splitter(FullTextParams::Defaults(), 0);
  EXPECT_EQ(splitter.PhraseWords("app* pie*crust the *").Strings(),
            (Words{"*", "app*", "pie*crust"}));
  EXPECT_EQ(splitter.Words("app* pie*crust").Strings(), (Words{"app", "crust", "pie"}));
}

TEST(FullTextWordsTest, CustomCharacterSets) {
  CharacterSet spaces{};
  AddToCharacterSet(spaces, ',');
  const FullTextParams params = NewTableFullTextParams(0, std::vector<std::string>{}, spaces, {});
  // The blank is now in neither set: it is skipped inside a word; no stop words.
  EXPECT_EQ(FullTextWordSplitter(params, 0).Words("the cat,a dog").Strings(),
            (Words{"adog", "thecat"}));
}

TEST(FullTextWordsTest, ChangedWords) {
  const FullTextWordSplitter splitter(FullTextParams::Defaults(), 0);
  const WordListChanges changes =
      CompareWordLists(splitter.Words("Apple pear plum"), splitter.Words("APPLE fig plum"));
  EXPECT_EQ(changes.Deleted, Words{"pear"});
  EXPECT_EQ(changes.Inserted, Words{"fig"});
}

TEST(FullTextWordsTest, ParametersOfANewTable) {
  const FullTextParams defaults = FullTextParams::Defaults();
  EXPECT_EQ(NewTableFullTextParams(0, std::nullopt, {}, {}), defaults);

  CharacterSet include{};
  AddToCharacterSet(include, 'x');
  const FullTextParams given = NewTableFullTextParams(
      0, std::vector<std::string>{"the", "Zoo", "THE", "apple"}, {}, include);
  EXPECT_EQ(given.StopWords, (Words{"apple", "the", "Zoo"}));
  EXPECT_EQ(given.SpaceChars, defaults.SpaceChars);
  EXPECT_EQ(given.IncludeChars, include);

  EXPECT_TRUE(NewTableFullTextParams(0, std::vector<std::string>{}, {}, {}).StopWords.empty());
}

}  // namespace
}  // namespace strata
