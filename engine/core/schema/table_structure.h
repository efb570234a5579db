// TableStructure: what table files are created from. The structure is
// complete and checked before it gets here (field descriptors with their
// sizes, the primary index in slot 0, the secondary indexes in slots 1 to
// SecondaryIndexCount, the full-text descriptor in slot 31, the header
// values); creating files does no validation of its own.
#pragma once

#include <array>
#include <string>
#include <vector>

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

}  // namespace strata
