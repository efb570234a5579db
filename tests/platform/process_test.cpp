#include "platform/process.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <regex>
#include <set>

namespace strata::platform {
namespace {

TEST(ProcessTest, GuidsAreBracedUpperCaseVersion4AndDistinct) {
  const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string guid = NewGuidText();
    EXPECT_EQ(guid.size(), 38u);
    EXPECT_TRUE(std::regex_match(guid, form)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(ProcessTest, DirectoriesEndWithASlash) {
  EXPECT_EQ(CurrentDirectory().back(), '/');
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TemporaryPath(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TemporaryPath(), "/tmp/");
  if (old) setenv("TMPDIR", saved.c_str(), 1);
}

TEST(ProcessTest, DecimalSeparatorFollowsTheNumericLocale) {
  EXPECT_EQ(DecimalSeparator(), '.');  // the "C" locale of a test process
}

TEST(ProcessTest, LocalNowIsAPlausibleDate) {
  const LocalDateTime now = LocalNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LT(now.millisecond, 1000);
}

}  // namespace
}  // namespace strata::platform
