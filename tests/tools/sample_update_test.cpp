// The update run over the sample database of an earlier structure: every
// table ends in its catalogue structure, every row survives with the values
// its field's position and type allow, and a second run changes nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"
#include "tests/tools/stored_tables.h"
#include "tests/update/update_test_support.h"
#include "tools/command_line.h"
#include "tools/sample_database.h"
#include "update/restructure_database.h"

namespace strata {
namespace {

using namespace strata::testing;

bool IsIntegerType(std::uint8_t type) {
  return type == kTypeSmallint || type == kTypeInteger || type == kTypeWord ||
         type == kTypeLargeint;
}

std::int64_t IntegerOf(std::uint8_t type, const std::vector<std::uint8_t>& value) {
  switch (type) {
    case kTypeSmallint: return LoadI16(value.data());
    case kTypeWord: return LoadU16(value.data());
    case kTypeLargeint: return LoadI64(value.data());
    default: return LoadI32(value.data());
  }
}

std::string TextOf(const std::vector<std::uint8_t>& value, std::size_t limit, bool upper) {
  std::string text(reinterpret_cast<const char*>(value.data()),
                   std::min(limit, std::strlen(reinterpret_cast<const char*>(value.data()))));
  if (upper) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

// A row's value after the update, as its old value predicts it.
void ExpectCarriedOver(const FieldDescriptor& before, const Value& old,
                       const FieldDescriptor& after, const Value& now) {
  ASSERT_TRUE(old.has_value());  // the sample fills every field
  ASSERT_TRUE(now.has_value()) << after.Name;
  if (before.EngineType == kTypeString && after.EngineType == kTypeString) {
    const bool upper = after.CharCase != 0;
    EXPECT_EQ(TextOf(*now, after.DeclaredLength, upper),
              TextOf(*old, after.DeclaredLength, upper));
  } else if (IsIntegerType(before.EngineType) && IsIntegerType(after.EngineType)) {
    EXPECT_EQ(IntegerOf(after.EngineType, *now), IntegerOf(before.EngineType, *old));
  } else if (before.EngineType == after.EngineType) {
    EXPECT_EQ(*now, *old) << after.Name;
  }
  // Other changes of type (dates and timestamps) only need a value.
}

class SampleUpdateTest : public strata::testing::UpdateRunTest {
 protected:
  static constexpr std::int32_t kRows = 120;

  std::map<std::string, StoredTable> ReadAll() {
    std::map<std::string, StoredTable> tables;
    for (const CatalogueEntry& entry : Catalogue()) {
      tables[entry.FileName] = ReadStored(data_.string(), entry.FileName);
    }
    return tables;
  }
};

TEST_F(SampleUpdateTest, EveryTableTakesItsCatalogueShapeAndKeepsEveryRow) {
  tools::WriteSampleDatabase(data_.string(), kRows);
  std::map<std::string, StoredTable> sample;
  for (const tools::SampleTable& table : tools::SampleTables()) {
    sample[table.FileName] = ReadStored(data_.string(), table.FileName);
    ASSERT_EQ(sample[table.FileName].Rows.size(), static_cast<std::size_t>(kRows));
  }
  ASSERT_LT(sample.size(), Catalogue().size());

  RestructureDatabase(data_.string(), nullptr, nullptr, nullptr);
  strata::testing::ExpectCatalogueStructure(data_.string());
  const std::map<std::string, StoredTable> updated = ReadAll();
  for (const auto& [name, after] : updated) {
    SCOPED_TRACE(name);
    const auto found = sample.find(name);
    if (found == sample.end()) {
      EXPECT_TRUE(after.Rows.empty());
      continue;
    }
    const StoredTable& before = found->second;
    ASSERT_EQ(after.Rows.size(), before.Rows.size());
    for (const auto& [recordId, oldValues] : before.Rows) {
      const auto row = after.Rows.find(recordId);
      ASSERT_NE(row, after.Rows.end()) << "RecordID " << recordId;
      // Fields keep their positions; a field the older shape lacked is new.
      for (std::size_t f = 0; f < before.Fields.size() && f < after.Fields.size(); ++f) {
        ASSERT_EQ(before.Fields[f].Name, after.Fields[f].Name);
        ExpectCarriedOver(before.Fields[f], oldValues[f], after.Fields[f], row->second[f]);
      }
    }
  }

  // A second run finds every table current: the same structure and rows.
  RestructureDatabase(data_.string(), nullptr, nullptr, nullptr);
  EXPECT_TRUE(ReadAll() == updated);
}

// Every N the command allows gives each row its own key: string fields of
// a primary or unique index, cut to the sample's size and then to the
// catalogue's, in capitals (a case-insensitive index), differ in every row
// (the 4-character LocationRef once repeated itself from row 10,000 on).
TEST(SampleTextTest, KeyTextsDifferInEveryRowUpToTheLargestCount) {
  const auto catalogue = Catalogue();
  for (const tools::SampleTable& table : tools::SampleTables()) {
    const CatalogueEntry& entry = *std::find_if(catalogue.begin(), catalogue.end(), [&](const CatalogueEntry& e) {
      return table.FileName == e.FileName;
    });
    std::set<std::string> keyFields;
    for (const CatalogueIndex& index : entry.Indexes) {
      if (!index.Options.Contains(ixPrimary) && !index.Options.Contains(ixUnique)) continue;
      std::string_view fields = index.Fields;
      while (!fields.empty()) {
        const std::size_t end = fields.find(';');
        keyFields.emplace(fields.substr(0, end));
        fields = end == std::string_view::npos ? std::string_view{} : fields.substr(end + 1);
      }
    }
    for (std::size_t f = 0; f < table.Fields.size(); ++f) {
      const tools::SampleField& field = table.Fields[f];
      if (field.DataType != ftString || !keyFields.contains(field.Name)) continue;
      SCOPED_TRACE(table.FileName + " " + field.Name);
      const auto now = static_cast<std::size_t>(entry.Fields[f].Size);
      std::set<std::string> seen;
      for (std::int32_t r = 1; r <= tools::kMaxSampleRows; ++r) {
        std::string text =
            tools::SampleText(r, field.Name, static_cast<std::size_t>(field.Size)).substr(0, now);
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_TRUE(seen.insert(text).second) << "row " << r << ": " << text;
      }
    }
  }
}

// The sample-db subcommand without the components of the fixture: it makes
// its own, as the program does.
class SampleDbCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "sample-db-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  int Run(const std::vector<std::string>& args) {
    err_.str("");
    std::ostringstream out;
    return tools::RunStrata(args, out, err_);
  }
  std::filesystem::path root_;
  std::ostringstream err_;
};

TEST_F(SampleDbCommandTest, WritesIntoANewDirectoryAndRefusesBadArgumentsOrTables) {
  const std::string target = (root_ / "new" / "data").string();
  EXPECT_EQ(Run({"sample-db", target, "--rows", "3"}), tools::kExitSuccess) << err_.str();
  EXPECT_TRUE(std::filesystem::exists(root_ / "new" / "data" / "accents.dat"));

  EXPECT_EQ(Run({"sample-db", target}), tools::kExitError);
  EXPECT_NE(err_.str().find("already holds tables"), std::string::npos) << err_.str();
  for (const char* rows : {"-1", "x", "30001", "5x"}) {
    EXPECT_EQ(Run({"sample-db", (root_ / "other").string(), "--rows", rows}), tools::kExitError);
    EXPECT_NE(err_.str().find("--rows takes a number"), std::string::npos) << err_.str();
  }
  EXPECT_EQ(Run({"sample-db", (root_ / "other").string(), "--rows"}), tools::kExitError);
  EXPECT_FALSE(std::filesystem::exists(root_ / "other"));
}

}  // namespace
}  // namespace strata
