// The check of a complete table structure before a table is created or
// restructured, and the completion of its descriptors with the values the
// file formats store.
//
// ValidateStructure checks, in this order: the password of an enciphered
// table (1 to 128 characters after trimming, STRATA_INVALIDPASSWORD), the locale
// (STRATA_CANNOTLOADLDDRV), the field count (1 to 1024, STRATA_FLDLIMIT), the index page size
// (1024 to 16384, STRATA_INDEXLIMIT), the number of secondary indexes (0 to 30,
// STRATA_INDEXLIMIT), the BLOB block size (64 to 65536, STRATA_BLOBLIMIT); then the fields and
// then the indexes. The sizes come in already rounded up to a multiple of 8.
//
// ValidateFieldDescriptors, per field in order: trims and cuts the name to 60
// characters (STRATA_INVALIDFIELDNAME for an empty, reserved, badly starting or duplicate name),
// checks the field number (unique) and type (not 0), the declared length
// (STRATA_INVALIDFLDTYPE), the default, minimum and maximum texts (STRATA_INVALIDVCHKSTRUCT), the
// compression level and computed flag (STRATA_INVALIDFLDTYPE); writes back the size (0 for unsized
// types), the decimals (0 unless BCD), PhysicalSize, physical decimals and
// FieldOffset (from 25).
//
// ValidateIndexDescriptors, for slot 0 and the secondary slots: names (STRATA_INVALIDINDEXNAME
// for an empty or badly starting name, STRATA_INDEXEXISTS for a duplicate), key fields
// (STRATA_INVALIDIDXDESC for a gap or an unknown field, STRATA_SEARCHCOLREQD for a BLOB), key
// length (STRATA_INVALIDKEY) and the derived values: key field count, key length (plus the
// 4-byte RecordID suffix when not unique); slot 0 is nameless
// and unique and becomes the default RecordID index when it has no key
// fields; slot 31 becomes "Sys Text" over string and memo fields.
//
// Every error names the table and database given, and the field or index
// involved ("Primary" for slot 0, "Sys Text" for slot 31).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/core/schema/table_definition.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"

namespace strata {

inline constexpr std::int32_t kMinIndexPageSize = 1024;
inline constexpr std::int32_t kMaxIndexPageSize = 16384;
inline constexpr std::int32_t kMinBlobBlockSize = 64;
inline constexpr std::int32_t kMaxBlobBlockSize = 65536;
inline constexpr std::size_t kMaxPasswordLength = 128;
inline constexpr std::size_t kMaxIndexNameLength = index_descriptor_layout::kNameLength;

// The names an error carries besides the field or index.
struct StructureNames {
  std::string_view TableName;
  std::string_view DatabaseName;
};

void ValidateStructure(std::int32_t localeId, bool encrypted, std::string_view password,
                       std::int32_t indexPageSize, std::int32_t blobBlockSize,
                       const TableDefinition& definition, const StructureNames& names);

void ValidateFieldDescriptors(std::span<FieldDescriptor> fields, const StructureNames& names);

// The fields must have been through ValidateFieldDescriptors.
void ValidateIndexDescriptors(const TableDefinition& definition, std::int32_t indexPageSize,
                              const StructureNames& names);

}  // namespace strata
