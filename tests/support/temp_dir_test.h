// TempDirTest: a test fixture with a private temporary directory, removed
// with everything in it after the test, and helpers to put a file there and
// read one back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/process.h"

namespace strata::testing {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = platform::TemporaryPath() + "strata-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The path of the file written.
  std::string Put(const std::string& name, const std::string& content) {
    std::ofstream(dir_ + name, std::ios::binary) << content;
    return dir_ + name;
  }
  std::string Slurp(const std::string& name) const {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Ends with a slash.
  std::string dir_;
};

}  // namespace strata::testing
