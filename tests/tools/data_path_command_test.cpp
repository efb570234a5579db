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

TEST_F(DataPathCommandTest, RegistersTheAbsolutePathOfAnExistingFolderAndReplacesOnlyWithForce) {
  EXPECT_EQ(Run({"data-path"}), tools::kExitFinding);
  EXPECT_EQ(out_.str(), "");

  // A relative path is stored as the absolute path it names now: the window
  // starts in another folder.
  const std::filesystem::path data = root_ / "home \"data\"";
  std::filesystem::create_directories(data / "sub");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(root_);
  EXPECT_EQ(Run({"data-path", "--set", "home \"data\"/sub/../"}), tools::kExitSuccess)
      << err_.str();
  std::filesystem::current_path(before);
  EXPECT_EQ(Run({"data-path"}), tools::kExitSuccess);
  EXPECT_EQ(out_.str(), data.string() + "\n");

  const std::string registered = Registry();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::ofstream(root_ / "file") << "x";
  const Case refused[] = {
      {{"data-path", "--set", (root_ / "missing").string()}, "does not exist"},
      {{"data-path", "--set", (root_ / "file").string()}, "is not a folder"},
      {{"data-path", "--set", (data / "sub").string()},
       "already registered ('" + data.string() + "' in '" + registry_ + "'); --force replaces it"},
      {{"data-path", "--set", (root_ / "missing").string(), "--force"}, "does not exist"},
      {{"data-path", "--set"}, "--set"},
      {{"data-path", "/x"}, "unexpected argument '/x'"},
      {{"data-path", "--set", ""}, "the directory is empty"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(Run(c.args), tools::kExitError);
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_EQ(Registry(), registered);
  }

  EXPECT_EQ(Run({"data-path", "--set", (data / "sub").string(), "--force"}), tools::kExitSuccess)
      << err_.str();
  EXPECT_EQ(Run({"data-path"}), tools::kExitSuccess);
  EXPECT_EQ(out_.str(), (data / "sub").string() + "\n");
}

TEST_F(DataPathCommandTest, ValueOfAnotherTypeOrADamagedFileIsAnError) {
  std::ofstream(registry_) << "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Hearthbook]\n"
                              "\"DataPath\"=dword:00000001\n";
  EXPECT_EQ(Run({"data-path"}), tools::kExitError);
  EXPECT_EQ(err_.str(), "strata: Invalid data type for 'DataPath'\n");

  std::ofstream(registry_) << "not a registry file\n";
  EXPECT_EQ(Run({"data-path", "--set", root_.string()}), tools::kExitError);
  EXPECT_EQ(Registry(), "not a registry file\n");
}

}  // namespace
}  // namespace strata
