#include "update/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "components/field_defs.h"
#include "components/index_defs.h"

namespace strata {
namespace {

TEST(CatalogueTest, HoldsSixtyThreeTablesInVisitingOrder) {
  const auto catalogue = Catalogue();
  ASSERT_EQ(catalogue.size(), 63u);
  EXPECT_STREQ(catalogue.front().FileName, "accents.dat");
  EXPECT_STREQ(catalogue[20].FileName, "mainttopic.dat");
  EXPECT_STREQ(catalogue[21].FileName, "medicines.dat");
  EXPECT_STREQ(catalogue[41].FileName, "softwarename.dat");
  EXPECT_STREQ(catalogue[42].FileName, "softwarerelease.dat");
  EXPECT_STREQ(catalogue.back().FileName, "xmas.dat");
  std::set<std::string> names;
  for (const auto& entry : catalogue) names.insert(entry.FileName);
  EXPECT_EQ(names.size(), 63u);
}

TEST(CatalogueTest, EveryEntryIsAcceptedByTheDefinitionCollections) {
  for (const auto& entry : Catalogue()) {
    SCOPED_TRACE(entry.FileName);
    EXPECT_TRUE(entry.LocaleId == 0 || entry.LocaleId == 2057);
    EXPECT_LE(entry.UserMajorVersion, 1);
    ASSERT_FALSE(entry.Indexes.empty());
    EXPECT_STREQ(entry.Indexes[0].Name, "");
    EXPECT_EQ(entry.Indexes[0].Options, (TIndexOptions{ixPrimary, ixUnique}));

    TStrataFieldDefs fields;
    for (const auto& f : entry.Fields) {
      fields.Add(f.Name, f.DataType, f.Size, f.Required, f.DefaultValue, "", "", "", f.CharCase, 0);
    }
    TStrataIndexDefs indexes;
    for (const auto& x : entry.Indexes) {
      indexes.Add(x.Name, x.Fields, x.Options, x.DescFields, x.Compression);
    }
    EXPECT_EQ(fields.Count(), static_cast<int>(entry.Fields.size()));
    EXPECT_EQ(indexes.Count(), static_cast<int>(entry.Indexes.size()));
  }
}

TEST(CatalogueTest, KeepsTheNotableDefinitionsAsWritten) {
  const auto catalogue = Catalogue();
  auto find = [&](const char* name) -> const CatalogueEntry& {
    for (const auto& entry : catalogue) {
      if (std::string(entry.FileName) == name) return entry;
    }
    ADD_FAILURE() << name;
    return catalogue.front();
  };
  const auto& accents = find("accents.dat");
  EXPECT_EQ(accents.LocaleId, 0u);
  EXPECT_EQ(accents.UserMajorVersion, 1);
  EXPECT_STREQ(accents.Description, "Accents");

  const auto& pressure = find("blood pressure.dat");
  EXPECT_STREQ(pressure.Indexes[1].Name, "DateRev");
  EXPECT_STREQ(pressure.Indexes[1].DescFields, "BPDate;BPTime");
  EXPECT_EQ(pressure.Fields[8].CharCase, fcUpperCase);

  EXPECT_EQ(find("contacts.dat").Fields.size(), 34u);
  for (const auto& f : find("chairs.dat").Fields) {
    if (std::string(f.Name) == "StatusRef") {
      EXPECT_EQ(f.DataType, ftInteger);
      EXPECT_STREQ(f.DefaultValue, "1");  // handed over as text
    }
  }

  const auto& search = find("propertysearch.dat");
  bool sawTimestamp = false;
  for (const auto& f : search.Fields) {
    if (std::string(f.Name) == "PSDateTime") {
      EXPECT_STREQ(f.DefaultValue, "Current_Timestamp");
      sawTimestamp = true;
    }
    if (std::string(f.Name) == "PSAsking") {
      EXPECT_EQ(f.DataType, ftBCD);
      EXPECT_EQ(f.Size, 2);
    }
  }
  EXPECT_TRUE(sawTimestamp);
}

}  // namespace
}  // namespace strata
