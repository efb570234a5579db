// StrataTableDefinition: what one structure operation of the table component
// (CreateTable, AlterTable, PreviewAlterTable) brings a table to, in the
// engine's form: the table's properties (locale, user version, cipher and
// password, description, index page and BLOB block sizes, the AutoInc value,
// the full-text parameters), the fields of the full-text index, and the
// field and index descriptors the component builds from its definitions.
// It owns the descriptors; Descriptors() views them as the engine's create
// and restructure take them (which complete them in place).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/schema/table_create_options.h"
#include "engine/core/schema/table_definition.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {

struct StrataTableDefinition {
  TableProperties Properties;
  // The full-text index's key fields: names separated by ";".
  std::string TextIndexFields;
  std::vector<FieldDescriptor> Fields;
  // Slot 0 the primary index (all zero: the engine keys it on RecordID),
  // then the secondary indexes, the last slot the full-text index.
  std::vector<IndexDescriptor> Indexes = std::vector<IndexDescriptor>(kIndexSlotCount);
  int SecondaryIndexCount = 0;

  TableDefinition Descriptors();
};

// The definition the component's arguments give, without descriptors yet:
// password and description cut to 255 characters, each character of
// spaceChars and includeChars a member of its set.
StrataTableDefinition MakeStrataTableDefinition(
    std::int32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
    bool encrypted, std::string_view password, std::string_view description,
    std::int32_t indexPageSize, std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
    std::string_view textIndexFields, const std::optional<std::vector<std::string>>& stopWords,
    std::string_view spaceChars, std::string_view includeChars);

}  // namespace strata
