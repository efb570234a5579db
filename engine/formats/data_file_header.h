// DataFileHeader: the first 512 bytes of a table's data file. Decode checks
// only what it needs to read the image safely; the consistency of the values
// with each other and with the file is checked when the file is opened.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/table_file_header.h"

namespace strata {

struct DataFileHeader : TableFileHeader {
  std::int32_t FirstFreeRecord = 0;
  std::int32_t NextRecordNumber = 1;
  std::int32_t LastRecordID = 0;
  std::int32_t LastAutoIncValue = 0;
  std::int32_t RecordCount = 0;
  std::uint16_t RecordSize = 0;
  std::uint16_t FieldCount = 0;
  std::uint16_t BlobFieldCount = 0;
  std::int32_t BlobBlockSize = 0;
  std::int32_t LastBlobRevision = 0;
  std::int32_t IndexPageSize = 0;
  double LastUpdated = 0;  // as stored: the local date-time value minus 693594
  std::string Description;  // at most 100 characters
  std::uint8_t Encrypted = 0;
  Digest PasswordCheck{};
  std::uint32_t LocaleID = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  bool HeaderModified = false;

  // Fills the 512-byte image; reserved bytes are zero.
  void Encode(std::span<std::uint8_t, kDataHeaderSize> image) const;

  // Reads a 512-byte image. False when the description's length byte is out
  // of range. HeaderModified is cleared whatever the image holds.
  bool Decode(std::span<const std::uint8_t, kDataHeaderSize> image);
};

}  // namespace strata
