// Where the bytes of an index page lie. A page is the table's IndexPageSize
// bytes: a 13-byte page header, then the payload. Page n (from 1) starts at
// kFirstIndexPageOffset + (n - 1) * IndexPageSize; an enciphered table's
// pages are enciphered one by one.
//
//   offset size  page header
//        0    1  PageType (0 root node, 1 node, 2 leaf, 3 root leaf,
//                4 full-text parameters)
//        1    2  EntryCount
//        3    4  PrevPage
//        7    4  NextPage (also the link of the free chain)
//       11    2  UsedBytes (packed size of a compressed leaf's entries)
//
// The payload packs the entries one after the other, each key being the
// index's KeyLength bytes (index_key_layout.h):
//   node        key, child page (4), KeyCount (4; none in the full-text index)
//   leaf        key, record number (4)
//   compressed  DupCount (1; compression 1 and 3), TrailCount (1; compression
//   leaf        2 and 3), the key less its DupCount leading bytes (shared with
//               the key before) and TrailCount trailing zero bytes, then the
//               record number (4)
// In a non-unique index the trailing zero bytes are those before the key's
// RecordID suffix, which follows the cut key whole. A rest of a key (the
// bytes after its shared ones) shorter than kMinTrailedRest is stored whole.
// A parameter page's payload is raw bytes. Integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace strata {

inline constexpr std::int32_t kPageHeaderSize = 13;

namespace index_page_layout {

inline constexpr std::size_t kPageType = 0;
inline constexpr std::size_t kPageTypeSize = 1;
inline constexpr std::size_t kEntryCount = 1;
inline constexpr std::size_t kEntryCountSize = 2;
inline constexpr std::size_t kPrevPage = 3;
inline constexpr std::size_t kPrevPageSize = 4;
inline constexpr std::size_t kNextPage = 7;
inline constexpr std::size_t kNextPageSize = 4;
inline constexpr std::size_t kUsedBytes = 11;
inline constexpr std::size_t kUsedBytesSize = 2;

static_assert(kUsedBytes + kUsedBytesSize == static_cast<std::size_t>(kPageHeaderSize));

// The pieces of a packed entry after (or, for the counts, before) its key.
inline constexpr int kPointerSize = 4;  // child page or record number
inline constexpr int kKeyCountSize = 4;
inline constexpr int kDupCountSize = 1;
inline constexpr int kTrailCountSize = 1;
// The smallest packed entry of a compressed leaf: one count and the record
// number.
inline constexpr int kMinPackedLeafEntrySize = kDupCountSize + kPointerSize;
// Trailing zero bytes are cut from the rest of a key only when that rest
// is at least this long; a shorter rest is stored whole.
inline constexpr int kMinTrailedRest = 5;

}  // namespace index_page_layout

}  // namespace strata
