// Where the fields of a data file's header lie. A data file starts with this
// 512-byte header, never enciphered; the field descriptors follow it (one
// entry of kFieldDescriptorSize bytes per field, see
// field_descriptor_layout.h) and then the record slots (record_layout.h).
//
//   offset size  field                offset size  field
//        0    4  ChangeCount              59    4  IndexPageSize
//        4    4  (reserved)               63    8  LastUpdated (double)
//        8    1  FormatVersion            71  101  Description (text[100])
//        9   16  SignatureDigest         172    1  Encrypted
//       25    4  FirstFreeRecord         173   16  PasswordCheck
//       29    4  NextRecordNumber        189    4  LocaleID
//       33    4  LastRecordID            193    2  UserMajorVersion
//       37    4  LastAutoIncValue        195    2  UserMinorVersion
//       41    4  RecordCount             197    1  HeaderModified
//       45    2  RecordSize              198  314  (reserved, zero)
//       47    2  FieldCount
//       49    2  BlobFieldCount
//       51    4  BlobBlockSize
//       55    4  LastBlobRevision
//
// Integers and the double are little-endian; a text[N] is a length byte and
// N character bytes.
#pragma once

#include <cstddef>

#include "engine/formats/table_file_header_layout.h"

namespace strata {

inline constexpr std::size_t kDataHeaderSize = 512;

namespace data_header_layout {

// ChangeCount, FormatVersion and SignatureDigest, as in every table file.
using namespace table_file_header_layout;

inline constexpr std::size_t kFirstFreeRecord = 25;
inline constexpr std::size_t kFirstFreeRecordSize = 4;
inline constexpr std::size_t kNextRecordNumber = 29;
inline constexpr std::size_t kNextRecordNumberSize = 4;
inline constexpr std::size_t kLastRecordID = 33;
inline constexpr std::size_t kLastRecordIDSize = 4;
inline constexpr std::size_t kLastAutoIncValue = 37;
inline constexpr std::size_t kLastAutoIncValueSize = 4;
inline constexpr std::size_t kRecordCount = 41;
inline constexpr std::size_t kRecordCountSize = 4;
inline constexpr std::size_t kRecordSize = 45;
inline constexpr std::size_t kRecordSizeSize = 2;
inline constexpr std::size_t kFieldCount = 47;
inline constexpr std::size_t kFieldCountSize = 2;
inline constexpr std::size_t kBlobFieldCount = 49;
inline constexpr std::size_t kBlobFieldCountSize = 2;
inline constexpr std::size_t kBlobBlockSize = 51;
inline constexpr std::size_t kBlobBlockSizeSize = 4;
inline constexpr std::size_t kLastBlobRevision = 55;
inline constexpr std::size_t kLastBlobRevisionSize = 4;
inline constexpr std::size_t kIndexPageSize = 59;
inline constexpr std::size_t kIndexPageSizeSize = 4;
inline constexpr std::size_t kLastUpdated = 63;
inline constexpr std::size_t kLastUpdatedSize = 8;
inline constexpr std::size_t kDescription = 71;
inline constexpr std::size_t kDescriptionLength = 100;  // characters at most
inline constexpr std::size_t kDescriptionSize = 1 + kDescriptionLength;
inline constexpr std::size_t kEncrypted = 172;
inline constexpr std::size_t kEncryptedSize = 1;
inline constexpr std::size_t kPasswordCheck = 173;
inline constexpr std::size_t kPasswordCheckSize = 16;
inline constexpr std::size_t kLocaleID = 189;
inline constexpr std::size_t kLocaleIDSize = 4;
inline constexpr std::size_t kUserMajorVersion = 193;
inline constexpr std::size_t kUserMajorVersionSize = 2;
inline constexpr std::size_t kUserMinorVersion = 195;
inline constexpr std::size_t kUserMinorVersionSize = 2;
inline constexpr std::size_t kHeaderModified = 197;
inline constexpr std::size_t kHeaderModifiedSize = 1;

// The field descriptors start right after the header.
inline constexpr std::size_t kFieldDescriptors = kDataHeaderSize;

static_assert(kHeaderModified + kHeaderModifiedSize <= kDataHeaderSize);

}  // namespace data_header_layout

}  // namespace strata
