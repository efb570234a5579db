// Where the bytes of a BLOB block lie. A block is the table's BlobBlockSize
// bytes: an 18-byte block header, then the payload, which holds the next
// piece of the value (DataLength bytes of it). An enciphered table's blocks
// are enciphered whole, one by one.
//
//   offset size  block header
//        0    4  PrevBlock (0 in a value's first block)
//        4    4  NextBlock (0 in its last; also the link of the free chain)
//        8    2  DataLength
//       10    4  BlobRevision (the value's revision, in every block)
//       14    4  BlobLength (the whole value's stored length, first block)
//
// Integers are little-endian.
#pragma once

#include <cstddef>

namespace strata {

inline constexpr std::size_t kBlockHeaderSize = 18;

namespace blob_block_layout {

inline constexpr std::size_t kPrevBlock = 0;
inline constexpr std::size_t kPrevBlockSize = 4;
inline constexpr std::size_t kNextBlock = 4;
inline constexpr std::size_t kNextBlockSize = 4;
inline constexpr std::size_t kDataLength = 8;
inline constexpr std::size_t kDataLengthSize = 2;
inline constexpr std::size_t kBlobRevision = 10;
inline constexpr std::size_t kBlobRevisionSize = 4;
inline constexpr std::size_t kBlobLength = 14;
inline constexpr std::size_t kBlobLengthSize = 4;

// The payload starts right after the block header.
inline constexpr std::size_t kPayload = kBlockHeaderSize;

static_assert(kBlobLength + kBlobLengthSize == kBlockHeaderSize);

}  // namespace blob_block_layout

}  // namespace strata
