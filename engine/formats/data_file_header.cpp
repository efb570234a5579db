#include "engine/formats/data_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

// The header fields, where data_file_header_layout.h places them.
using data_header_layout::kFirstFreeRecord;
using data_header_layout::kNextRecordNumber;
using data_header_layout::kLastRecordID;
using data_header_layout::kLastAutoIncValue;
using data_header_layout::kRecordCount;
using data_header_layout::kRecordSize;
using data_header_layout::kFieldCount;
using data_header_layout::kBlobFieldCount;
using data_header_layout::kBlobBlockSize;
using data_header_layout::kLastBlobRevision;
using data_header_layout::kIndexPageSize;
using data_header_layout::kLastUpdated;
using data_header_layout::kDescription;
using data_header_layout::kEncrypted;
using data_header_layout::kPasswordCheck;
using data_header_layout::kLocaleID;
using data_header_layout::kUserMajorVersion;
using data_header_layout::kUserMinorVersion;
using data_header_layout::kHeaderModified;

using data_header_layout::kDescriptionLength;

}  // namespace

void DataFileHeader::Encode(std::span<std::uint8_t, kDataHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  EncodeStart(image);
  StoreI32(p + kFirstFreeRecord, FirstFreeRecord);
  StoreI32(p + kNextRecordNumber, NextRecordNumber);
  StoreI32(p + kLastRecordID, LastRecordID);
  StoreI32(p + kLastAutoIncValue, LastAutoIncValue);
  StoreI32(p + kRecordCount, RecordCount);
  StoreU16(p + kRecordSize, RecordSize);
  StoreU16(p + kFieldCount, FieldCount);
  StoreU16(p + kBlobFieldCount, BlobFieldCount);
  StoreI32(p + kBlobBlockSize, BlobBlockSize);
  StoreI32(p + kLastBlobRevision, LastBlobRevision);
  StoreI32(p + kIndexPageSize, IndexPageSize);
  StoreF64(p + kLastUpdated, LastUpdated);
  WriteShortText(image.subspan(kDescription), kDescriptionLength, Description);
  p[kEncrypted] = Encrypted;
  std::copy(PasswordCheck.begin(), PasswordCheck.end(), p + kPasswordCheck);
  StoreU32(p + kLocaleID, LocaleID);
  StoreU16(p + kUserMajorVersion, UserMajorVersion);
  StoreU16(p + kUserMinorVersion, UserMinorVersion);
  p[kHeaderModified] = HeaderModified ? 1 : 0;
}

bool DataFileHeader::Decode(std::span<const std::uint8_t, kDataHeaderSize> image) {
  const std::uint8_t* p = image.data();
  auto description = ReadShortText(image.subspan(kDescription), kDescriptionLength);
  if (!description) return false;
  DecodeStart(image);
  FirstFreeRecord = LoadI32(p + kFirstFreeRecord);
  NextRecordNumber = LoadI32(p + kNextRecordNumber);
  LastRecordID = LoadI32(p + kLastRecordID);
  LastAutoIncValue = LoadI32(p + kLastAutoIncValue);
  RecordCount = LoadI32(p + kRecordCount);
  RecordSize = LoadU16(p + kRecordSize);
  FieldCount = LoadU16(p + kFieldCount);
  BlobFieldCount = LoadU16(p + kBlobFieldCount);
  BlobBlockSize = LoadI32(p + kBlobBlockSize);
  LastBlobRevision = LoadI32(p + kLastBlobRevision);
  IndexPageSize = LoadI32(p + kIndexPageSize);
  LastUpdated = LoadF64(p + kLastUpdated);
  Description = std::move(*description);
  Encrypted = p[kEncrypted];
  std::copy_n(p + kPasswordCheck, PasswordCheck.size(), PasswordCheck.begin());
  LocaleID = LoadU32(p + kLocaleID);
  UserMajorVersion = LoadU16(p + kUserMajorVersion);
  UserMinorVersion = LoadU16(p + kUserMinorVersion);
  HeaderModified = false;
  return true;
}

}  // namespace strata
