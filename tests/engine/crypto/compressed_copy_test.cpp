#include "engine/crypto/compressed_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/errors/engine_error.h"

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hands out at most `step` bytes per read, to show that short reads are not
// taken for the end.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const Bytes& bytes, std::size_t step = SIZE_MAX)
      : bytes_(bytes), step_(step) {}
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min({buffer.size(), bytes_.size() - at_, step_});
    std::copy_n(bytes_.begin() + at_, n, buffer.begin());
    at_ += n;
    return n;
  }

 private:
  const Bytes& bytes_;
  std::size_t step_;
  std::size_t at_ = 0;
};

class MemorySink : public ByteSink {
 public:
  void Write(std::span<const std::uint8_t> bytes) override {
    this->bytes.insert(this->bytes.end(), bytes.begin(), bytes.end());
  }
  Bytes bytes;
};

Bytes Sample(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>((i * i) >> 5);
  return bytes;
}

Bytes Write(const Bytes& source, int level, std::size_t step = SIZE_MAX) {
  MemorySource in(source, step);
  MemorySink out;
  WriteCompressedCopy(in, out, level, CompressionHooks());
  return out.bytes;
}

Bytes Read(const Bytes& copy, std::size_t step = SIZE_MAX) {
  MemorySource in(copy, step);
  MemorySink out;
  ReadCompressedCopy(in, out, CompressionHooks());
  return out.bytes;
}

// The chunk lengths of a compressed copy, walking its layout.
std::vector<std::uint32_t> ChunkLengths(const Bytes& copy) {
  std::vector<std::uint32_t> lengths;
  for (std::size_t at = 17; at < copy.size();) {
    lengths.push_back(LoadU32(copy.data() + at));
    at += 4 + lengths.back();
  }
  return lengths;
}

ErrorCode ReadCode(const Bytes& copy) {
  try {
    Read(copy);
  } catch (const EStrataEngineError& error) {
    return error.Code;
  }
  return STRATA_NONE;
}

TEST(CompressedCopyTest, RoundTripWritesOneChunkPerSourceBlock) {
  struct Case {
    std::size_t length;
    std::size_t chunks;
  };
  const Case cases[] = {{0, 0}, {1000, 1}, {65528, 1}, {65529, 2}, {3 * 65528 + 17, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const Bytes source = Sample(c.length);
    const Bytes copy = Write(source, 7, 1000);

    ASSERT_GE(copy.size(), 17u);
    EXPECT_TRUE(
        std::equal(kCompressedCopyMarker.begin(), kCompressedCopyMarker.end(), copy.begin()));
    EXPECT_EQ(copy[16], 7);
    EXPECT_EQ(ChunkLengths(copy).size(), c.chunks);

    EXPECT_EQ(Read(copy), source);
    EXPECT_EQ(Read(copy, 3), source);
  }
}

TEST(CompressedCopyTest, PlainInputIsCopiedUnchanged) {
  const Bytes marker(kCompressedCopyMarker.begin(), kCompressedCopyMarker.end());
  Bytes almost = marker;  // marker with one byte off, then a level
  almost[15] ^= 1;
  almost.push_back(6);
  const Bytes big = Sample(200000);
  for (const Bytes& plain : {Bytes{}, Bytes{1, 2, 3}, marker, almost, big}) {
    EXPECT_EQ(Read(plain), plain) << plain.size();
  }
  // Level 0 writes a plain copy.
  EXPECT_EQ(Write(big, 0), big);
}

TEST(CompressedCopyTest, ZeroLengthEndsTheCopy) {
  const Bytes source = Sample(5000);
  Bytes copy = Write(source, 1);
  copy.insert(copy.end(), {0, 0, 0, 0, 0xDE, 0xAD});
  EXPECT_EQ(Read(copy), source);
}

TEST(CompressedCopyTest, DamagedCopiesAreRefused) {
  const Bytes copy = Write(Sample(2 * 65528 + 100), 6);
  const std::size_t secondChunk = 17 + 4 + ChunkLengths(copy)[0];

  const Bytes truncatedData(copy.begin(), copy.end() - 1);
  const Bytes truncatedLength(copy.begin(), copy.begin() + secondChunk + 2);
  Bytes hugeLength = copy;
  StoreU32(hugeLength.data() + secondChunk, 0xFFFFFFFFu);
  Bytes longerThanData = copy;
  StoreU32(longerThanData.data() + secondChunk, LoadU32(copy.data() + secondChunk) + 1);
  Bytes damaged = copy;
  damaged[secondChunk + 40] ^= 0xFF;

  for (const Bytes& bad : {truncatedData, truncatedLength, hugeLength, longerThanData, damaged}) {
    EXPECT_EQ(ReadCode(bad), STRATA_UNCOMPRESS);
  }

  MemorySink sink;
  const Bytes source = Sample(10);
  MemorySource in(source);
  try {
    WriteCompressedCopy(in, sink, 10, CompressionHooks());
    ADD_FAILURE() << "level 10 accepted";
  } catch (const EStrataEngineError& error) {
    EXPECT_EQ(error.Code, STRATA_COMPRESS);
  }
}

}  // namespace
}  // namespace strata
