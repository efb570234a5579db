#include "components/field_defs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/components/error_message.h"

namespace strata {
namespace {

struct SizeCase {
  TFieldType Type;
  std::int32_t Size;
  bool Accepted;
};

TEST(FieldDefsAdd, AppliesTheSizeRuleOfEachType) {
  const SizeCase cases[] = {
      {ftString, 0, true},    {ftString, 1, true},        {ftString, 512, true},
      {ftString, 513, false}, {ftString, 65537, true},    {ftString, 65536, false},
      {ftString, -1, false},  {ftWideString, 513, false}, {ftGuid, 38, true},
      {ftBytes, 512, true},   {ftVarBytes, 600, false},   {ftBCD, 2, true},
      {ftBCD, 32, true},      {ftBCD, 33, false},         {ftInteger, 4, false},
      {ftInteger, 0, true},   {ftArray, 10, false},       {ftVariant, 1, false},
      {ftUnknown, 7, true},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.Type} << " size " << c.Size);
    TStrataFieldDefs defs;
    defs.Add("Kept", ftInteger);
    const std::string error = DatabaseErrorOf([&] { defs.Add("F", c.Type, c.Size); });
    if (c.Accepted) {
      EXPECT_EQ(error, "");
      ASSERT_EQ(defs.Count(), 2u);
      EXPECT_EQ(defs[1].Size(), c.Size);
    } else {
      EXPECT_EQ(error, "Invalid field size");
      ASSERT_EQ(defs.Count(), 1u);  // a failed add leaves the collection as it was
      EXPECT_EQ(defs[0].Name(), "Kept");
    }
  }
}

TEST(FieldDefsAdd, RefusesAnEmptyName) {
  TStrataFieldDefs defs;
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Add("", ftString, 10); }), "Field name missing");
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Add(5, "", ftString, 10); }), "Field name missing");
  EXPECT_EQ(defs.Count(), 0u);
}

TEST(FieldDefsAdd, StoresEveryArgument) {
  TStrataFieldDefs defs;
  defs.Add("Plain", ftString, 30);
  const TStrataFieldDef& def =
      defs.Add(7, "Note", ftMemo, 0, true, "'x'", "a", "z", "A note", fcUpperCase, 6);
  EXPECT_EQ(defs[0].FieldNo(), 0);
  EXPECT_EQ(defs[0].Size(), 30);
  EXPECT_FALSE(defs[0].Required());
  EXPECT_EQ(def.FieldNo(), 7);
  EXPECT_EQ(def.Name(), "Note");
  EXPECT_EQ(def.DataType(), ftMemo);
  EXPECT_EQ(def.Attributes().Bits(), 4);
  EXPECT_EQ(def.DefaultValue(), "'x'");
  EXPECT_EQ(def.MinValue(), "a");
  EXPECT_EQ(def.MaxValue(), "z");
  EXPECT_EQ(def.Description(), "A note");
  EXPECT_EQ(def.CharCase(), fcUpperCase);
  EXPECT_EQ(def.Compression(), 6);
}

TEST(FieldDef, DataTypeSetsTheDefaultSize) {
  const std::pair<TFieldType, std::int32_t> cases[] = {
      {ftString, 20}, {ftFixedChar, 20}, {ftWideString, 20}, {ftGuid, 38},   {ftBCD, 4},
      {ftBytes, 16},  {ftVarBytes, 16},  {ftArray, 10},      {ftInteger, 0}, {ftMemo, 0},
  };
  for (const auto& [type, size] : cases) {
    TStrataFieldDef def;
    def.SetDataType(ftString);
    def.SetSize(100);
    def.SetDataType(type);
    EXPECT_EQ(def.Size(), size) << int{type};
  }
}

TEST(FieldDef, RefusedSizeLeavesTheSizeUnchanged) {
  TStrataFieldDef def;
  def.SetDataType(ftString);
  def.SetSize(40);
  EXPECT_EQ(DatabaseErrorOf([&] { def.SetSize(513); }), "Invalid field size");
  EXPECT_EQ(def.Size(), 40);
}

TEST(FieldDef, RequiredTogglesOnlyItsAttribute) {
  TStrataFieldDef def;
  def.SetAttributes(TFieldAttributes::FromBits(0x11));
  def.SetRequired(true);
  EXPECT_EQ(def.Attributes().Bits(), 0x15);
  def.SetRequired(false);
  EXPECT_EQ(def.Attributes().Bits(), 0x11);
}

TEST(FieldDefsFind, MatchesNamesWithoutRegardToCase) {
  TStrataFieldDefs defs;
  defs.Add("BPDate", ftDate);
  defs.Add("BPTime", ftTime);
  EXPECT_EQ(&defs.Find("bptime"), &defs[1]);
  EXPECT_EQ(defs.IndexOf("BPDATE"), 0);
  EXPECT_EQ(DatabaseErrorOf([&] { defs.Find("BPDat"); }), "Field 'BPDat' not found");
  defs.Clear();
  EXPECT_EQ(defs.Count(), 0u);
  EXPECT_EQ(defs.IndexOf("BPDate"), -1);
}

TEST(FieldTypeMapping, HandsTheStoredTypesToTheEngine) {
  struct Case {
    TFieldType Type;
    std::uint8_t EngineType, SubType;
  };
  const Case cases[] = {
      {ftString, 1, 0},      {ftSmallint, 5, 0},  {ftInteger, 6, 0},   {ftWord, 12, 0},
      {ftBoolean, 4, 0},     {ftFloat, 7, 0},     {ftCurrency, 7, 21}, {ftBCD, 8, 0},
      {ftDate, 2, 0},        {ftTime, 10, 0},     {ftDateTime, 11, 0}, {ftBytes, 9, 0},
      {ftVarBytes, 15, 0},   {ftAutoInc, 6, 29},  {ftBlob, 3, 0},      {ftMemo, 3, 22},
      {ftGraphic, 3, 26},    {ftFmtMemo, 3, 22},  {ftCursor, 17, 0},   {ftFixedChar, 1, 31},
      {ftWideString, 1, 32}, {ftLargeint, 18, 0}, {ftOraClob, 3, 0},   {ftGuid, 1, 50},
      {ftUnknown, 0, 0},     {ftVariant, 0, 0},   {ftFMTBcd, 0, 0},
  };
  for (const Case& c : cases) {
    const EngineFieldType engine = EngineFieldTypeOf(c.Type);
    EXPECT_EQ(engine.Type, c.EngineType) << int{c.Type};
    EXPECT_EQ(engine.SubType, c.SubType) << int{c.Type};
  }
  EXPECT_EQ(EngineFieldTypeOf(static_cast<TFieldType>(200)).Type, 0);
}

}  // namespace
}  // namespace strata
