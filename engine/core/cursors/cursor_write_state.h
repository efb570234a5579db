// CursorWriteState: what a cursor derives from its open table once, for the
// writes it makes: the key maintenance of the index file, the table's
// collation, the fields with AutoInc values, value rules, defaults and BLOB
// values, and the work record an insert is prepared in. It is dropped when
// the cursor closes or finds the table changed by another user.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/indexing/table_index_writer.h"
#include "engine/formats/field_descriptor.h"
#include "engine/locale/collation.h"

namespace strata {

struct CursorWriteState {
  std::unique_ptr<TableIndexWriter> Indexes;
  Collation TableCollation;
  std::vector<const FieldDescriptor*> AutoIncFields;
  std::vector<const FieldDescriptor*> RuleFields;
  std::vector<const FieldDescriptor*> DefaultFields;
  std::vector<const FieldDescriptor*> BlobFields;
  std::vector<std::uint8_t> Work;
  // The texts of the full-text fields of the record being written.
  std::vector<std::string> TextStore;
  std::vector<FieldText> Texts;
};

}  // namespace strata
