#include "engine/core/schema/structure_validation.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/errors/engine_error.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/locale/collation.h"
#include "engine/values/convert_error.h"
#include "engine/values/engine_text.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::uint8_t kMaxCompressionLevel = 9;
constexpr std::uint8_t kFullCompression = 3;

[[noreturn]] void RaiseStructureError(ErrorCode code, const StructureNames& names,
                                      std::string_view fieldName = {},
                                      std::string_view indexName = {}) {
  RaiseEngineError(code, {}, {}, names.DatabaseName, names.TableName, fieldName, indexName);
}

// A name as it is stored: without surrounding blanks, at most 60 characters.
std::string StoredName(std::string_view name, std::size_t maxLength) {
  return std::string(TrimName(name).substr(0, maxLength));
}

bool AllowedFirstCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}

bool ValidDeclaredLength(const FieldDescriptor& field) {
  return field.DeclaredLength >= 1 &&
         field.DeclaredLength <= MaxDeclaredLength(field.EngineType, field.SubType);
}

// A BCD value text must also fit the currency range the values are kept in.
bool ValidValueText(std::uint8_t type, std::string_view text) {
  if (!IsValidValueText(type, text)) return false;
  if (type != kTypeBcd || text.empty()) return true;
  try {
    EngineTextToCurrency(text);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

bool ValidCompression(const FieldDescriptor& field) {
  return field.Compression == 0 ||
         (field.EngineType == kTypeBlob && field.Compression <= kMaxCompressionLevel);
}

bool IsTextIndexable(const FieldDescriptor& field) {
  return field.EngineType == kTypeString ||
         (field.EngineType == kTypeBlob && field.SubType == kSubTypeMemo);
}

// Walks the key field numbers of a slot: counts them up to the first 0 and
// sums their key widths (without the RecordID suffix). A full-text slot takes
// only string and memo fields and has no width of its own.
struct KeyFields {
  std::uint8_t Count = 0;
  std::uint32_t Bytes = 0;
};

KeyFields WalkKeyFields(const IndexDescriptor& index, std::span<const FieldDescriptor> fields,
                        bool fullText, std::string_view indexName, const StructureNames& names) {
  KeyFields result;
  bool ended = false;
  for (const std::uint16_t number : index.FieldNumbers) {
    if (number == 0) {
      ended = true;
      continue;
    }
    if (ended) RaiseStructureError(STRATA_INVALIDIDXDESC, names, std::to_string(number), indexName);
    const FieldDescriptor* field = FindKeyField(fields, number);
    if (field == nullptr) {
      RaiseStructureError(STRATA_INVALIDIDXDESC, names, std::to_string(number), indexName);
    }
    if (fullText ? !IsTextIndexable(*field) : field->EngineType == kTypeBlob) {
      RaiseStructureError(STRATA_SEARCHCOLREQD, names, field->Name, indexName);
    }
    ++result.Count;
    if (!fullText) result.Bytes += index_key_layout::kNullFlagSize + KeyBytesOf(*field);
  }
  return result;
}

}  // namespace

void ValidateStructure(std::int32_t localeId, bool encrypted, std::string_view password,
                       std::int32_t indexPageSize, std::int32_t blobBlockSize,
                       const TableDefinition& definition, const StructureNames& names) {
  const std::span<FieldDescriptor> fields = definition.Fields;
  const int secondaryIndexCount = definition.SecondaryIndexCount;
  if (encrypted) {
    const std::size_t length = TrimName(password).size();
    if (length < 1 || length > kMaxPasswordLength) {
      RaiseStructureError(STRATA_INVALIDPASSWORD, names);
    }
  }
  if (localeId != 0 && !LocaleAvailable(static_cast<std::uint32_t>(localeId))) {
    RaiseStructureError(STRATA_CANNOTLOADLDDRV, names);
  }
  if (fields.empty() || fields.size() > kMaxFieldCount) {
    RaiseStructureError(STRATA_FLDLIMIT, names);
  }
  if (indexPageSize < kMinIndexPageSize || indexPageSize > kMaxIndexPageSize) {
    RaiseStructureError(STRATA_INDEXLIMIT, names);
  }
  // A negative count would leave the stored count undefined.
  if (secondaryIndexCount < 0 || secondaryIndexCount > static_cast<int>(kMaxSecondaryIndexes)) {
    RaiseStructureError(STRATA_INDEXLIMIT, names);
  }
  if (blobBlockSize < kMinBlobBlockSize || blobBlockSize > kMaxBlobBlockSize) {
    RaiseStructureError(STRATA_BLOBLIMIT, names);
  }
  ValidateFieldDescriptors(fields, names);
  ValidateIndexDescriptors(definition, indexPageSize, names);
}

void ValidateFieldDescriptors(std::span<FieldDescriptor> fields, const StructureNames& names) {
  std::unordered_map<std::uint16_t, int> numberUses;
  std::vector<std::string> storedNames;
  storedNames.reserve(fields.size());
  for (const FieldDescriptor& field : fields) {
    ++numberUses[field.FieldNumber];
    storedNames.push_back(StoredName(field.Name, kMaxFieldNameLength));
  }

  // Wider than FieldOffset: a record too large for it fails when the data
  // file takes the structure over.
  std::uint32_t offset = kFirstFieldOffset;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    FieldDescriptor& field = fields[i];
    field.Name = storedNames[i];

    bool badName = !IsValidFieldName(field.Name) || SameFieldName(field.Name, "RecordID") ||
                   SameFieldName(field.Name, "RecordHash");
    for (std::size_t j = 0; j < fields.size() && !badName; ++j) {
      badName = j != i && SameFieldName(field.Name, storedNames[j]);
    }
    if (badName) RaiseStructureError(STRATA_INVALIDFIELDNAME, names, field.Name);

    const bool systemNumber =
        field.FieldNumber == kRecordIdFieldNumber || field.FieldNumber == kRecordHashFieldNumber;
    if ((!systemNumber && numberUses[field.FieldNumber] > 1) || field.EngineType == kTypeInvalid) {
      RaiseStructureError(STRATA_INVALIDFLDTYPE, names, field.Name);
    }

    if (HasDeclaredLength(field.EngineType)) {
      if (!ValidDeclaredLength(field)) RaiseStructureError(STRATA_INVALIDFLDTYPE, names, field.Name);
    } else {
      field.DeclaredLength = 0;
    }

    if (!ValidValueText(field.EngineType, field.DefaultValue) ||
        !ValidValueText(field.EngineType, field.MinValue) ||
        !ValidValueText(field.EngineType, field.MaxValue)) {
      RaiseStructureError(STRATA_INVALIDVCHKSTRUCT, names, field.Name);
    }

    if (!ValidCompression(field) || field.Computed != 0) {
      RaiseStructureError(STRATA_INVALIDFLDTYPE, names, field.Name);
    }

    if (field.EngineType != kTypeBcd) field.DeclaredDecimals = 0;
    ComputePhysicalSize(field);
    field.FieldOffset = static_cast<std::uint16_t>(offset);
    offset += field.PhysicalSize + record_layout::kNullFlagSize;
  }
}

