// TableStructure: what table files are created from. The structure is
// complete and checked before it gets here (field descriptors with their
// sizes, the primary index in slot 0, the secondary indexes in slots 1 to
// SecondaryIndexCount, the full-text descriptor in slot 31, the header
// values); creating files does no validation of its own.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/core/schema/table_create_options.h"
#include "engine/formats/data_file.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {

struct TableStructure {
  std::vector<FieldDescriptor> Fields;
  std::array<IndexDescriptor, kIndexSlotCount> Indexes{};
  int SecondaryIndexCount = 0;
  TableInfo Info;
  // The password of an enciphered table (Info.Encrypted).
  std::string Password;
};

// The header values a table is created or restructured with: the
// properties' locale, versions, description (cut to what the header holds)
// and encryption, with the auto-increment value and the page and block sizes
// as the caller settled them. The password check is left to the caller.
TableInfo HeaderValuesOf(const TableProperties& properties, std::int32_t lastAutoIncValue,
                         std::int32_t indexPageSize, std::int32_t blobBlockSize);

}  // namespace strata
