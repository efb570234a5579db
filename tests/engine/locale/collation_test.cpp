#include "engine/locale/collation.h"
#include "engine/locale/locale_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "engine/errors/engine_error.h"

namespace strata {
namespace {

using namespace std::string_literals;

constexpr std::uint32_t kEnglishUK = 2057;

struct CompareCase {
  std::uint32_t id;
  std::string a;
  std::string b;
  bool ignoreCase;
  std::size_t length;
  int expected;
};

TEST(CollationTest, CompareTable) {
  const std::string longKey(300, 'k');
  const CompareCase cases[] = {
      // Byte order: capitals first unless case is ignored.
      {0, "Zebra", "apple", false, 0, -1},
      {0, "Zebra", "apple", true, 0, 1},
      {0, "\xE9t\xE9", "\xC9T\xC9", true, 0, 0},  // é/É
      {0, "\xFF", "\x9F", true, 0, 0},            // ÿ/Ÿ
      {0, "\xDF", "SS", true, 0, 1},              // ß has no capital
      {0, "\xE9", "f", false, 0, 1},              // accents are just bytes
      {0, "ab", "abc", false, 0, -1},
      {0, "ab\0x"s, "ab", false, 0, 0},           // a zero byte ends the text
      {0, "abcX", "abcY", false, 3, 0},
      {0, "ab", "ab\0\0"s, false, 4, 0},          // a short view reads as zero-padded
      {0, "ab", "ab\0\x01"s, false, 4, -1},
      {0, "abc", "ABD", true, 2, 0},
      // English (United Kingdom): letters first, then case, accents ignored.
      {kEnglishUK, "apple", "Zebra", false, 0, -1},
      {kEnglishUK, "a", "A", false, 0, -1},
      {kEnglishUK, "a", "A", true, 0, 0},
      {kEnglishUK, "zebra", "Zebra", false, 0, -1},
      {kEnglishUK, "r\xE9sum\xE9", "resume", false, 0, 0},
      {kEnglishUK, "R\xE9sum\xE9", "resume", false, 0, 1},
      {kEnglishUK, "R\xE9sum\xE9", "resume", true, 0, 0},
      {kEnglishUK, "co-op", "coop", false, 0, -1},
      {kEnglishUK, "na\xEFve", "naive", false, 0, 0},
      {kEnglishUK, "stra\xDF" "e", "strasse", false, 0, 0},
      {kEnglishUK, "abc", "abcd", false, 0, -1},
      {kEnglishUK, "abc\0zzz"s, "abc", false, 0, 0},
      {kEnglishUK, "Apple pie", "APPLE tart", true, 5, 0},
      {kEnglishUK, "Apple pie", "APPLE tart", true, 7, -1},
      {kEnglishUK, longKey + "b", longKey + "c", false, 0, -1},  // beyond the stack buffer
      {kEnglishUK, longKey + "B", longKey + "b", true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << " '" << c.a << "' '" << c.b << "' " << c.ignoreCase
                                    << " " << c.length);
    EXPECT_EQ(CollateCompare(c.id, c.a, c.b, c.ignoreCase, c.length), c.expected);
    EXPECT_EQ(CollateCompare(c.id, c.b, c.a, c.ignoreCase, c.length), -c.expected);
  }
}

TEST(CollationTest, CompareCharIsCaseSensitive) {
  EXPECT_EQ(CollateCompareChar(0, 'Z', 'a'), -1);
  EXPECT_EQ(CollateCompareChar(kEnglishUK, 'a', 'Z'), -1);
  EXPECT_EQ(CollateCompareChar(kEnglishUK, 'a', 'A'), -1);
  EXPECT_EQ(CollateCompareChar(kEnglishUK, '\xE9', 'e'), 0);
}

// Byte -> capital as the code page defines it; everything else maps to itself.
std::vector<std::pair<int, int>> CasePairs() {
  std::vector<std::pair<int, int>> pairs = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
  for (int c = 'a'; c <= 'z'; ++c) pairs.emplace_back(c, c - 32);
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) pairs.emplace_back(c, c - 32);
  }
  return pairs;
}

std::string AllBytes() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

TEST(CollationTest, AnsiCaseMappingOfEveryByte) {
  const auto pairs = CasePairs();
  ASSERT_EQ(pairs.size(), 60u);
  std::string expectedUpper = AllBytes();
  std::string expectedLower = AllBytes();
  for (auto [lower, upper] : pairs) {
    expectedUpper[lower] = static_cast<char>(upper);
    expectedLower[upper] = static_cast<char>(lower);
  }
  std::string upper = AllBytes();
  std::string lower = AllBytes();
  CollateUpper(0, upper);
  CollateLower(0, lower);
  EXPECT_EQ(upper, expectedUpper);
  EXPECT_EQ(lower, expectedLower);
}

