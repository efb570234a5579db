// TableDefinition: the structure a table is created or restructured to, as
// the engine takes it: the field descriptors in order, the index slots (slot
// 0 the primary index, slots 1 to SecondaryIndexCount the secondary indexes,
// the last slot the full-text index) and the number of secondary indexes.
// It views descriptors its caller owns; creation and restructure check and
// complete them in place, so they must outlive the call.
#pragma once

#include <span>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {

using IndexSlots = std::span<IndexDescriptor, kIndexSlotCount>;

struct TableDefinition {
  std::span<FieldDescriptor> Fields;
  IndexSlots Indexes;
  int SecondaryIndexCount = 0;
};

}  // namespace strata
