#include "engine/formats/blob_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "engine/formats/blob_block_layout.h"
#include "engine/formats/blob_file_header_layout.h"
#include "engine/values/field_types.h"
#include "format_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

constexpr std::size_t kBlock = 512;
constexpr std::size_t kPayload = kBlock - kBlockHeaderSize;

FieldDescriptor Memo(std::uint8_t level = 0) {
  FieldDescriptor field;
  field.FieldNumber = 3;
  field.Name = "Notes";
  field.EngineType = kTypeBlob;
  field.SubType = kSubTypeMemo;
  field.PhysicalSize = 8;
  field.FieldOffset = 42;
  field.Compression = level;
  return field;
}

std::vector<std::uint8_t> Pattern(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

class BlobFileTest : public testing::TempDirTest {
 protected:
  std::unique_ptr<TBlobFile> NewFile() {
    return std::make_unique<TBlobFile>(registry_, dir_ + "people.blb", false, owner_, kBlock);
  }
  std::unique_ptr<TBlobFile> Create() {
    auto file = NewFile();
    file->CreateNew();
    Flush(*file);
    return file;
  }
  std::unique_ptr<TBlobFile> OpenFile() {
    auto file = NewFile();
    file->Open();
    file->VerifyHeader();
    return file;
  }
  static void Flush(TBlobFile& file) {
    file.WriteBack(false);
    file.WriteHeader(false);
  }
  // Writes a value as a new BLOB and returns its first block.
  static std::int32_t Store(TBlobFile& file, const std::vector<std::uint8_t>& value,
                            std::int32_t revision, std::uint8_t level = 0) {
    TBlobBuffer blob(Memo(level), {0, revision}, 1, TBlobBuffer::kOpenWrite);
    blob.SetValue(value);
    file.WriteBlobChain(blob);
    return blob.FirstBlock;
  }
  std::vector<std::uint8_t> FileBytes() const { return testing::Bytes(Slurp("people.blb")); }
  static std::size_t At(int block) { return blob_header_layout::kBlocks + (block - 1) * kBlock; }
  // PrevBlock, NextBlock, DataLength, BlobRevision, BlobLength of a block.
  static std::array<std::int32_t, 5> HeaderOf(const std::vector<std::uint8_t>& bytes, int block) {
    namespace at = blob_block_layout;
    const std::size_t p = At(block);
    return {I32At(bytes, p + at::kPrevBlock), I32At(bytes, p + at::kNextBlock),
            U16At(bytes, p + at::kDataLength), I32At(bytes, p + at::kBlobRevision),
            I32At(bytes, p + at::kBlobLength)};
  }
  // The payload of a block.
  static std::size_t PayloadAt(int block) { return At(block) + blob_block_layout::kPayload; }

  FileRegistry registry_;
  testing::FakeOwner owner_;
};

using Header5 = std::array<std::int32_t, 5>;

TEST_F(BlobFileTest, ThousandByteMemoTakesThreeBlocksAndFreedBlocksAreReusedLastFirst) {
  auto file = Create();
  const std::vector<std::uint8_t> value = Pattern(1000);
  EXPECT_EQ(Store(*file, value, 5), 1);
  Flush(*file);
  std::vector<std::uint8_t> bytes = FileBytes();
  ASSERT_EQ(bytes.size(), kBlobHeaderSize + 3 * kBlock);
  EXPECT_EQ(bytes[blob_header_layout::kFormatVersion], 6);
  EXPECT_EQ(I32At(bytes, blob_header_layout::kFirstFreeBlock), 0);
  EXPECT_EQ(I32At(bytes, blob_header_layout::kNextBlockNumber), 4);
  EXPECT_EQ(HeaderOf(bytes, 1), (Header5{0, 2, 494, 5, 1000}));
  EXPECT_EQ(HeaderOf(bytes, 2), (Header5{1, 3, 494, 5, 0}));
  EXPECT_EQ(HeaderOf(bytes, 3), (Header5{2, 0, 12, 5, 0}));
  EXPECT_TRUE(std::equal(value.begin() + 2 * kPayload, value.end(), bytes.begin() + PayloadAt(3)));
  file->Close();

  file = OpenFile();
  TBlobBuffer blob(Memo(), {1, 5}, 1);
  EXPECT_FALSE(file->ReadBlobChain(blob));
  EXPECT_EQ(blob.Value, value);

  // Shorten to 10 bytes under a new revision: blocks 2 and 3 are freed.
  blob.SetValue(Pattern(10));
  blob.Revision = 6;
  file->WriteBlobChain(blob);
  Flush(*file);
  bytes = FileBytes();
  EXPECT_EQ(blob.FirstBlock, 1);
  EXPECT_EQ(HeaderOf(bytes, 1), (Header5{0, 0, 10, 6, 10}));
  EXPECT_EQ(I32At(bytes, blob_header_layout::kFirstFreeBlock), 3);
  EXPECT_EQ(HeaderOf(bytes, 3)[1], 2);
  EXPECT_EQ(HeaderOf(bytes, 2)[1], 0);

  // The next value takes block 3, then 2, then a new block 4.
  EXPECT_EQ(Store(*file, value, 7), 3);
  Flush(*file);
  bytes = FileBytes();
  EXPECT_EQ(I32At(bytes, blob_header_layout::kFirstFreeBlock), 0);
  EXPECT_EQ(HeaderOf(bytes, 3), (Header5{0, 2, 494, 7, 1000}));
  EXPECT_EQ(HeaderOf(bytes, 2), (Header5{3, 4, 494, 7, 0}));
  EXPECT_EQ(HeaderOf(bytes, 4), (Header5{2, 0, 12, 7, 0}));

  // An empty value frees the whole chain.
  TBlobBuffer second(Memo(), {3, 7}, 2);
  ASSERT_FALSE(file->ReadBlobChain(second));
  EXPECT_EQ(second.Value, value);
  second.SetLength(0);
  file->WriteBlobChain(second);
  EXPECT_EQ(second.FirstBlock, 0);
  EXPECT_EQ(file->Header().FirstFreeBlock, 4);
  EXPECT_FALSE(file->ReadBlobChain(second));
  EXPECT_TRUE(second.Value.empty());
}

TEST_F(BlobFileTest, AnotherRevisionReportsAChangeByAnotherUser) {
  auto file = Create();
  Store(*file, Pattern(1000), 5);
  TBlobBuffer stale(Memo(), {1, 4}, 1);
  EXPECT_TRUE(file->ReadBlobChain(stale));
  TBlobBuffer current(Memo(), {1, 5}, 1);
  EXPECT_FALSE(file->ReadBlobChain(current));
}

TEST_F(BlobFileTest, ReadAheadFollowsTheRemainingLength) {
  auto file = Create();
  Store(*file, Pattern(1000), 1);
  Flush(*file);
  file->Close();
  file = OpenFile();
  file->SetReadAheadLimit(8);
  TBlobBuffer blob(Memo(), {1, 1}, 1);
  ASSERT_FALSE(file->ReadBlobChain(blob));
  // The first block alone, then the two that the remaining 506 bytes need.
  EXPECT_EQ(file->Stats().PhysicalReads, 2);
  EXPECT_EQ(file->Stats().BufferedReads, 3);
}

TEST_F(BlobFileTest, CompressedMemoStoresTheDeflatedForm) {
  auto file = Create();
  const std::vector<std::uint8_t> letters(10000, 'a');
  EXPECT_EQ(Store(*file, letters, 1, 6), 1);
  Flush(*file);
  std::vector<std::uint8_t> bytes = FileBytes();
  EXPECT_EQ(I32At(bytes, blob_header_layout::kNextBlockNumber), 2);  // one block, not 21
  const Header5 header = HeaderOf(bytes, 1);
  EXPECT_LT(header[4], 100);
  EXPECT_EQ(header[2], header[4]);
  EXPECT_EQ(bytes[PayloadAt(1)], 0x78);  // a zlib stream
  file->Close();

  file = OpenFile();
  TBlobBuffer blob(Memo(6), {1, 1}, 1);
  ASSERT_FALSE(file->ReadBlobChain(blob));
  EXPECT_EQ(blob.Value, letters);
  file->Close();

  bytes[PayloadAt(1) + 4] ^= 0xFF;
  Put("people.blb", testing::Text(bytes));
  file = OpenFile();
  EXPECT_EQ(CodeOf([&] { file->ReadBlobChain(blob); }), STRATA_UNCOMPRESS);
}

struct Damage {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  ErrorCode code;
};

TEST_F(BlobFileTest, DamagedFilesAndChainsFailWithTheirCodes) {
  auto file = Create();
  Store(*file, Pattern(1000), 5);
  Flush(*file);
  file->Close();
  const std::vector<std::uint8_t> good = FileBytes();
  const auto set = [](std::size_t offset, std::int32_t value) {
    return [=](std::vector<std::uint8_t>& b) { StoreI32(b.data() + offset, value); };
  };
  namespace header = blob_header_layout;
  namespace block = blob_block_layout;
  const Damage cases[] = {
      {"truncated header", [](auto& b) { b.resize(300); }, STRATA_HEADERCORRUPT},
      {"earlier format", [](auto& b) { b[header::kFormatVersion] = 3; }, STRATA_OLDVERSION},
      {"foreign signature", [](auto& b) { b[header::kSignatureDigest + 11] ^= 1; },
       STRATA_BADSIGNATURE},
      {"free block outside", set(header::kFirstFreeBlock, 4), STRATA_HEADERCORRUPT},
      {"blocks past the end", set(header::kNextBlockNumber, 5), STRATA_HEADERCORRUPT},
      {"block count negative", set(header::kNextBlockNumber, -3), STRATA_HEADERCORRUPT},
      {"next block outside", set(At(1) + block::kNextBlock, 9), STRATA_MEMOCORRUPT},
      {"next block negative", set(At(2) + block::kNextBlock, -1), STRATA_MEMOCORRUPT},
      {"cycle", set(At(2) + block::kNextBlock, 1), STRATA_MEMOCORRUPT},
      {"chain too short", set(At(2) + block::kNextBlock, 0), STRATA_ENDOFBLOB},
      {"length beyond the file", set(At(1) + block::kBlobLength, 5000), STRATA_MEMOCORRUPT},
      {"negative length", set(At(1) + block::kBlobLength, -1), STRATA_MEMOCORRUPT},
      {"data length beyond the payload",
       [](auto& b) { StoreU16(b.data() + At(2) + block::kDataLength, 600); },
       STRATA_MEMOCORRUPT},
  };
  for (const Damage& damage : cases) {
    std::vector<std::uint8_t> bytes = good;
    damage.apply(bytes);
    Put("people.blb", testing::Text(bytes));
    auto damaged = NewFile();
    EXPECT_EQ(CodeOf([&] {
                damaged->Open();
                damaged->VerifyHeader();
                TBlobBuffer blob(Memo(), {1, 5}, 1);
                damaged->ReadBlobChain(blob);
              }),
              damage.code)
        << damage.what;
    damaged->Close();
  }

  // A cyclic chain is refused when it is rewritten or freed as well.
  std::vector<std::uint8_t> bytes = good;
  StoreI32(bytes.data() + At(3) + blob_block_layout::kNextBlock, 2);
  Put("people.blb", testing::Text(bytes));
  file = OpenFile();
  TBlobBuffer blob(Memo(), {1, 5}, 1);
  blob.SetValue(Pattern(2000));
  EXPECT_EQ(CodeOf([&] { file->WriteBlobChain(blob); }), STRATA_MEMOCORRUPT);
  file->Close();
  file = OpenFile();
  EXPECT_EQ(CodeOf([&] { file->FreeBlobChain(1); }), STRATA_MEMOCORRUPT);
  EXPECT_EQ(CodeOf([&] { file->FreeBlobChain(-2); }), STRATA_MEMOCORRUPT);
}

TEST_F(BlobFileTest, BlockTransfersAndSizesAreBounded) {
  EXPECT_EQ(CodeOf([&] { TBlobFile bad(registry_, dir_ + "x.blb", false, owner_, 516); }),
            STRATA_HEADERCORRUPT);
  EXPECT_EQ(CodeOf([&] { TBlobFile bad(registry_, dir_ + "x.blb", false, owner_, 56); }),
            STRATA_HEADERCORRUPT);
  auto file = Create();
  BufferPin pin;
  file->AllocateBlock(pin);
  TBlock& block = TBlobFile::BlockOf(pin);
  const std::vector<std::uint8_t> bytes = Pattern(kPayload + 1);
  EXPECT_EQ(CodeOf([&] { block.WritePayload(0, bytes); }), STRATA_INVALIDBLOBLEN);
  EXPECT_EQ(CodeOf([&] { block.WritePayload(10, std::span(bytes).first(kPayload - 5)); }),
            STRATA_INVALIDBLOBLEN);
  block.WritePayload(4, std::span(bytes).first(6));
  EXPECT_EQ(block.Header().DataLength, 10);
  std::vector<std::uint8_t> out(kPayload);
  EXPECT_EQ(block.ReadPayload(4, out), 6u);
  EXPECT_EQ(out[5], 5);
  std::vector<std::uint8_t> tooMany(kPayload + 1);
  EXPECT_EQ(CodeOf([&] { block.ReadPayload(0, tooMany); }), STRATA_INVALIDBLOBLEN);

  owner_.limits.MaxFileSize = kBlobHeaderSize + 2 * kBlock;
  BufferPin second;
  file->AllocateBlock(second);
  EXPECT_EQ(CodeOf([&] { file->AllocateBlock(second); }), STRATA_TABLEFULL);
}

TEST_F(BlobFileTest, EncipheredFileEnciphersHeaderAndBlocks) {
  owner_.UsePassword("secret");
  auto file = Create();
  const std::vector<std::uint8_t> value = Pattern(600);
  Store(*file, value, 9);
  Flush(*file);
  file->Close();
  std::vector<std::uint8_t> bytes = FileBytes();
  std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + kBlobHeaderSize);
  std::vector<std::uint8_t> first(bytes.begin() + At(1), bytes.begin() + At(2));
  EXPECT_NE(I32At(header, blob_header_layout::kNextBlockNumber), 3);
  owner_.cipher->Decipher(header);
  owner_.cipher->Decipher(first);
  EXPECT_EQ(header[blob_header_layout::kFormatVersion], 6);
  EXPECT_EQ(I32At(header, blob_header_layout::kNextBlockNumber), 3);
  EXPECT_EQ(I32At(first, blob_block_layout::kNextBlock), 2);
  EXPECT_EQ(I32At(first, blob_block_layout::kBlobLength), 600);
  EXPECT_TRUE(std::equal(value.begin(), value.begin() + kPayload,
                         first.begin() + blob_block_layout::kPayload));

  file = OpenFile();
  TBlobBuffer blob(Memo(), {1, 9}, 1);
  ASSERT_FALSE(file->ReadBlobChain(blob));
  EXPECT_EQ(blob.Value, value);
}

}  // namespace
}  // namespace strata
