#include "update/restructure_database.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "components/default_components.h"
#include "components/strata_table.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/data_file.h"
#include "engine/formats/index_file.h"
#include "tests/update/update_test_support.h"
#include "update/catalogue.h"
#include "update/progress.h"

namespace strata {
namespace {

// Records every position the run sets.
class RecordingBar : public ProgressCounter {
 public:
  using ProgressCounter::ProgressCounter;
  void SetPosition(std::int32_t position) override {
    ProgressCounter::SetPosition(position);
    positions.push_back(Position());
  }
  std::vector<std::int32_t> positions;
};

class RecordingLabel : public TextDisplay {
 public:
  void SetText(std::string_view text) override { texts.emplace_back(text); }
  void Repaint() override {}
  std::vector<std::string> texts;
};

class RestructureDatabaseTest : public strata::testing::UpdateRunTest {
 protected:
  void CreateAccents() { strata::testing::CreateCatalogueTable(data_.string(), Catalogue()[0]); }
  void ExpectCatalogueStructure() { strata::testing::ExpectCatalogueStructure(data_.string()); }
};

TEST_F(RestructureDatabaseTest, CreatesAndRestructuresEveryCatalogueTable) {
  CreateAccents();
  const auto catalogue = Catalogue();
  RecordingBar overall(static_cast<std::int32_t>(catalogue.size()));
  RecordingBar restructure(100);
  RecordingLabel label;

  RestructureDatabase(data_.string(), &overall, &restructure, &label);

  ASSERT_EQ(label.texts.size(), catalogue.size() + 1);
  for (std::size_t i = 0; i < catalogue.size(); ++i) EXPECT_EQ(label.texts[i], catalogue[i].FileName);
  EXPECT_EQ(label.texts.back(), "Restructure done.");
  // Stepped once before each entry, then put back to 0.
  ASSERT_EQ(overall.positions.size(), catalogue.size() + 1);
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    EXPECT_EQ(overall.positions[i], static_cast<std::int32_t>(i + 1));
  }
  EXPECT_EQ(overall.positions.back(), 0);
  EXPECT_EQ(restructure.Position(), 0);
  EXPECT_NE(std::find(restructure.positions.begin(), restructure.positions.end(), 100),
            restructure.positions.end());
  ExpectCatalogueStructure();

  // A second run finds every table current and changes no structure.
  RestructureDatabase(data_.string(), nullptr, nullptr, nullptr);
  ExpectCatalogueStructure();
}

TEST_F(RestructureDatabaseTest, MissingFirstTableStopsTheRunBeforeAnythingIsTouched) {
  RecordingLabel label;
  try {
    RestructureDatabase(data_.string(), nullptr, nullptr, &label);
    FAIL() << "the run went through without accents.dat";
  } catch (const EStrataEngineError& e) {
    EXPECT_EQ(e.Code, STRATA_FLDLIMIT);
    EXPECT_NE(e.Message().find("accents"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(label.texts, std::vector<std::string>{"accents.dat"});
  for (const auto& file : std::filesystem::directory_iterator(data_)) {
    EXPECT_EQ(file.path().filename(), "strata.lck") << file.path();
  }
}

}  // namespace
}  // namespace strata
