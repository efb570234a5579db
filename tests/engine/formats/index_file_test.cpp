#include "engine/formats/index_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_file_header_layout.h"
#include "engine/formats/index_page_layout.h"
#include "engine/formats/index_tree.h"
#include "tests/engine/formats/index_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

namespace header = index_header_layout;
namespace entry = index_descriptor_layout;

// Where a descriptor slot starts in the file.
constexpr std::int64_t SlotAt(int slot) {
  return header::kDescriptors + kIndexDescriptorSize * slot;
}

class IndexFileDefinitions : public testing::IndexFileTest {
 protected:
  // The default primary index, ByName and ByCity, and a full-text index
  // over the memo.
  void CreateSound() {
    Create();
    file_->DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), fields_);
    file_->AddSecondaryIndex(IndexDef("ByName", {1, 2}).Compression(3), fields_);
    file_->AddSecondaryIndex(IndexDef("ByCity", {5}).Unique(), fields_);
    IndexDescriptor text = TIndexFile::EmptyTextDescriptor();
    text.FieldCount = 1;
    text.FieldNumbers[0] = 4;
    file_->SetTextIndex(text, fields_);
    file_->WriteHeader(true);
  }

  std::vector<FieldDescriptor> fields_ =
      MakeFields({{"Name", kTypeString, 20}, {"Count", kTypeInteger, 0},
                  {"Photo", kTypeBlob, kSubTypeGraphic}, {"Notes", kTypeBlob, kSubTypeMemo},
                  {"City", kTypeString, 30}});
};

TEST_F(IndexFileDefinitions, StoresHeaderAndDescriptors) {
  CreateSound();
  const auto bytes = FileBytes();
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kFirstIndexPageOffset));
  EXPECT_EQ(testing::I32At(bytes, header::kChangeCount), 1);
  EXPECT_EQ(bytes[header::kFormatVersion], 6);
  const auto digest = bytes.begin() + header::kSignatureDigest;
  EXPECT_EQ(std::vector<std::uint8_t>(digest, digest + header::kSignatureDigestSize),
            std::vector<std::uint8_t>(kDefaultSignatureDigest.begin(), kDefaultSignatureDigest.end()));
  EXPECT_EQ(testing::I32At(bytes, header::kNextPageNumber), 1);
  EXPECT_EQ(bytes[header::kSecondaryIndexCount], 2);
  EXPECT_EQ(testing::U16At(bytes, SlotAt(0) + entry::kKeyLength), 5);
  EXPECT_EQ(testing::U16At(bytes, SlotAt(0) + entry::kFieldNumbers), 65535);
  EXPECT_EQ(testing::U16At(bytes, SlotAt(1) + entry::kKeyLength), 22 + 5 + 4);
  EXPECT_EQ(bytes[SlotAt(1) + entry::kCompression], 3);
  EXPECT_EQ(testing::U16At(bytes, SlotAt(2) + entry::kKeyLength), 32);
  EXPECT_EQ(bytes[SlotAt(31) + entry::kName], 8);
  EXPECT_EQ(testing::U16At(bytes, SlotAt(31) + entry::kKeyLength), 68);
  EXPECT_EQ(bytes[SlotAt(31) + entry::kCompression], 3);
  EXPECT_EQ(bytes[SlotAt(31) + entry::kFullText], 1);

  Reopen();
  file_->VerifyHeader(fields_);
  EXPECT_EQ(file_->Descriptor(1).Name, "ByName");
  EXPECT_TRUE(file_->IndexExists(" bycity "));
  EXPECT_FALSE(file_->IndexExists("ByStreet"));
  EXPECT_TRUE(file_->IsDefaultPrimary());
}

TEST_F(IndexFileDefinitions, OpeningRefusesOldForeignAndOverfullHeaders) {
  struct Case {
    std::int64_t offset;
    std::string bytes;
    ErrorCode code;
  };
  const Case cases[] = {
      {header::kFormatVersion, "05", STRATA_OLDVERSION},
      {header::kFormatVersion, "07", STRATA_BADSIGNATURE},
      {header::kSignatureDigest, "00", STRATA_BADSIGNATURE},
      {header::kSecondaryIndexCount, "1F", STRATA_HEADERCORRUPT},
      {SlotAt(1) + entry::kName, "3D", STRATA_HEADERCORRUPT},  // a name longer than 60
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    CreateSound();
    file_->Close();
    PutFileBytes(c.offset, Hex(c.bytes));
    file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, 1024);
    EXPECT_EQ(CodeOf([&] { file_->Open(); }), c.code);
    EXPECT_FALSE(file_->IsOpen());
  }
  // A file stamped with the default signature opens under another one.
  CreateSound();
  file_->Close();
  owner_.signature.fill(0x11);
  file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, 1024);
  EXPECT_EQ(CodeOf([&] { file_->Open(); }), 0);
}

