#include "engine/formats/data_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"
#include "engine/formats/short_text.h"

namespace strata {

namespace {

// Offsets of the header fields.
constexpr std::size_t kChangeCount = 0;
constexpr std::size_t kFormatVersion = 8;
constexpr std::size_t kSignatureDigest = 9;
constexpr std::size_t kFirstFreeRecord = 25;
constexpr std::size_t kNextRecordNumber = 29;
constexpr std::size_t kLastRecordID = 33;
constexpr std::size_t kLastAutoIncValue = 37;
constexpr std::size_t kRecordCount = 41;
constexpr std::size_t kRecordSize = 45;
constexpr std::size_t kFieldCount = 47;
constexpr std::size_t kBlobFieldCount = 49;
constexpr std::size_t kBlobBlockSize = 51;
constexpr std::size_t kLastBlobRevision = 55;
constexpr std::size_t kIndexPageSize = 59;
constexpr std::size_t kLastUpdated = 63;
constexpr std::size_t kDescription = 71;
constexpr std::size_t kEncrypted = 172;
constexpr std::size_t kPasswordCheck = 173;
constexpr std::size_t kLocaleID = 189;
constexpr std::size_t kUserMajorVersion = 193;
constexpr std::size_t kUserMinorVersion = 195;
constexpr std::size_t kHeaderModified = 197;

constexpr std::size_t kDescriptionLength = 100;

}  // namespace

void DataFileHeader::Encode(std::span<std::uint8_t, kDataHeaderSize> image) const {
  std::uint8_t* p = image.data();
  std::fill(image.begin(), image.end(), 0);
  StoreI32(p + kChangeCount, ChangeCount);
  p[kFormatVersion] = FormatVersion;
  std::copy(SignatureDigest.begin(), SignatureDigest.end(), p + kSignatureDigest);
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
  ChangeCount = LoadI32(p + kChangeCount);
  FormatVersion = p[kFormatVersion];
  std::copy_n(p + kSignatureDigest, SignatureDigest.size(), SignatureDigest.begin());
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
