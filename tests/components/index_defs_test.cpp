#include "components/index_defs.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/components/error_message.h"

namespace strata {
namespace {

TEST(IndexDefsAdd, KeepsOptionsAndDescendingFieldsConsistent) {
  struct Case {
    TIndexOptions Options;
    const char* DescFields;
    TIndexOptions ExpectedOptions;
    const char* ExpectedDescFields;
  };
  const Case cases[] = {
      {{ixDescending}, "", {ixDescending}, "BPDate;BPTime"},
      {{}, "BPDate;BPTime", {ixDescending}, "BPDate;BPTime"},
      {{ixUnique}, "BPTime", {ixUnique, ixDescending}, "BPTime"},
      {{ixUnique, ixCaseInsensitive}, "", {ixUnique, ixCaseInsensitive}, ""},
  };
  for (const Case& c : cases) {
    TStrataIndexDefs defs;
    const TStrataIndexDef& def = defs.Add("ByDate", "BPDate;BPTime", c.Options, c.DescFields);
    EXPECT_EQ(def.Options().Bits(), c.ExpectedOptions.Bits()) << c.DescFields;
    EXPECT_EQ(def.DescFields(), c.ExpectedDescFields);
    EXPECT_EQ(def.Fields(), "BPDate;BPTime");
  }
}

TEST(IndexDef, SettersKeepOptionsAndFieldsConsistent) {
  TStrataIndexDef def;
  def.SetFields("A;B");
  def.SetOptions({ixUnique, ixDescending});
  EXPECT_EQ(def.DescFields(), "A;B");  // descending without a list: the whole key

  def.SetOptions({ixExpression});
  EXPECT_EQ(def.Fields(), "");  // an expression has no key field list
  def.SetFields("A;B");         // same text, but it ends the expression
  EXPECT_FALSE(def.Options().Contains(ixExpression));
  EXPECT_EQ(def.Fields(), "A;B");

  def.SetDescFields("");
  def.SetDescFields("B");
  EXPECT_TRUE(def.Options().Contains(ixDescending));
}

TEST(IndexDefsAdd, RefusesADuplicateName) {
  TStrataIndexDefs defs;
  defs.Add("", "ID", {ixPrimary});
  defs.Add("ByDate", "BPDate");
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Add("", "Other"); }), "Duplicate index name ''");
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Add("BYDATE", "Other"); }), "Duplicate index name 'BYDATE'");
  ASSERT_EQ(defs.Count(), 2u);
  EXPECT_EQ(defs[1].Fields(), "BPDate");
}

TEST(IndexDefsFind, MatchesNamesWithoutRegardToCase) {
  TStrataIndexDefs defs;
  defs.Add("", "ID", {ixPrimary});
  defs.Add("ByDate", "BPDate");
  EXPECT_EQ(&defs.Find("bydate"), &defs[1]);
  EXPECT_EQ(&defs.Find(""), &defs[0]);
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Find("ByTime"); }), "Index 'ByTime' not found");
}

TEST(IndexDefs, MoveKeepsTheOthersInOrder) {
  TStrataIndexDefs defs;
  for (const char* name : {"A", "B", "C", "D"}) defs.Add(name, "F");
  defs.Move(2, 0);
  defs.Move(1, 3);
  std::string order;
  for (const TStrataIndexDef& def : defs) order += def.Name();
  EXPECT_EQ(order, "CBDA");
}

TEST(IndexDefsFindIndexForFields, PrefersExactKeysThenWholeNamePrefixes) {
  TStrataIndexDefs defs;
  defs.Add("", "ID", {ixPrimary, ixUnique});
  defs.Add("NameDesc", "Name", {ixDescending});
  defs.Add("NameFirstCI", "Name;First", {ixCaseInsensitive});
  defs.Add("DateTime", "Date;Time");
  defs.Add("Date", "DATE");
  defs.Add("Expr", "Nick", {ixExpression});

  struct Case {
    const char* Fields;
    bool CaseInsensitive;
    const char* Expected;  // nullptr: no index serves
  };
  const Case cases[] = {
      {"id", false, ""},
      {"date", false, "Date"},  // an exact key wins over an earlier prefix
      {"Date;Time", false, "DateTime"},
      {"name", false, "NameFirstCI"},  // descending indexes never serve
      {"Name;First", true, "NameFirstCI"},
      {"Date", true, nullptr},   // no case-insensitive index on it
      {"Nam", false, nullptr},   // a prefix must end at a whole name
      {"Nick", false, nullptr},  // expression indexes never serve
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Fields);
    if (c.Expected != nullptr) {
      EXPECT_EQ(defs.FindIndexForFields(c.Fields, c.CaseInsensitive).Name(), c.Expected);
    } else {
      EXPECT_EQ(DatabaseErrorOf([&] { defs.FindIndexForFields(c.Fields, c.CaseInsensitive); }),
                std::string("No index for fields '") + c.Fields + "'");
    }
  }
}

}  // namespace
}  // namespace strata
