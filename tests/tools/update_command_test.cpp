#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "components/default_components.h"
#include "components/strata_table.h"
#include "tools/command_line.h"
#include "tests/update/update_test_support.h"
#include "update/catalogue.h"

namespace strata {
namespace {

// The command makes its own components, as the program does.
class UpdateCommandTest : public strata::testing::DataDirectoryTest {
 protected:
  void CreateAccents() {
    DefaultComponents components;
    strata::testing::CreateCatalogueTable(data_.string(), Catalogue()[0]);
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return tools::RunStrata(args, out_, err_);
  }

  std::ostringstream out_, err_;
};

TEST_F(UpdateCommandTest, UpdatesEveryTableAndEndsWithTheFinalMessage) {
  CreateAccents();
  ASSERT_EQ(Run({"update", data_.string(), "--memory", "4", "--threads", "2"}), 0) << err_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("[1/63] accents.dat"), std::string::npos) << out;
  EXPECT_NE(out.find("[63/63] xmas.dat"), std::string::npos) << out;
  EXPECT_NE(out.find("Restructure done.\n"
                     "Your data has been updated.  Close this\n"
                     "popup and the Update Utility and you\n"
                     "can start your Program.\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::filesystem::exists(data_ / "xmas.dat"));
  EXPECT_EQ(err_.str(), "");
}

TEST_F(UpdateCommandTest, FailuresAndBadUsageExitWithStatusTwo) {
  // A folder without the catalogue's first table is refused in plain words
  // before anything is opened: no lock file appears in it.
  EXPECT_EQ(Run({"update", data_.string()}), 2);
  EXPECT_NE(err_.str().find("holds no accents.dat"), std::string::npos) << err_.str();
  EXPECT_TRUE(std::filesystem::is_empty(data_));
  EXPECT_EQ(Run({"update"}), 2);
  EXPECT_EQ(Run({"update", "a", "b"}), 2);
  EXPECT_EQ(Run({"update", "--fast", data_.string()}), 2);
  for (const char* memory : {"0", "-3", "x"}) {
    EXPECT_EQ(Run({"update", data_.string(), "--memory", memory}), 2) << memory;
    EXPECT_NE(err_.str().find("--memory"), std::string::npos) << err_.str();
  }
  for (const char* threads : {"0", "-1", "x"}) {
    EXPECT_EQ(Run({"update", data_.string(), "--threads", threads}), 2) << threads;
    EXPECT_NE(err_.str().find("--threads"), std::string::npos) << err_.str();
  }
}

}  // namespace
}  // namespace strata
