#include "update/progress_handler.h"

#include <gtest/gtest.h>

#include "engine/values/convert_error.h"

namespace strata {
namespace {

class AlterProgressTest : public ::testing::Test {
 protected:
  ProgressCounter hundred_{100};
  ProgressCounter fifty_{50};
  ProgressCounter three_{3};
};

TEST_F(AlterProgressTest, PercentBecomesThePositionOfAHundredStepBar) {
  TProgressHandler handler(&hundred_);
  for (std::uint16_t percent : {0, 37, 100, 5, 99}) {
    handler.AlterProgress(nullptr, percent);
    EXPECT_EQ(hundred_.Position(), percent);
  }
}

TEST_F(AlterProgressTest, WithoutABarNothingHappens) {
  TProgressHandler handler(nullptr);
  EXPECT_NO_THROW(handler.AlterProgress(nullptr, 50));
}

TEST_F(AlterProgressTest, OtherMaximumsScaleOrFailOnAFraction) {
  TProgressHandler fifty(&fifty_);
  fifty.AlterProgress(nullptr, 40);
  EXPECT_EQ(fifty_.Position(), 20);
  try {
    fifty.AlterProgress(nullptr, 37);
    FAIL() << "no error for 18.5";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'18.5' is not a valid integer value");
  }
  EXPECT_EQ(fifty_.Position(), 20);

  TProgressHandler three(&three_);
  EXPECT_THROW(three.AlterProgress(nullptr, 10), EConvertError);  // 0.3
}

TEST_F(AlterProgressTest, EachHandlerMovesOnlyItsOwnBar) {
  TProgressHandler first(&hundred_);
  TProgressHandler second(&fifty_);
  first.AlterProgress(nullptr, 30);
  second.AlterProgress(nullptr, 80);
  TProgressHandler(nullptr).AlterProgress(nullptr, 60);
  EXPECT_EQ(hundred_.Position(), 30);
  EXPECT_EQ(fifty_.Position(), 40);
}

TEST(ProgressDisplayTest, StepPastTheEndStartsTheBarOver) {
  EXPECT_EQ(SteppedPosition(0, 1, 0, 63), 1);
  EXPECT_EQ(SteppedPosition(62, 1, 0, 63), 63);
  EXPECT_EQ(SteppedPosition(63, 1, 0, 63), 0);
  EXPECT_EQ(SteppedPosition(5, 1, 5, 5), 5);
  EXPECT_EQ(SteppedPosition(0, -1, 0, 10), 10);
  EXPECT_EQ(ClampedPosition(200, 0, 100), 100);
  EXPECT_EQ(ClampedPosition(-3, 0, 100), 0);
}

}  // namespace
}  // namespace strata
