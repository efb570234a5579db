#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/command_line.h"

namespace strata {
namespace {

// A registry file of its own, named through the environment.
class DataPathCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "data-path-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    registry_ = (root_ / "registry.reg").string();
    ::setenv("HEARTHBOOK_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("HEARTHBOOK_REGISTRY");
    std::filesystem::remove_all(root_);
  }
  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return tools::RunStrata(args, out_, err_);
  }
  std::string Registry() const {
    std::ifstream in(registry_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path root_;
  std::string registry_;
  std::ostringstream out_, err_;
};

TEST_F(DataPathCommandTest, RegistersOnlyWhenNothingIsRegistered) {
  EXPECT_EQ(Run({"data-path"}), tools::kExitFinding);
  EXPECT_EQ(out_.str(), "");

  EXPECT_EQ(Run({"data-path", "--set", "/srv/home \"data\""}), tools::kExitSuccess) << err_.str();
  EXPECT_EQ(Run({"data-path"}), tools::kExitSuccess);
  EXPECT_EQ(out_.str(), "/srv/home \"data\"\n");

  const std::string before = Registry();
  EXPECT_EQ(Run({"data-path", "--set", "/elsewhere"}), tools::kExitError);
  EXPECT_NE(err_.str().find("already registered"), std::string::npos) << err_.str();
  EXPECT_EQ(Registry(), before);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"data-path", "--set"}, {"data-path", "/x"},
        {"data-path", "--set", ""}}) {
    EXPECT_EQ(Run(bad), tools::kExitError);
  }
}

TEST_F(DataPathCommandTest, ValueOfAnotherTypeOrADamagedFileIsAnError) {
  std::ofstream(registry_) << "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Hearthbook]\n"
                              "\"DataPath\"=dword:00000001\n";
  EXPECT_EQ(Run({"data-path"}), tools::kExitError);
  EXPECT_EQ(err_.str(), "strata: Invalid data type for 'DataPath'\n");

  std::ofstream(registry_) << "not a registry file\n";
  EXPECT_EQ(Run({"data-path", "--set", "/x"}), tools::kExitError);
  EXPECT_EQ(Registry(), "not a registry file\n");
}

}  // namespace
}  // namespace strata
