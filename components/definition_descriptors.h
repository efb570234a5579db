// Turns definitions into the records handed to the engine's create and
// restructure: one FieldDescriptor per field definition and one
// IndexDescriptor per index slot. Only the caller's part of each record is
// filled; the engine computes the rest.
#pragma once

#include <string_view>

#include "components/field_defs.h"
#include "components/index_defs.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {

// The record of a (numbered) field definition. The name is cut to 60
// characters, the description and value texts to 100.
FieldDescriptor BuildFieldDescriptor(const TStrataFieldDef& def);

// The record of an index. keyFields and descFields are field names
// separated by ";" (blanks around a name are ignored, empty names skipped);
// "RecordID" and "RecordHash" name the system fields, every other name is
// resolved to its FieldNo in fieldDefs ("Field '<name>' not found"). At most
// 128 key fields are taken. ixPrimary, ixExpression and ixNonMaintained are
// not part of the record.
IndexDescriptor BuildIndexDescriptor(const TStrataFieldDefs& fieldDefs, std::string_view name,
                                     std::string_view keyFields, TIndexOptions options,
                                     std::string_view descFields, TIndexCompression compression,
                                     bool fullText);

// The record of an ordinary index definition.
IndexDescriptor BuildIndexDescriptor(const TStrataFieldDefs& fieldDefs, const TStrataIndexDef& def);

}  // namespace strata
