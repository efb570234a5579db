#include "engine/errors/set_aside.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace strata {
namespace {

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(SetAsideError, RunsTheStepAndDropsWhateverItThrows) {
  int runs = 0;
  SetAsideError("test", [&] { ++runs; });
  SetAsideError("test", [&] {
    ++runs;
    throw std::runtime_error("dropped");
  });
  SetAsideError("test", [&] {
    ++runs;
    throw 7;  // not derived from std::exception
  });
  EXPECT_EQ(runs, 3);
}

TEST(KeepFirstError, KeepsTheEarliestErrorAndRunsEveryStep) {
  std::exception_ptr first;
  int runs = 0;
  KeepFirstError(first, [&] { ++runs; });
  EXPECT_FALSE(first);
  KeepFirstError(first, [&] {
    ++runs;
    throw std::runtime_error("first");
  });
  KeepFirstError(first, [&] {
    ++runs;
    throw std::runtime_error("second");
  });
  KeepFirstError(first, [&] { ++runs; });
  EXPECT_EQ(runs, 4);
  ASSERT_TRUE(first);
  EXPECT_EQ(MessageOf(first), "first");
}

}  // namespace
}  // namespace strata
