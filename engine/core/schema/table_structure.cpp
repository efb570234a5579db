#include "engine/core/schema/table_structure.h"

#include "engine/formats/data_file_header_layout.h"

namespace strata {

TableInfo HeaderValuesOf(const TableProperties& properties, std::int32_t lastAutoIncValue,
                         std::int32_t indexPageSize, std::int32_t blobBlockSize) {
  TableInfo info;
  info.LocaleID = static_cast<std::uint32_t>(properties.LocaleID);
  info.UserMajorVersion = properties.UserMajorVersion;
  info.UserMinorVersion = properties.UserMinorVersion;
  info.LastAutoIncValue = lastAutoIncValue;
  info.BlobBlockSize = blobBlockSize;
  info.IndexPageSize = indexPageSize;
  info.Description = properties.Description.substr(0, data_header_layout::kDescriptionLength);
  info.Encrypted = properties.Encrypted;
  return info;
}

}  // namespace strata
