#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "engine/formats/blob_block_layout.h"
#include "engine/formats/blob_file_header_layout.h"
#include "engine/formats/data_file_header.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"
#include "engine/formats/index_key_layout.h"
#include "engine/formats/index_page_layout.h"
#include "engine/formats/record_layout.h"

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

namespace strata {
namespace {

// The named offsets and sizes every reader, writer and test goes by, pinned
// to the bytes of the files: a changed name here moves a field on disk.
struct Pin {
  const char* name;
  std::size_t value;
  std::size_t expected;
};

void ExpectPins(std::initializer_list<Pin> pins) {
  for (const Pin& pin : pins) EXPECT_EQ(pin.value, pin.expected) << pin.name;
}

#define PIN(name, expected) Pin{#name, static_cast<std::size_t>(name), expected}

TEST(LayoutNames, DataFileHeader) {
  using namespace data_header_layout;
  ExpectPins({
      PIN(kDataHeaderSize, 512), PIN(kChangeCount, 0), PIN(kChangeCountSize, 4),
      PIN(kFormatVersion, 8), PIN(kFormatVersionSize, 1), PIN(kSignatureDigest, 9),
      PIN(kSignatureDigestSize, 16), PIN(kFirstFreeRecord, 25), PIN(kFirstFreeRecordSize, 4),
      PIN(kNextRecordNumber, 29), PIN(kNextRecordNumberSize, 4), PIN(kLastRecordID, 33),
      PIN(kLastRecordIDSize, 4), PIN(kLastAutoIncValue, 37), PIN(kLastAutoIncValueSize, 4),
      PIN(kRecordCount, 41), PIN(kRecordCountSize, 4), PIN(kRecordSize, 45),
      PIN(kRecordSizeSize, 2), PIN(kFieldCount, 47), PIN(kFieldCountSize, 2),
      PIN(kBlobFieldCount, 49), PIN(kBlobFieldCountSize, 2), PIN(kBlobBlockSize, 51),
      PIN(kBlobBlockSizeSize, 4), PIN(kLastBlobRevision, 55), PIN(kLastBlobRevisionSize, 4),
      PIN(kIndexPageSize, 59), PIN(kIndexPageSizeSize, 4), PIN(kLastUpdated, 63),
      PIN(kLastUpdatedSize, 8), PIN(kDescription, 71), PIN(kDescriptionLength, 100),
      PIN(kDescriptionSize, 101), PIN(kEncrypted, 172), PIN(kEncryptedSize, 1),
      PIN(kPasswordCheck, 173), PIN(kPasswordCheckSize, 16), PIN(kLocaleID, 189),
      PIN(kLocaleIDSize, 4), PIN(kUserMajorVersion, 193), PIN(kUserMajorVersionSize, 2),
      PIN(kUserMinorVersion, 195), PIN(kUserMinorVersionSize, 2), PIN(kHeaderModified, 197),
      PIN(kHeaderModifiedSize, 1), PIN(kFieldDescriptors, 512),
  });
}

TEST(LayoutNames, FieldDescriptor) {
  using namespace field_descriptor_layout;
  ExpectPins({
      PIN(kFieldDescriptorSize, 768), PIN(kFieldNumber, 0), PIN(kFieldNumberSize, 2),
      PIN(kName, 2), PIN(kNameLength, 60), PIN(kNameSize, 61), PIN(kTextLength, 100),
      PIN(kDescription, 63), PIN(kDescriptionSize, 101), PIN(kEngineType, 164),
      PIN(kEngineTypeSize, 1), PIN(kSubType, 165), PIN(kSubTypeSize, 1),
      PIN(kDeclaredLength, 166), PIN(kDeclaredLengthSize, 2), PIN(kDeclaredDecimals, 168),
      PIN(kDeclaredDecimalsSize, 1), PIN(kPhysicalSize, 169), PIN(kPhysicalSizeSize, 2),
      PIN(kPhysicalDecimals, 171), PIN(kPhysicalDecimalsSize, 1), PIN(kFieldOffset, 172),
      PIN(kFieldOffsetSize, 2), PIN(kRequired, 174), PIN(kRequiredSize, 1),
      PIN(kCharCase, 175), PIN(kCharCaseSize, 1), PIN(kMinValue, 176),
      PIN(kMinValueSize, 101), PIN(kMaxValue, 277), PIN(kMaxValueSize, 101),
      PIN(kDefaultValue, 378), PIN(kDefaultValueSize, 101), PIN(kCompression, 479),
      PIN(kCompressionSize, 1), PIN(kComputed, 480), PIN(kComputedSize, 1),
  });
}

TEST(LayoutNames, Record) {
  using namespace record_layout;
  ExpectPins({
      PIN(kStatus, 0), PIN(kStatusSize, 1), PIN(kLink, 1), PIN(kLinkSize, 4), PIN(kId, 5),
      PIN(kIdSize, 4), PIN(kHash, 9), PIN(kHashSize, 16), PIN(kFirstFieldOffset, 25),
      PIN(kNullFlagSize, 1), PIN(kBlobFirstBlock, 0), PIN(kBlobFirstBlockSize, 4),
      PIN(kBlobRevision, 4), PIN(kBlobRevisionSize, 4), PIN(kBlobReferenceSize, 8),
  });
}

TEST(LayoutNames, IndexFileHeaderAndDescriptor) {
  {
    using namespace index_header_layout;
    ExpectPins({
        PIN(kIndexHeaderSize, 512), PIN(kIndexDescriptorSize, 768), PIN(kIndexSlotCount, 32),
        PIN(kMaxKeyFields, 128), PIN(kDescriptorAreaSize, 24576),
        PIN(kFirstIndexPageOffset, 25088), PIN(kChangeCount, 0), PIN(kChangeCountSize, 4),
        PIN(kFormatVersion, 8), PIN(kFormatVersionSize, 1), PIN(kSignatureDigest, 9),
        PIN(kSignatureDigestSize, 16), PIN(kFirstFreePage, 25), PIN(kFirstFreePageSize, 4),
        PIN(kNextPageNumber, 29), PIN(kNextPageNumberSize, 4), PIN(kSecondaryIndexCount, 33),
        PIN(kSecondaryIndexCountSize, 1), PIN(kPageNumberSize, 4), PIN(kRootPage, 34),
        PIN(kRootPageSize, 128), PIN(kAuxPage, 162), PIN(kAuxPageSize, 128),
        PIN(kHeaderModified, 290), PIN(kHeaderModifiedSize, 1), PIN(kDescriptors, 512),
    });
  }
  using namespace index_descriptor_layout;
  ExpectPins({
      PIN(kName, 0), PIN(kNameLength, 60), PIN(kNameSize, 61), PIN(kKeyLength, 61),
      PIN(kKeyLengthSize, 2), PIN(kDescending, 126), PIN(kDescendingSize, 1),
      PIN(kCaseInsensitive, 127), PIN(kCaseInsensitiveSize, 1), PIN(kUnique, 128),
      PIN(kUniqueSize, 1), PIN(kCompression, 129), PIN(kCompressionSize, 1),
      PIN(kFieldCount, 130), PIN(kFieldCountSize, 1), PIN(kDescendingFields, 131),
      PIN(kDescendingFieldsSize, 128), PIN(kFieldNumberSize, 2), PIN(kFieldNumbers, 259),
      PIN(kFieldNumbersSize, 256), PIN(kFullText, 515), PIN(kFullTextSize, 1),
  });
}

TEST(LayoutNames, IndexPageAndKey) {
  {
    using namespace index_page_layout;
    ExpectPins({
        PIN(kPageHeaderSize, 13), PIN(kPageType, 0), PIN(kPageTypeSize, 1),
        PIN(kEntryCount, 1), PIN(kEntryCountSize, 2), PIN(kPrevPage, 3), PIN(kPrevPageSize, 4),
        PIN(kNextPage, 7), PIN(kNextPageSize, 4), PIN(kUsedBytes, 11), PIN(kUsedBytesSize, 2),
        PIN(kPointerSize, 4), PIN(kKeyCountSize, 4), PIN(kDupCountSize, 1),
        PIN(kTrailCountSize, 1), PIN(kMinPackedLeafEntrySize, 5), PIN(kMinTrailedRest, 5),
    });
  }
  using namespace index_key_layout;
  ExpectPins({
      PIN(kRecordIdSuffixLength, 4), PIN(kFullTextKeyLength, 68), PIN(kFullTextWordLength, 61),
      PIN(kNullFlagSize, 1), PIN(kTextFlag, 0), PIN(kTextFlagSize, 1), PIN(kTextFieldNumber, 1),
      PIN(kTextFieldNumberSize, 2), PIN(kTextWord, 3), PIN(kTextWordSize, 61),
      PIN(kTextRecordId, 64), PIN(kTextRecordIdSize, 4),
  });
}

TEST(LayoutNames, BlobFileHeaderAndBlock) {
  {
    using namespace blob_header_layout;
    ExpectPins({
        PIN(kBlobHeaderSize, 512), PIN(kChangeCount, 0), PIN(kChangeCountSize, 4),
        PIN(kFormatVersion, 8), PIN(kFormatVersionSize, 1), PIN(kSignatureDigest, 9),
        PIN(kSignatureDigestSize, 16), PIN(kFirstFreeBlock, 25), PIN(kFirstFreeBlockSize, 4),
        PIN(kNextBlockNumber, 29), PIN(kNextBlockNumberSize, 4), PIN(kHeaderModified, 33),
        PIN(kHeaderModifiedSize, 1), PIN(kBlocks, 512),
    });
  }
  using namespace blob_block_layout;
  ExpectPins({
      PIN(kBlockHeaderSize, 18), PIN(kPrevBlock, 0), PIN(kPrevBlockSize, 4), PIN(kNextBlock, 4),
      PIN(kNextBlockSize, 4), PIN(kDataLength, 8), PIN(kDataLengthSize, 2),
      PIN(kBlobRevision, 10), PIN(kBlobRevisionSize, 4), PIN(kBlobLength, 14),
      PIN(kBlobLengthSize, 4), PIN(kPayload, 18),
  });
}

#undef PIN

}  // namespace
}  // namespace strata
