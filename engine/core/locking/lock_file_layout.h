// Where the bytes of a database directory's lock file lie (the list of its
// tables; TDataDirectoryLocks reads and writes it). The byte-range locks
// taken on the file lie far beyond these bytes (lock_offsets.h).
//
//   offset size  field
//        0    4  change stamp (1 after creation, +1 on every rewrite,
//                2147483647 followed by 1)
//        4    4  ListLength: 4 + the length of all entries, that is the
//                bytes from this field to the end of the list
//        8       the entries, one per table slot from 1: a length byte and
//                the table name
//
// Integers are little-endian.
#pragma once

#include <cstddef>

namespace strata::lock_file_layout {

inline constexpr std::size_t kStamp = 0;
inline constexpr std::size_t kStampSize = 4;
inline constexpr std::size_t kListLength = 4;
inline constexpr std::size_t kListLengthSize = 4;
inline constexpr std::size_t kHeaderSize = kListLength + kListLengthSize;

// The entries follow the header.
inline constexpr std::size_t kEntries = kHeaderSize;
inline constexpr std::size_t kNameLengthSize = 1;
inline constexpr std::size_t kMaxNameLength = 255;  // what the length byte holds

}  // namespace strata::lock_file_layout
