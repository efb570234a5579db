// Where the fields of a BLOB file's header lie. A BLOB file starts with this
// 512-byte header, enciphered when the table is; the blocks follow it
// (blob_block_layout.h), block n (from 1) at kBlobHeaderSize + (n - 1) *
// BlobBlockSize, the block size being the data file header's.
//
//   offset size  field
//        0    4  ChangeCount
//        4    4  (reserved)
//        8    1  FormatVersion
//        9   16  SignatureDigest
//       25    4  FirstFreeBlock
//       29    4  NextBlockNumber
//       33    1  HeaderModified
//       34  478  (reserved, zero)
//
// Integers are little-endian.
#pragma once

#include <cstddef>

#include "engine/formats/table_file_header_layout.h"

namespace strata {

inline constexpr std::size_t kBlobHeaderSize = 512;

namespace blob_header_layout {

// ChangeCount, FormatVersion and SignatureDigest, as in every table file.
using namespace table_file_header_layout;

inline constexpr std::size_t kFirstFreeBlock = 25;
inline constexpr std::size_t kFirstFreeBlockSize = 4;
inline constexpr std::size_t kNextBlockNumber = 29;
inline constexpr std::size_t kNextBlockNumberSize = 4;
inline constexpr std::size_t kHeaderModified = 33;
inline constexpr std::size_t kHeaderModifiedSize = 1;

// The blocks start right after the header.
inline constexpr std::size_t kBlocks = kBlobHeaderSize;

static_assert(kHeaderModified + kHeaderModifiedSize <= kBlobHeaderSize);

}  // namespace blob_header_layout

}  // namespace strata
