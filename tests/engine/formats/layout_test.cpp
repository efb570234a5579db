#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "engine/formats/data_file_header.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {
namespace {

TEST(DataFileHeaderLayout, PlacesEveryFieldAtItsOffset) {
  DataFileHeader h;
  h.ChangeCount = 0x01020304;
  h.SignatureDigest.fill(0xAB);
  h.FirstFreeRecord = 7;
  h.NextRecordNumber = 9;
  h.LastRecordID = 0x11;
  h.LastAutoIncValue = 0x22;
  h.RecordCount = 0x33;
  h.RecordSize = 56;
  h.FieldCount = 3;
  h.BlobFieldCount = 1;
  h.BlobBlockSize = 512;
  h.LastBlobRevision = 0x44;
  h.IndexPageSize = 4096;
  h.LastUpdated = 1.5;
  h.Description = "Accents";
  h.Encrypted = 1;
  h.PasswordCheck.fill(0xCD);
  h.LocaleID = 2057;
  h.UserMajorVersion = 1;
  h.UserMinorVersion = 2;
  h.HeaderModified = true;

  std::array<std::uint8_t, kDataHeaderSize> image{};
  h.Encode(image);
  const std::array<std::pair<std::size_t, std::uint8_t>, 27> expected = {{
      {0, 0x04}, {3, 0x01}, {8, 6}, {9, 0xAB}, {24, 0xAB}, {25, 7}, {29, 9}, {33, 0x11},
      {37, 0x22}, {41, 0x33}, {45, 56}, {47, 3}, {49, 1}, {51, 0x00}, {52, 0x02}, {55, 0x44},
      {59, 0x00}, {60, 0x10}, {70, 0x3F}, {71, 7}, {72, 'A'}, {172, 1}, {173, 0xCD},
      {189, 0x09}, {190, 0x08}, {193, 1}, {195, 2},
  }};
  for (const auto& [offset, byte] : expected) EXPECT_EQ(image[offset], byte) << "offset " << offset;
  EXPECT_EQ(image[197], 1);
  for (std::size_t i = 198; i < kDataHeaderSize; ++i) ASSERT_EQ(image[i], 0) << i;

  DataFileHeader back;
  ASSERT_TRUE(back.Decode(image));
  EXPECT_FALSE(back.HeaderModified);  // never taken from the file
  back.HeaderModified = true;
  std::array<std::uint8_t, kDataHeaderSize> again{};
  back.Encode(again);
  EXPECT_EQ(image, again);
}

TEST(DataFileHeaderLayout, RejectsAnOverlongDescriptionLength) {
  std::array<std::uint8_t, kDataHeaderSize> image{};
  image[71] = 101;
  DataFileHeader h;
  EXPECT_FALSE(h.Decode(image));
}

TEST(FieldDescriptorLayout, PlacesEveryFieldAtItsOffset) {
  FieldDescriptor d;
  d.FieldNumber = 2;
  d.Name = "Cost";
  d.Description = "d";
  d.EngineType = 8;
  d.SubType = 0;
  d.DeclaredLength = 0;
  d.DeclaredDecimals = 2;
  d.PhysicalSize = 34;
  d.PhysicalDecimals = 2;
  d.FieldOffset = 37;
  d.Required = 1;
  d.CharCase = 2;
  d.MinValue = "0";
  d.MaxValue = "99";
  d.DefaultValue = "1.5";
  d.Compression = 0;

  std::array<std::uint8_t, kFieldDescriptorSize> image{};
  d.Encode(image);
  const std::array<std::pair<std::size_t, std::uint8_t>, 17> expected = {{
      {0, 2}, {2, 4}, {3, 'C'}, {6, 't'}, {63, 1}, {64, 'd'}, {164, 8}, {168, 2}, {169, 34},
      {171, 2}, {172, 37}, {174, 1}, {175, 2}, {176, 1}, {277, 2}, {378, 3}, {381, '5'},
  }};
  for (const auto& [offset, byte] : expected) EXPECT_EQ(image[offset], byte) << "offset " << offset;
  for (std::size_t i = 479; i < kFieldDescriptorSize; ++i) ASSERT_EQ(image[i], 0) << i;

  FieldDescriptor back;
  ASSERT_TRUE(back.Decode(image));
  EXPECT_EQ(back, d);
}

TEST(FieldDescriptorLayout, CutsLongTextsAndRejectsBadLengths) {
  FieldDescriptor d;
  d.Name = std::string(70, 'n');
  std::array<std::uint8_t, kFieldDescriptorSize> image{};
  d.Encode(image);
  EXPECT_EQ(image[2], 60);
  FieldDescriptor back;
  ASSERT_TRUE(back.Decode(image));
  EXPECT_EQ(back.Name, std::string(60, 'n'));

  image[2] = 61;  // a name longer than its 60-character slot
  EXPECT_FALSE(back.Decode(image));
}

}  // namespace
}  // namespace strata

namespace strata {
namespace {

TEST(IndexFileLayout, HeaderAndDescriptorOffsets) {
  IndexFileHeader h;
  h.ChangeCount = 5;
  h.FirstFreePage = 3;
  h.NextPageNumber = 10;
  h.SecondaryIndexCount = 2;
  h.RootPage[0] = 1;
  h.RootPage[31] = 0x0102;
  h.AuxPage[31] = 9;
  std::array<std::uint8_t, kIndexHeaderSize> image{};
  h.Encode(image);
  EXPECT_EQ(image[0], 5);
  EXPECT_EQ(image[8], 6);
  EXPECT_EQ(image[25], 3);
  EXPECT_EQ(image[29], 10);
  EXPECT_EQ(image[33], 2);
  EXPECT_EQ(image[34], 1);
  EXPECT_EQ(image[34 + 4 * 31], 0x02);
  EXPECT_EQ(image[34 + 4 * 31 + 1], 0x01);
  EXPECT_EQ(image[162 + 4 * 31], 9);
  EXPECT_EQ(kFirstIndexPageOffset, 25088);
  IndexFileHeader back;
  back.Decode(image);
  EXPECT_EQ(back.RootPage, h.RootPage);
  EXPECT_EQ(back.AuxPage, h.AuxPage);

  IndexDescriptor d;
  d.Name = "Sys Text";
  d.KeyLength = 68;
  d.Compression = 3;
  d.FieldCount = 2;
  d.FieldNumbers[0] = 3;
  d.FieldNumbers[1] = 65535;
  d.DescendingFields[1] = 1;
  d.FullText = 1;
  std::array<std::uint8_t, kIndexDescriptorSize> di{};
  d.Encode(di);
  EXPECT_EQ(di[0], 8);
  EXPECT_EQ(di[1], 'S');
  EXPECT_EQ(di[61], 68);
  EXPECT_EQ(di[129], 3);
  EXPECT_EQ(di[130], 2);
  EXPECT_EQ(di[132], 1);
  EXPECT_EQ(di[259], 3);
  EXPECT_EQ(di[261], 0xFF);
  EXPECT_EQ(di[262], 0xFF);
  EXPECT_EQ(di[515], 1);
  IndexDescriptor dback;
  ASSERT_TRUE(dback.Decode(di));
  EXPECT_EQ(dback, d);
}

}  // namespace
}  // namespace strata
