// Where the bytes of an index key lie. A key is its index's KeyLength
// bytes: for each key field in order a NullFlag byte (1 value present,
// 0 NULL) and the field's key bytes, then, in a non-unique index, the
// record's RecordID (kRecordIdSuffixLength bytes). Key bytes are written so
// that unsigned byte order is value order (index_key.h).
//
// A full-text key is kFullTextKeyLength bytes:
//   offset size
//        0    1  flag, always 1
//        1    2  field number, big-endian
//        3   61  word, upper-cased, zero-padded
//       64    4  RecordID, as a key
#pragma once

#include <cstddef>
#include <cstdint>

namespace strata {

inline constexpr std::uint16_t kRecordIdSuffixLength = 4;
inline constexpr std::uint16_t kFullTextKeyLength = 68;
inline constexpr std::size_t kFullTextWordLength = 61;

namespace index_key_layout {

inline constexpr std::size_t kNullFlagSize = 1;

inline constexpr std::size_t kTextFlag = 0;
inline constexpr std::size_t kTextFlagSize = 1;
inline constexpr std::size_t kTextFieldNumber = 1;
inline constexpr std::size_t kTextFieldNumberSize = 2;
inline constexpr std::size_t kTextWord = 3;
inline constexpr std::size_t kTextWordSize = kFullTextWordLength;
inline constexpr std::size_t kTextRecordId = 64;
inline constexpr std::size_t kTextRecordIdSize = 4;

static_assert(kTextWord + kTextWordSize == kTextRecordId);
static_assert(kTextRecordId + kTextRecordIdSize == kFullTextKeyLength);

}  // namespace index_key_layout

}  // namespace strata