TEST_F(IndexFileDefinitions, VerifyHeaderChecksEveryDescriptorAndPageNumber) {
  struct Case {
    const char* what;
    std::int64_t offset;
    std::string bytes;
  };
  const Case cases[] = {
      {"free page outside the file", header::kFirstFreePage, "01"},
      {"root page outside the file", header::kRootPage + header::kPageNumberSize, "01"},
      {"full-text chain outside the file",
       header::kAuxPage + header::kPageNumberSize * kFullTextSlot, "01"},
      {"named primary index", SlotAt(0) + entry::kName, "01 58"},
      {"primary index not unique", SlotAt(0) + entry::kUnique, "00"},
      {"bad first character", SlotAt(1) + entry::kName + 1, "39"},
      {"two indexes of one name", SlotAt(2) + entry::kName, "06 42 59 4E 41 4D 45"},
      {"no key fields", SlotAt(1) + entry::kFieldCount, "00"},
      {"a gap in the field list", SlotAt(1) + entry::kFieldNumbers + 3 * entry::kFieldNumberSize,
       "01 00"},
      {"a field the table lacks", SlotAt(1) + entry::kFieldNumbers, "09 00"},
      {"a BLOB key field", SlotAt(2) + entry::kFieldNumbers, "03 00"},
      {"a stored key length of another size", SlotAt(2) + entry::kKeyLength, "21"},
      {"a full-text index of another key length", SlotAt(31) + entry::kKeyLength, "43"},
      {"a full-text index without compression", SlotAt(31) + entry::kCompression, "00"},
      {"a full-text index over a number", SlotAt(31) + entry::kFieldNumbers, "02 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CreateSound();
    file_->Close();
    PutFileBytes(c.offset, Hex(c.bytes));
    file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, 1024);
    file_->Open();
    EXPECT_EQ(CodeOf([&] { file_->VerifyHeader(fields_); }), STRATA_HEADERCORRUPT);
  }
}

TEST_F(IndexFileDefinitions, RefusesBadIndexDefinitions) {
  CreateSound();
  std::vector<std::uint16_t> tooMany(129, 1);
  const std::vector<FieldDescriptor> wide = MakeFields({{"Wide", kTypeString, 400}});
  struct Case {
    IndexDescriptor index;
    std::span<const FieldDescriptor> fields;
    ErrorCode code;
  };
  const Case cases[] = {
      {IndexDef("", {1}).Unique(), fields_, STRATA_INDEXNAMEREQUIRED},
      {IndexDef("   ", {1}).Unique(), fields_, STRATA_INDEXNAMEREQUIRED},
      {IndexDef("9Lives", {1}).Unique(), fields_, STRATA_INVALIDINDEXNAME},
      {IndexDef("  BYNAME ", {1}).Unique(), fields_, STRATA_INDEXEXISTS},
      {IndexDef("ByPhoto", {3}).Unique(), fields_, STRATA_SEARCHCOLREQD},
      {IndexDef("ByNothing", {42}).Unique(), fields_, STRATA_SEARCHCOLREQD},
      {IndexDef("ByWide", {1}).Unique(), wide, STRATA_INVALIDKEY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index.Name);
    EXPECT_EQ(CodeOf([&] { file_->AddSecondaryIndex(c.index, c.fields); }), c.code);
  }
  EXPECT_EQ(file_->SecondaryIndexCount(), 2);

  IndexDescriptor many = IndexDef("ByMany", {1}).Unique();
  many.FieldCount = 129;
  EXPECT_EQ(CodeOf([&] { file_->AddSecondaryIndex(many, fields_); }), STRATA_INDEXLIMIT);
  for (int i = 3; i <= 30; ++i) {
    file_->AddSecondaryIndex(IndexDef("I" + std::to_string(i), {2}), fields_);
  }
  EXPECT_EQ(CodeOf([&] { file_->AddSecondaryIndex(IndexDef("I31", {2}), fields_); }),
            STRATA_INDEXLIMIT);

  // The default primary index may be replaced once.
  file_->DefinePrimaryIndex(IndexDef("Ignored", {5}), fields_);
  EXPECT_EQ(file_->Descriptor(0).Name, "");
  EXPECT_EQ(file_->Descriptor(0).Unique, 1);
  EXPECT_EQ(file_->Descriptor(0).KeyLength, 32);
  EXPECT_EQ(CodeOf([&] { file_->DefinePrimaryIndex(IndexDef("", {1}).Unique(), fields_); }),
            STRATA_PRIMARYKEYREDEFINE);
  file_->WriteHeader(true);
  Reopen();
  file_->VerifyHeader(fields_);
}

