#include "engine/core/schema/restructure_plan.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/errors/engine_error.h"
#include "tests/support/definitions.h"

namespace strata {
namespace {

using testing::FieldDef;
using testing::IndexDef;

TEST(RestructurePlanTest, AKeyFieldThatNamesNoFieldIsNamedByItsNumber) {
  const std::vector<FieldDescriptor> oldFields = {FieldDef(1, "Name").String(20)};
  const std::vector<FieldDescriptor> newFields = {FieldDef(1, "Name").String(20),
                                                  FieldDef(3, "Count").Integer()};
  const IndexDescriptor index = IndexDef("ByCount", {3});
  try {
    IndexDescriptorsDiffer(index, index, oldFields, newFields, "items", "books");
    ADD_FAILURE() << "no error raised";
  } catch (const EStrataEngineError& error) {
    EXPECT_EQ(error.Code, STRATA_OUTOFRANGE);
    EXPECT_EQ(error.FieldName, "3");
    EXPECT_EQ(error.IndexName, "ByCount");
    EXPECT_EQ(error.Message(),
              "Strata Engine Error # 9985 Invalid field number or name '3' specified for the "
              "table 'items'");
  }
}

}  // namespace
}  // namespace strata