void ValidateIndexDescriptors(const TableDefinition& definition, std::int32_t indexPageSize,
                              const StructureNames& names) {
  const std::span<const FieldDescriptor> fields = definition.Fields;
  const IndexSlots indexes = definition.Indexes;
  const std::uint32_t maxKeyBytes =
      std::min<std::uint32_t>(kMaxKeyBytes, static_cast<std::uint32_t>(
                                                std::max(indexPageSize - kPageHeaderSize, 0) / 3));
  const auto last = static_cast<std::size_t>(
      std::clamp(definition.SecondaryIndexCount, 0, static_cast<int>(kMaxSecondaryIndexes)));

  for (std::size_t slot = 0; slot <= last; ++slot) {
    IndexDescriptor& index = indexes[slot];
    std::string errorName;
    if (slot == 0) {
      if (index.FieldNumbers[0] == 0) {
        index = TIndexFile::DefaultPrimaryDescriptor();
        continue;
      }
      index.Name.clear();
      index.Unique = 1;
      errorName = kPrimaryIndexErrorName;
    } else {
      index.Name = StoredName(index.Name, kMaxIndexNameLength);
      // An empty or blank name has no allowed first character either.
      if (index.Name.empty() || !AllowedFirstCharacter(index.Name.front())) {
        RaiseStructureError(STRATA_INVALIDINDEXNAME, names, {}, index.Name);
      }
      for (std::size_t other = 1; other <= last; ++other) {
        if (other != slot &&
            SameFieldName(index.Name, StoredName(indexes[other].Name, kMaxIndexNameLength))) {
          RaiseStructureError(STRATA_INDEXEXISTS, names, {}, index.Name);
        }
      }
      errorName = index.Name;
    }

    const KeyFields keys = WalkKeyFields(index, fields, false, errorName, names);
    if (keys.Bytes == 0 || keys.Bytes > maxKeyBytes) {
      RaiseStructureError(STRATA_INVALIDKEY, names, {}, errorName);
    }
    index.FieldCount = keys.Count;
    index.KeyLength = static_cast<std::uint16_t>(keys.Bytes +
                                                 (index.Unique != 0 ? 0 : kRecordIdSuffixLength));
    index.FullText = 0;
  }

  IndexDescriptor& text = indexes[kFullTextSlot];
  const KeyFields keys = WalkKeyFields(text, fields, true, kFullTextIndexName, names);
  IndexDescriptor completed = TIndexFile::EmptyTextDescriptor();
  completed.FieldNumbers = text.FieldNumbers;
  completed.FieldCount = keys.Count;
  completed.Compression = kFullCompression;
  text = completed;
}

}  // namespace strata