TEST_F(IndexFileDefinitions, RemovingAnIndexMovesTheLaterSlotsDown) {
  CreateSound();
  for (int i = 3; i <= 30; ++i) {
    file_->AddSecondaryIndex(IndexDef("I" + std::to_string(i), {2}), fields_);
  }
  for (int slot = 1; slot <= 30; ++slot) file_->SetRootPage(slot, 0);
  file_->RemoveIndex(2, true);
  EXPECT_EQ(file_->SecondaryIndexCount(), 29);
  EXPECT_EQ(file_->Descriptor(1).Name, "ByName");
  EXPECT_EQ(file_->Descriptor(2).Name, "I3");
  EXPECT_EQ(file_->Descriptor(29).Name, "I30");
  EXPECT_EQ(file_->Descriptor(30), IndexDescriptor{});

  file_->DefinePrimaryIndex(IndexDef("", {5}).Unique(), fields_);
  file_->RemoveIndex(0, false);
  EXPECT_EQ(file_->Descriptor(0), TIndexFile::DefaultPrimaryDescriptor());
  file_->RemoveIndex(1, false);  // emptied, still defined
  EXPECT_EQ(file_->Descriptor(1).Name, "ByName");
  file_->WriteHeader(true);
  Reopen();
  file_->VerifyHeader(fields_);
}

TEST_F(IndexFileDefinitions, EmptyingKeepsTheDefinitionsAndDropsThePages) {
  CreateSound();
  const auto layout = IndexKeyLayout::Make(file_->Descriptor(0), fields_, Collation());
  TIndexTree tree(*file_, 0, layout);
  std::vector<std::uint8_t> key(5);
  for (int id = 1; id <= 500; ++id) {
    layout.BuildKey({}, id, key);
    tree.Insert(key, id);
  }
  EXPECT_GT(file_->UnitCount(), 2);
  file_->EmptyFile();
  EXPECT_EQ(file_->UnitCount(), 0);
  EXPECT_EQ(file_->RootPage(0), 0);
  Reopen();
  EXPECT_EQ(FileBytes().size(), static_cast<std::size_t>(kFirstIndexPageOffset));
  EXPECT_EQ(file_->SecondaryIndexCount(), 2);
  file_->VerifyHeader(fields_);
}

TEST_F(IndexFileDefinitions, EnciphersHeaderDescriptorsAndPages) {
  owner_.UsePassword("secret");
  CreateSound();
  const auto layout = IndexKeyLayout::Make(file_->Descriptor(0), fields_, Collation());
  std::vector<std::uint8_t> key(5);
  for (int id = 1; id <= 300; ++id) {
    layout.BuildKey({}, id, key);
    TIndexTree(*file_, 0, layout).Insert(key, id);
  }
  Flush();

  // Each unit deciphers on its own with the table key.
  auto bytes = FileBytes();
  const auto context = owner_.hooks.InitContext(CryptoHooks::TableKey("secret"));
  auto decipher = [&](std::int64_t offset, std::size_t size) {
    std::vector<std::uint8_t> unit(bytes.begin() + offset, bytes.begin() + offset + size);
    owner_.hooks.DecipherBuffer(*context, unit);
    return unit;
  };
  EXPECT_NE(bytes[header::kFormatVersion], 6);
  EXPECT_EQ(decipher(0, kIndexHeaderSize)[header::kFormatVersion], 6);
  EXPECT_NE(bytes[SlotAt(31) + entry::kName], 8);
  const std::size_t textName = kIndexDescriptorSize * 31 + entry::kName;
  EXPECT_EQ(decipher(header::kDescriptors, kDescriptorAreaSize)[textName], 8);
  const std::int32_t root = file_->RootPage(0);
  const std::int64_t rootAt = kFirstIndexPageOffset + (root - 1) * 1024;
  EXPECT_EQ(decipher(rootAt, 1024)[index_page_layout::kPageType], kPageRootNode);

  Reopen();
  file_->VerifyHeader(fields_);
  layout.BuildKey({}, 123, key);
  EXPECT_EQ(TIndexTree(*file_, 0, layout).Find(key), 123);

  file_->Close();
  owner_.UsePlain();
  file_ = std::make_unique<TIndexFile>(registry_, Path(), false, owner_, 1024);
  EXPECT_NE(CodeOf([&] { file_->Open(); }), 0);
}

}  // namespace
}  // namespace strata
