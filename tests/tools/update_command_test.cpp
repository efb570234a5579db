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
#include "tools/update_command.h"
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

// Standard output holds the result alone (a file or a pipe gets no progress
// lines); the progress goes to the terminal, one line rewritten in place.
TEST_F(UpdateCommandTest, ProgressGoesToTheTerminalAndStandardOutputEndsWithTheClosingLine) {
  CreateAccents();
  std::ostringstream out, terminal;
  {
    DefaultComponents components;
    tools::RunUpdate(data_.string() + "/", false, out, &terminal);
  }
  EXPECT_EQ(out.str(), "Your data has been updated. You can start your program.\n");
  const std::string shown = terminal.str();
  EXPECT_NE(shown.find("\r[1/63] accents.dat 0%"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\r[63/63] xmas.dat 100%"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
  EXPECT_EQ(shown.find("Restructure done."), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r")) << shown;  // blanked at the end
  EXPECT_TRUE(std::filesystem::exists(data_ / "xmas.dat"));
  EXPECT_TRUE(std::filesystem::exists(data_ / "xmas.dbk"));

  ASSERT_EQ(Run({"update", data_.string(), "--memory", "4", "--threads", "2"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "Your data has been updated. You can start your program.\n");
  EXPECT_EQ(err_.str(), "");
}

// --no-backups: the tables' previous files are not kept.
TEST_F(UpdateCommandTest, NoBackupsLeavesNoBackupFiles) {
  CreateAccents();
  ASSERT_EQ(Run({"update", data_.string(), "--no-backups"}), 0) << err_.str();
  for (const auto& entry : std::filesystem::directory_iterator(data_)) {
    const std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension != ".dbk" && extension != ".ibk" && extension != ".bbk")
        << entry.path();
  }
  EXPECT_TRUE(std::filesystem::exists(data_ / "xmas.dat"));
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
