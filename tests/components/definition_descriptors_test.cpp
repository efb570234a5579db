#include "components/definition_descriptors.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/index_file_header_layout.h"
#include "tests/components/error_message.h"

namespace strata {
namespace {

namespace fd = field_descriptor_layout;
namespace ix = index_descriptor_layout;

// Bytes expected at an offset of a 768-byte image (a run may cover the
// fields that follow the one named); every byte not listed must be zero.
using Placed = std::pair<std::size_t, std::vector<std::uint8_t>>;

template <std::size_t N>
void ExpectImage(const std::array<std::uint8_t, N>& image, std::initializer_list<Placed> placed) {
  std::array<std::uint8_t, N> expected{};
  for (const auto& [offset, bytes] : placed) {
    for (std::size_t i = 0; i < bytes.size(); ++i) expected[offset + i] = bytes[i];
  }
  for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(image[i], expected[i]) << "offset " << i;
}

std::vector<std::uint8_t> Text(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.size() + 1);
  bytes[0] = static_cast<std::uint8_t>(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i + 1] = static_cast<std::uint8_t>(text[i]);
  return bytes;
}

std::array<std::uint8_t, kFieldDescriptorSize> Encoded(const FieldDescriptor& d) {
  std::array<std::uint8_t, kFieldDescriptorSize> image{};
  d.Encode(image);
  return image;
}

std::array<std::uint8_t, kIndexDescriptorSize> Encoded(const IndexDescriptor& d) {
  std::array<std::uint8_t, kIndexDescriptorSize> image{};
  d.Encode(image);
  return image;
}

TEST(FieldDescriptorBuild, WritesDecimalPlacesOfABcdField) {
  TStrataFieldDefs defs;
  const TStrataFieldDef& def = defs.Add(0x0102, "Amount", ftBCD, 2, true);
  ExpectImage(Encoded(BuildFieldDescriptor(def)), {{fd::kFieldNumber, {0x02, 0x01}},
                                                   {fd::kName, Text("Amount")},
                                                   {fd::kEngineType, {8, 0}},
                                                   {fd::kDeclaredDecimals, {2}},
                                                   {fd::kRequired, {1}}});
}

TEST(FieldDescriptorBuild, HandsAGuidOverWithLength38) {
  TStrataFieldDefs defs;
  const TStrataFieldDef& def = defs.Add(3, "Key", ftGuid, 20, false, "CURRENT_GUID");
  ExpectImage(Encoded(BuildFieldDescriptor(def)), {{fd::kFieldNumber, {3}},
                                                   {fd::kName, Text("Key")},
                                                   {fd::kEngineType, {1, 50, 38, 0}},
                                                   {fd::kDefaultValue, Text("CURRENT_GUID")}});
}

TEST(FieldDescriptorBuild, CutsNameAndTextsAndWritesEveryProperty) {
  const std::string name(70, 'N');
  const std::string description(150, 'd');
  TStrataFieldDefs defs;
  const TStrataFieldDef& def =
      defs.Add(9, name, ftString, 65537, false, "abc", "a", "zz", description, fcLowerCase, 0);
  const FieldDescriptor d = BuildFieldDescriptor(def);
  EXPECT_EQ(d.Name, name.substr(0, 60));
  ExpectImage(Encoded(d), {{fd::kFieldNumber, {9}},
                           {fd::kName, Text(name.substr(0, fd::kNameLength))},
                           {fd::kDescription, Text(description.substr(0, fd::kTextLength))},
                           {fd::kEngineType, {1, 0, 1, 0}},  // size: low 16 bits
                           {fd::kCharCase, {1}},
                           {fd::kMinValue, Text("a")},
                           {fd::kMaxValue, Text("zz")},
                           {fd::kDefaultValue, Text("abc")}});
}

TEST(FieldDescriptorBuild, WritesNoSizeForFixedSizeTypes) {
  TStrataFieldDefs defs;
  const TStrataFieldDef& def =
      defs.Add(1, "Photo", ftGraphic, 0, false, "", "", "", "", fcNoChange, 9);
  ExpectImage(Encoded(BuildFieldDescriptor(def)), {{fd::kFieldNumber, {1}},
                                                   {fd::kName, Text("Photo")},
                                                   {fd::kEngineType, {3, 26}},
                                                   {fd::kCompression, {9}}});
}

class IndexDescriptorBuild : public testing::Test {
 protected:
  IndexDescriptorBuild() {
    fields_.Add(3, "BPDate", ftDate);
    fields_.Add(4, "BPTime", ftTime);
    fields_.Add(0x0201, "Title", ftString, 40);
  }
  TStrataFieldDefs fields_;
};

TEST_F(IndexDescriptorBuild, MakesEveryKeyFieldOfADescendingIndexDescending) {
  TStrataIndexDefs defs;
  const TStrataIndexDef& def =
      defs.Add("ByDate", "BPDate;BPTime", {ixDescending}, "", icDuplicateByte);
  ExpectImage(Encoded(BuildIndexDescriptor(fields_, def)),
              {{ix::kName, Text("ByDate")},
               {ix::kDescending, {1, 0, 0, 1, 2, 1, 1}},
               {ix::kFieldNumbers, {3, 0, 4, 0}}});
}

TEST_F(IndexDescriptorBuild, ResolvesNamesAndSystemFieldsAndMarksChosenDescendingFields) {
  const IndexDescriptor d = BuildIndexDescriptor(
      fields_, "Mixed", " title ; recordhash;BPTime ;RECORDID",
      {ixUnique, ixCaseInsensitive, ixPrimary}, "BPTime ; RecordID", icFull, false);
  ExpectImage(Encoded(d), {{ix::kName, Text("Mixed")},
                           {ix::kCaseInsensitive, {1, 1, 3, 4}},
                           {ix::kDescendingFields, {0, 0, 1, 1}},
                           {ix::kFieldNumbers, {0x01, 0x02, 0xFE, 0xFF, 4, 0, 0xFF, 0xFF}}});
}

TEST_F(IndexDescriptorBuild, RecordIdNeedsNoFieldDefinition) {
  const IndexDescriptor d =
      BuildIndexDescriptor(TStrataFieldDefs{}, "", "RecordID", {ixPrimary}, "", icNone, false);
  EXPECT_EQ(d.FieldCount, 1);
  EXPECT_EQ(d.FieldNumbers[0], 65535);
}

TEST_F(IndexDescriptorBuild, FullTextDescriptorWithoutFieldsHasNoKeyFields) {
  const IndexDescriptor d = BuildIndexDescriptor(fields_, "Sys Text", "", {}, "", icFull, true);
  ExpectImage(Encoded(d),
              {{ix::kName, Text("Sys Text")}, {ix::kCompression, {3}}, {ix::kFullText, {1}}});
}

TEST_F(IndexDescriptorBuild, NamesAMissingKeyOrDescendingField) {
  EXPECT_EQ(DatabaseErrorOf(
                [&] { BuildIndexDescriptor(fields_, "X", "BPDate;Nope", {}, "", icNone, false); }),
            "Field 'Nope' not found");
  EXPECT_EQ(DatabaseErrorOf(
                [&] { BuildIndexDescriptor(fields_, "X", "BPDate", {}, "Gone", icNone, false); }),
            "Field 'Gone' not found");
}

TEST_F(IndexDescriptorBuild, TakesAtMost128KeyFields) {
  std::string keys = "BPDate";
  for (int i = 0; i < 130; ++i) keys += ";BPTime";
  const IndexDescriptor d = BuildIndexDescriptor(fields_, "Wide", keys, {}, "", icNone, false);
  EXPECT_EQ(d.FieldCount, 128);
  EXPECT_EQ(d.FieldNumbers[127], 4);
}

}  // namespace
}  // namespace strata
