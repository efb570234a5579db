#include "engine/locale/locale_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>

#include "engine/locale/collation.h"

namespace strata {
namespace {

class LocaleListTest : public ::testing::Test {
 protected:
  static const LocaleList& List() {
    static const auto list = LocaleList::Shared();
    return *list;
  }
  static const TDataLocale* Entry(std::uint32_t id) {
    const auto entries = List().Entries();
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [id](const auto& e) { return e.LocaleID == id; });
    return it == entries.end() ? nullptr : &*it;
  }
  static std::ptrdiff_t Position(std::string_view name) {
    const auto entries = List().Entries();
    return std::find_if(entries.begin(), entries.end(),
                        [name](const auto& e) { return e.LocaleName == name; }) -
           entries.begin();
  }
};

TEST_F(LocaleListTest, Contents) {
  const auto entries = List().Entries();
  ASSERT_GT(entries.size(), 100u);
  EXPECT_EQ(entries[0].LocaleID, 0u);
  EXPECT_EQ(entries[0].LocaleName, "ANSI Standard");
  EXPECT_EQ(entries[0].LocaleAbbreviation, "ANSI");

  const auto* uk = Entry(2057);
  ASSERT_NE(uk, nullptr);
  EXPECT_EQ(uk->LocaleName, "English (United Kingdom)");
  EXPECT_EQ(uk->LocaleAbbreviation, "ENG");

  ASSERT_NE(Entry(0x0407), nullptr);
  EXPECT_EQ(Entry(0x0407)->LocaleName, "German (Germany)");
  const auto* phoneBook = Entry(0x10407);
  ASSERT_NE(phoneBook, nullptr);
  EXPECT_EQ(phoneBook->LocaleName, "German (German Phone Book)");
  EXPECT_EQ(phoneBook->LocaleAbbreviation, "DEP");

  std::set<std::uint32_t> ids;
  for (const auto& entry : entries) {
    EXPECT_TRUE(ids.insert(entry.LocaleID).second) << entry.LocaleID;
    EXPECT_FALSE(entry.LocaleName.empty());
    EXPECT_LE(entry.LocaleName.size(), 255u);
    EXPECT_FALSE(entry.LocaleAbbreviation.empty());
  }
}

TEST_F(LocaleListTest, SortedByNameAfterAnsi) {
  EXPECT_LT(Position("Afrikaans"), Position("English (United Kingdom)"));
  EXPECT_LT(Position("English (United Kingdom)"), Position("English (United States)"));
  EXPECT_LT(Position("German (German Phone Book)"), Position("German (Germany)"));
  EXPECT_LT(Position("German (Germany)"), Position("Zulu"));
  EXPECT_LT(Position("Zulu"), static_cast<std::ptrdiff_t>(List().Entries().size()));
}

TEST_F(LocaleListTest, LocaleIdOfName) {
  EXPECT_EQ(List().LocaleIdOfName("english (UNITED kingdom)"), 2057u);
  EXPECT_EQ(List().LocaleIdOfName("ansi standard"), 0u);
  EXPECT_EQ(List().LocaleIdOfName("German (German Phone Book)"), 0x10407u);
  EXPECT_FALSE(List().LocaleIdOfName("Klingon").has_value());
  EXPECT_FALSE(List().LocaleIdOfName("").has_value());
}

TEST_F(LocaleListTest, CharacterOrder) {
  std::array<unsigned char, 256> identity;
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(List().CharacterOrder(0), identity);
  EXPECT_EQ(List().CharacterOrder(0x3039), identity);  // no such entry
  EXPECT_EQ(List().CharacterOrder(2057), Collation::For(2057).CharacterOrder());
  EXPECT_NE(List().CharacterOrder(2057), identity);
}

TEST_F(LocaleListTest, SharedListIsBuiltOnce) {
  EXPECT_EQ(LocaleList::Shared().get(), &List());
}

}  // namespace
}  // namespace strata