TEST(CollationTest, LocaleCaseMapping) {
  // Under English (United Kingdom) every byte maps as under the code page:
  // characters whose capital is not a single byte (ß -> SS, µ, ƒ) stay.
  std::string upper = AllBytes();
  std::string lower = AllBytes();
  std::string ansiUpper = AllBytes();
  std::string ansiLower = AllBytes();
  CollateUpper(kEnglishUK, upper);
  CollateLower(kEnglishUK, lower);
  CollateUpper(0, ansiUpper);
  CollateLower(0, ansiLower);
  EXPECT_EQ(upper, ansiUpper);
  EXPECT_EQ(lower, ansiLower);

  std::string word = "stra\xDF" "e \xE9t\xE9 \xFF";
  CollateUpper(kEnglishUK, word);
  EXPECT_EQ(word, "STRA\xDF" "E \xC9T\xC9 \x9F");
  CollateLower(kEnglishUK, word);
  EXPECT_EQ(word, "stra\xDF" "e \xE9t\xE9 \xFF");

  // Turkish dotted and dotless i have no byte: i and I stay.
  constexpr std::uint32_t kTurkish = 0x041F;
  ASSERT_TRUE(LocaleAvailable(kTurkish));
  std::string turkish = "ist";
  CollateUpper(kTurkish, turkish);
  EXPECT_EQ(turkish, "iST");
  turkish = "IST";
  CollateLower(kTurkish, turkish);
  EXPECT_EQ(turkish, "Ist");
}

TEST(CollationTest, Availability) {
  EXPECT_TRUE(LocaleAvailable(0));
  EXPECT_TRUE(LocaleAvailable(kEnglishUK));
  EXPECT_TRUE(LocaleAvailable(0x10407));  // German, phone-book sort
  EXPECT_FALSE(LocaleAvailable(0xFFFF));
  EXPECT_FALSE(LocaleAvailable(0x1234567));
  EXPECT_FALSE(LocaleAvailable(0x3039));  // unknown sub-language of a known language
  // Languages that sort by ICU's root collation are available too.
  for (const std::uint32_t rootSorted : {1069u, 1169u, 0x0481u, 0x0444u}) {
    EXPECT_TRUE(LocaleAvailable(rootSorted)) << rootSorted;
  }
  for (const TDataLocale& entry : LocaleList::Shared()->Entries()) {
    EXPECT_TRUE(LocaleAvailable(entry.LocaleID)) << entry.LocaleName;
  }
  EXPECT_FALSE(Collation::For(0xFFFF).Available());

  const auto collation = Collation::For(0xFFFF);
  for (auto operation : {+[](const Collation& c) { c.Compare("a", "b", false); },
                         +[](const Collation& c) { std::string t = "a"; c.Upper(t); }}) {
    try {
      operation(collation);
      ADD_FAILURE() << "no error raised";
    } catch (const EStrataEngineError& e) {
      EXPECT_EQ(e.Code, STRATA_CANNOTLOADLDDRV);
    }
  }
}

TEST(CollationTest, PhoneBookGermanReadsUmlautsAsTwoLetters) {
  EXPECT_EQ(CollateCompare(0x0407, "G\xF6z", "Goez", false), 1);  // ö as o
  EXPECT_EQ(CollateCompare(0x10407, "G\xF6z", "Goez", false), 0);  // ö as oe
}

TEST(CollationTest, CharacterOrder) {
  std::array<unsigned char, 256> identity;
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(Collation().CharacterOrder(), identity);

  const auto uk = Collation::For(kEnglishUK);
  const auto& order = uk.CharacterOrder();
  auto sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, identity);  // a permutation
  EXPECT_TRUE(std::equal(order.begin(), order.begin() + 31, identity.begin()));
  for (int i = 31; i < 255; ++i) {
    EXPECT_LE(uk.CompareChar(static_cast<char>(order[i]), static_cast<char>(order[i + 1])), 0)
        << i;
  }
  const auto position = [&](char c) {
    return std::find(order.begin(), order.end(), static_cast<unsigned char>(c)) - order.begin();
  };
  EXPECT_LT(position('a'), position('A'));
  EXPECT_LT(position('A'), position('b'));
  EXPECT_LT(position('a'), position('B'));
  EXPECT_LT(position('9'), position('a'));
}

TEST(CollationTest, ConcurrentFirstUse) {
  // Several threads meet identifiers nobody has used yet.
  const std::uint32_t ids[] = {0x040C, 0x0C0A, 0x0410, 0x0413};
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const auto id = ids[(t + i) % 4];
        if (CollateCompare(id, "apple", "Zebra", false) != -1) ++failures[t];
        if (Collation::For(id).CharacterOrder()[0] != 0) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::accumulate(failures.begin(), failures.end(), 0), 0);
}

}  // namespace
}  // namespace strata
