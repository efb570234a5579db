// The choice a restructure makes between its three levels of work, and the
// descriptor comparisons behind it.
//
// FieldDescriptorsDiffer is true when two fields need different record
// layouts or value checks: field number, engine type, PhysicalSize, physical
// decimals, required flag, character case, compression level, or the
// default, minimum or maximum text (letter case ignored) differ, an integer
// field (sub-type 0) becomes AutoInc, or a string becomes a wide string or
// stops being one (its bytes are read differently). Name, description,
// declared size and other sub-type changes (a memo that becomes a BLOB, a
// plain string that becomes fixed-length) do not count.
//
// IndexDescriptorsDiffer is true when two indexes need different trees: key
// length, key field count, case-insensitive or unique flag, compression, or
// per key field the field number, its descending flag or the field itself
// (FieldDescriptorsDiffer) differ. RecordID and RecordHash stand for
// themselves; a key field number that names no field raises STRATA_OUTOFRANGE. The name
// and the whole-index descending flag do not count.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/full_text_params.h"
#include "engine/formats/index_file_header.h"

namespace strata {

enum class RestructureLevel { HeaderOnly, IndexOnly, Full };

bool FieldDescriptorsDiffer(const FieldDescriptor& oldField, const FieldDescriptor& newField);

// The fields name what each index's key field numbers refer to. Errors name
// tableName and databaseName.
bool IndexDescriptorsDiffer(const IndexDescriptor& oldIndex, const IndexDescriptor& newIndex,
                            std::span<const FieldDescriptor> oldFields,
                            std::span<const FieldDescriptor> newFields,
                            std::string_view tableName, std::string_view databaseName);

// Stop words equal in count and word by word under the locale, letter case
// ignored; the character sets byte for byte.
bool FullTextParamsDiffer(const FullTextParams& oldParams, const FullTextParams& newParams,
                          std::uint32_t localeId);

// The field matching of a full rebuild: for each old field, the position
// (from 1) of the new field with the same number, 0 when there is none.
std::vector<std::uint16_t> NewFieldPositions(std::span<const FieldDescriptor> oldFields,
                                             std::span<const FieldDescriptor> newFields);

// What one side of the comparison holds.
struct TableShape {
  std::span<const FieldDescriptor> Fields;
  std::span<const IndexDescriptor, kIndexSlotCount> Indexes;
  int SecondaryIndexCount = 0;
  std::uint32_t LocaleID = 0;
  std::int32_t IndexPageSize = 0;
  std::int32_t BlobBlockSize = 0;
  bool Encrypted = false;
  const FullTextParams* FullText = nullptr;
};

// The first difference decides: the table properties and fields (Full),
// then the indexes and full-text parameters (IndexOnly), else HeaderOnly.
// passwordDiffers compares the new password with the one the table was
// opened with.
RestructureLevel ChooseRestructureLevel(const TableShape& current, const TableShape& wanted,
                                        bool passwordDiffers, std::string_view tableName,
                                        std::string_view databaseName);

}  // namespace strata
