#include "engine/core/schema/restructure_plan.h"

#include <string>

#include "engine/errors/engine_error.h"
#include "engine/locale/collation.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

bool TextsDiffer(std::string_view a, std::string_view b) {
  return CollateCompare(0, a, b, true) != 0;
}

const FieldDescriptor* FindField(std::span<const FieldDescriptor> fields, std::uint16_t number) {
  for (const FieldDescriptor& field : fields) {
    if (field.FieldNumber == number) return &field;
  }
  return nullptr;
}

}  // namespace

bool FieldDescriptorsDiffer(const FieldDescriptor& oldField, const FieldDescriptor& newField) {
  if (oldField.FieldNumber != newField.FieldNumber || oldField.EngineType != newField.EngineType ||
      oldField.PhysicalSize != newField.PhysicalSize ||
      oldField.PhysicalDecimals != newField.PhysicalDecimals ||
      oldField.Required != newField.Required || oldField.CharCase != newField.CharCase ||
      oldField.Compression != newField.Compression) {
    return true;
  }
  if (TextsDiffer(oldField.DefaultValue, newField.DefaultValue) ||
      TextsDiffer(oldField.MinValue, newField.MinValue) ||
      TextsDiffer(oldField.MaxValue, newField.MaxValue)) {
    return true;
  }
  // A string that turns wide (or back) keeps its size in bytes but not what
  // they mean: its values are converted.
  if (IsWideString(oldField.EngineType, oldField.SubType) !=
      IsWideString(newField.EngineType, newField.SubType)) {
    return true;
  }
  return newField.SubType == kSubTypeAutoInc && oldField.SubType == kSubTypeNone;
}

bool IndexDescriptorsDiffer(const IndexDescriptor& oldIndex, const IndexDescriptor& newIndex,
                            std::span<const FieldDescriptor> oldFields,
                            std::span<const FieldDescriptor> newFields,
                            std::string_view tableName, std::string_view databaseName) {
  if (oldIndex.KeyLength != newIndex.KeyLength || oldIndex.FieldCount != newIndex.FieldCount ||
      oldIndex.CaseInsensitive != newIndex.CaseInsensitive || oldIndex.Unique != newIndex.Unique ||
      oldIndex.Compression != newIndex.Compression) {
    return true;
  }
  for (std::size_t i = 0; i < oldIndex.FieldCount && i < kMaxKeyFields; ++i) {
    const std::uint16_t number = oldIndex.FieldNumbers[i];
    if (number != newIndex.FieldNumbers[i] ||
        oldIndex.DescendingFields[i] != newIndex.DescendingFields[i]) {
      return true;
    }
    if (number == kRecordIdFieldNumber || number == kRecordHashFieldNumber) continue;
    const FieldDescriptor* oldField = FindField(oldFields, number);
    const FieldDescriptor* newField = FindField(newFields, number);
    if (oldField == nullptr || newField == nullptr) {
      // The number is all there is to name: no field carries it.
      RaiseEngineError(STRATA_OUTOFRANGE, {}, {}, databaseName, tableName, std::to_string(number),
                       newIndex.Name);
    }
    if (FieldDescriptorsDiffer(*oldField, *newField)) return true;
  }
  return false;
}

std::vector<std::uint16_t> NewFieldPositions(std::span<const FieldDescriptor> oldFields,
                                             std::span<const FieldDescriptor> newFields) {
  std::vector<std::uint16_t> positions;
  positions.reserve(oldFields.size());
  for (const FieldDescriptor& old : oldFields) {
    const FieldDescriptor* match = FindField(newFields, old.FieldNumber);
    positions.push_back(match == nullptr
                            ? std::uint16_t{0}
                            : static_cast<std::uint16_t>(match - newFields.data() + 1));
  }
  return positions;
}

bool FullTextParamsDiffer(const FullTextParams& oldParams, const FullTextParams& newParams,
                          std::uint32_t localeId) {
  if (oldParams.SpaceChars != newParams.SpaceChars ||
      oldParams.IncludeChars != newParams.IncludeChars ||
      oldParams.StopWords.size() != newParams.StopWords.size()) {
    return true;
  }
  for (std::size_t i = 0; i < oldParams.StopWords.size(); ++i) {
    if (CollateCompare(localeId, oldParams.StopWords[i], newParams.StopWords[i], true) != 0) {
      return true;
    }
  }
  return false;
}

RestructureLevel ChooseRestructureLevel(const TableShape& current, const TableShape& wanted,
                                        bool passwordDiffers, std::string_view tableName,
                                        std::string_view databaseName) {
  if (current.Encrypted != wanted.Encrypted || passwordDiffers ||
      current.IndexPageSize != wanted.IndexPageSize ||
      current.BlobBlockSize != wanted.BlobBlockSize || current.LocaleID != wanted.LocaleID ||
      current.Fields.size() != wanted.Fields.size()) {
    return RestructureLevel::Full;
  }
  for (std::size_t i = 0; i < current.Fields.size(); ++i) {
    if (FieldDescriptorsDiffer(current.Fields[i], wanted.Fields[i])) return RestructureLevel::Full;
  }
  if (current.SecondaryIndexCount != wanted.SecondaryIndexCount) return RestructureLevel::IndexOnly;
  if (current.FullText != nullptr && wanted.FullText != nullptr &&
      FullTextParamsDiffer(*current.FullText, *wanted.FullText, wanted.LocaleID)) {
    return RestructureLevel::IndexOnly;
  }
  for (int slot = 0; slot <= wanted.SecondaryIndexCount; ++slot) {
    if (IndexDescriptorsDiffer(current.Indexes[slot], wanted.Indexes[slot], current.Fields,
                               wanted.Fields, tableName, databaseName)) {
      return RestructureLevel::IndexOnly;
    }
  }
  if (IndexDescriptorsDiffer(current.Indexes[kFullTextSlot], wanted.Indexes[kFullTextSlot],
                             current.Fields, wanted.Fields, tableName, databaseName)) {
    return RestructureLevel::IndexOnly;
  }
  return RestructureLevel::HeaderOnly;
}

}  // namespace strata
