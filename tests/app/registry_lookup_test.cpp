#include "app/registry_lookup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace strata {
namespace {

namespace fs = std::filesystem;
using platform::RegistryStore;
using platform::RegistryValue;

constexpr char kPath[] = "\\Software\\Hearthbook\\DataPath";
constexpr char kKey[] = "HKEY_CURRENT_USER\\Software\\Hearthbook";

class ReadRegistryStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lookup-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(ReadRegistryStringTest, MissingValueCreatesTheKeyAndGivesTheDefault) {
  RegistryStore store((dir_ / "sub" / "registry.reg").string());
  EXPECT_EQ(ReadRegistryString(store, HKEY_CURRENT_USER, kPath, "fallback"), "fallback");
  EXPECT_TRUE(store.KeyExists(kKey));
  EXPECT_FALSE(store.KeyExists("HKEY_CURRENT_USER\\Software\\Hearthbook\\DataPath"));
}

TEST_F(ReadRegistryStringTest, StringValuesAreReturnedAsStoredUpToTheirFirstNul) {
  RegistryStore store((dir_ / "registry.reg").string());
  const struct {
    RegistryValue stored;
    const char* expected;
  } cases[] = {
      {RegistryValue::String("/srv/hearth"), "/srv/hearth"},
      {RegistryValue::String(""), "fallback"},
      {RegistryValue::String("$HOME/%USERPROFILE%", platform::kRegExpandString),
       "$HOME/%USERPROFILE%"},
      {RegistryValue{platform::kRegString, {'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0}}, "ab"},
      {RegistryValue{platform::kRegExpandString, {0, 0, 'c', 0, 0, 0}}, "fallback"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(store.SetValue(kKey, "DataPath", c.stored));
    EXPECT_EQ(ReadRegistryString(store, HKEY_CURRENT_USER, kPath, "fallback"), c.expected);
  }
}

TEST_F(ReadRegistryStringTest, OtherTypesRaiseInvalidDataType) {
  RegistryStore store((dir_ / "registry.reg").string());
  const RegistryValue others[] = {
      RegistryValue::DWord(42),
      RegistryValue::QWord(42),
      RegistryValue{platform::kRegBinary, {1}},
      RegistryValue::MultiString({"a"}),
      RegistryValue{platform::kRegNone, {}},
  };
  for (const RegistryValue& value : others) {
    ASSERT_TRUE(store.SetValue(kKey, "DataPath", value));
    try {
      ReadRegistryString(store, HKEY_CURRENT_USER, kPath, "fallback");
      ADD_FAILURE() << "no error for type " << value.type;
    } catch (const ERegistryException& error) {
      EXPECT_STREQ(error.what(), "Invalid data type for 'DataPath'");
    }
  }
}

TEST_F(ReadRegistryStringTest, PathIsSplitAtItsLastBackslash) {
  RegistryStore store((dir_ / "registry.reg").string());
  ASSERT_TRUE(store.SetString("HKEY_CURRENT_USER", "DataPath", "at the root"));
  ASSERT_TRUE(store.SetString(kKey, "DataPath", "under the key"));
  EXPECT_EQ(ReadRegistryString(store, HKEY_CURRENT_USER, "DataPath", ""), "at the root");
  EXPECT_EQ(ReadRegistryString(store, HKEY_CURRENT_USER, "Software\\Hearthbook\\DataPath", ""),
            "under the key");
  // A trailing backslash leaves an empty value name: the key's default value.
  ASSERT_TRUE(store.SetString(kKey, "", "default value"));
  EXPECT_EQ(ReadRegistryString(store, HKEY_CURRENT_USER, "\\Software\\Hearthbook\\", ""),
            "default value");
}

TEST_F(ReadRegistryStringTest, DamagedFileIsReportedNotReplaced) {
  const std::string path = (dir_ / "registry.reg").string();
  std::ofstream(path) << "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\n";
  RegistryStore store(path);
  EXPECT_THROW(ReadRegistryString(store, HKEY_CURRENT_USER, kPath, ""),
               platform::RegistryFileError);
}

}  // namespace
}  // namespace strata
