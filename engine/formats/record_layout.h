// Where the bytes of a record lie. A record slot is RecordSize bytes (a
// multiple of 8): a 25-byte record header, then per field its NullFlag
// byte at the descriptor's FieldOffset (1 = value present, 0 = NULL) and
// PhysicalSize value bytes right after it; the rest up to RecordSize is
// zero. An enciphered table's slots are enciphered one by one.
//
//   offset size  record header
//        0    1  RecordStatus (0 in use, 1 deleted)
//        1    4  RecordLink (next free slot, or the slot's own number)
//        5    4  RecordID (the system field "RecordID")
//        9   16  RecordHash (the system field "RecordHash")
//       25       the first field's NullFlag
//
// A BLOB field's 8 value bytes are its reference: the first block of the
// value's chain (0 = empty) and the value's revision. Integers are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace strata {

namespace record_layout {

inline constexpr std::size_t kStatus = 0;
inline constexpr std::size_t kStatusSize = 1;
inline constexpr std::size_t kLink = 1;
inline constexpr std::size_t kLinkSize = 4;
inline constexpr std::size_t kId = 5;
inline constexpr std::size_t kIdSize = 4;
inline constexpr std::size_t kHash = 9;
inline constexpr std::size_t kHashSize = 16;

// Every field but the system fields has a NullFlag; its value follows it.
inline constexpr std::size_t kNullFlagSize = 1;

// The reference in a BLOB field's value bytes.
inline constexpr std::size_t kBlobFirstBlock = 0;
inline constexpr std::size_t kBlobFirstBlockSize = 4;
inline constexpr std::size_t kBlobRevision = 4;
inline constexpr std::size_t kBlobRevisionSize = 4;
inline constexpr std::size_t kBlobReferenceSize = kBlobRevision + kBlobRevisionSize;

}  // namespace record_layout

// Offset of the first field's NullFlag: the record header comes first.
inline constexpr std::uint16_t kFirstFieldOffset = 25;
static_assert(kFirstFieldOffset == record_layout::kHash + record_layout::kHashSize);

}  // namespace strata
