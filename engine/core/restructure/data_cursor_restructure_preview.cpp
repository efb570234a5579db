// TDataCursor: the preview of a restructure. It decides the level as the
// restructure does and counts what the chosen level would lose, reading the
// table shared and read-only and writing nothing.
#include <algorithm>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/cursors/modes_scope.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/core/schema/field_value_rules.h"
#include "engine/core/restructure/restructure_decision.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/index_key.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_conversion.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

// Room for any converted value: every text form and the largest field.
constexpr std::size_t kValueBufferSlack = 512;

// The keys of one unique index that the records kept so far hold.
class UniqueKeys {
 public:
  explicit UniqueKeys(IndexKeyLayout layout)
      : layout_(std::move(layout)), keys_(Less{&layout_}), key_(layout_.KeyLength()) {}
  UniqueKeys(const UniqueKeys&) = delete;
  UniqueKeys& operator=(const UniqueKeys&) = delete;

  // The record's key, built for Contains and Add.
  void Build(std::span<const std::uint8_t> record, std::int32_t recordId) {
    layout_.BuildKey(record, recordId, key_);
  }
  bool Contains() const { return keys_.contains(key_); }
  void Add() { keys_.insert(key_); }

 private:
  struct Less {
    const IndexKeyLayout* layout;
    bool operator()(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
      return layout->CompareKeys(a.data(), b.data(), a.size()) < 0;
    }
  };
  IndexKeyLayout layout_;
  std::set<std::vector<std::uint8_t>, Less> keys_;
  std::vector<std::uint8_t> key_;
};

// A record is dropped when one of its keys is held already; else its keys
// are kept. True when it is dropped.
bool DuplicateKey(std::vector<std::unique_ptr<UniqueKeys>>& indexes,
                  std::span<const std::uint8_t> record, std::int32_t recordId) {
  for (const auto& index : indexes) {
    index->Build(record, recordId);
    if (index->Contains()) return true;
  }
  for (const auto& index : indexes) {
    index->Build(record, recordId);
    index->Add();
  }
  return false;
}

std::size_t RecordSizeOf(std::span<const FieldDescriptor> fields) {
  std::size_t end = kFirstFieldOffset;
  for (const FieldDescriptor& field : fields) {
    end = std::max<std::size_t>(
        end, field.FieldOffset + record_layout::kNullFlagSize + field.PhysicalSize);
  }
  return RoundUpTo8(end);
}

// The data file's header and field descriptors.
std::int64_t DescriptorBytes(std::size_t fieldCount) {
  return static_cast<std::int64_t>(kDataHeaderSize + kFieldDescriptorSize * fieldCount);
}

bool IsAutoIncField(const FieldDescriptor& field) {
  return field.EngineType == kTypeInteger && field.SubType == kSubTypeAutoInc;
}

std::size_t TextLength(std::span<const std::uint8_t> bytes) {
  return static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin());
}

// A string or a memo: the restructure carries text between the two.
bool HoldsText(const FieldDescriptor& field) {
  return field.EngineType == kTypeString || IsMemo(field.EngineType, field.SubType);
}

// Whether a value is cut when it moves to a field of newSize bytes: a text
// longer than the new field holds, or bytes beyond the new size that are
// not zero.
bool ValueCut(const FieldDescriptor& oldField, const FieldDescriptor& newField,
              std::span<const std::uint8_t> oldValue) {
  if (oldField.EngineType == kTypeString && newField.EngineType == kTypeString) {
    return TextLength(oldValue) + 1 > newField.PhysicalSize;
  }
  const bool bytes = [](std::uint8_t type) { return type == kTypeBytes || type == kTypeVarBytes; }(
      newField.EngineType);
  if (!bytes || oldValue.size() <= newField.PhysicalSize) return false;
  return std::any_of(oldValue.begin() + newField.PhysicalSize, oldValue.end(),
                     [](std::uint8_t b) { return b != 0; });
}

// Whether a converted value reads back as the stored one: taken back to the
// old field's type it must give the old bytes (a text up to its end). The
// new value is first cut as the field write cuts it. `value` holds the
// converted value and is used up.
bool ConvertsBack(const FieldDescriptor& oldField, const FieldDescriptor& newField,
                  std::span<const std::uint8_t> oldValue, std::span<std::uint8_t> value) {
  if (newField.EngineType == kTypeString && newField.PhysicalSize > 0) {
    value[newField.PhysicalSize - 1u] = 0;
  }
  std::fill(value.begin() + newField.PhysicalSize, value.end(), 0);
  if (!ConvertFieldValue(newField.EngineType, newField.PhysicalSize, value,
                         oldField.PhysicalDecimals, oldField.PhysicalSize, oldField.EngineType)) {
    return false;
  }
  if (oldField.EngineType == kTypeString) {
    const std::size_t length = TextLength(oldValue);
    return TextLength(value) == length && std::equal(oldValue.begin(), oldValue.begin() + length,
                                                     value.begin());
  }
  return std::equal(oldValue.begin(), oldValue.end(), value.begin());
}

bool HeaderChanges(const TDataTable& table, const TableProperties& options,
                   const TableDefinition& definition, std::int32_t pageSize,
                   std::int32_t blockSize) {
  const std::span<const FieldDescriptor> fields = definition.Fields;
  const TDataFile& data = *table.DataFile();
  const TIndexFile& index = *table.IndexFile();
  const std::span<const FieldDescriptor> stored = data.Fields();
  for (std::size_t i = 0; i < fields.size() && i < stored.size(); ++i) {
    const FieldDescriptor& a = stored[i];
    const FieldDescriptor& b = fields[i];
    if (a.FieldNumber != b.FieldNumber || a.Name != b.Name || a.SubType != b.SubType ||
        a.Description != b.Description || a.Required != b.Required || a.MinValue != b.MinValue ||
        a.MaxValue != b.MaxValue || a.DefaultValue != b.DefaultValue) {
      return true;
    }
  }
  for (int slot = 0; slot <= definition.SecondaryIndexCount; ++slot) {
    const IndexDescriptor& a = index.Descriptor(slot);
    const IndexDescriptor& b = definition.Indexes[static_cast<std::size_t>(slot)];
    if (a.Name != b.Name || a.FieldNumbers != b.FieldNumbers ||
        a.DescendingFields != b.DescendingFields) {
      return true;
    }
  }
  const DataFileHeader& h = data.Header();
  return h.LocaleID != static_cast<std::uint32_t>(options.LocaleID) ||
         h.UserMajorVersion != options.UserMajorVersion ||
         h.UserMinorVersion != options.UserMinorVersion ||
         (options.LastAutoIncValue != -1 && h.LastAutoIncValue != options.LastAutoIncValue) ||
         h.BlobBlockSize != blockSize || h.IndexPageSize != pageSize ||
         h.Description != options.Description.substr(0, data_header_layout::kDescriptionLength) ||
         (h.Encrypted != 0) != options.Encrypted;
}


}  // namespace

RestructurePreview TDataCursor::PreviewRestructure(const RestructureOptions& options,
                                                   const TableDefinition& definition) {
  if (table_ != nullptr) Raise(STRATA_TABLEOPEN);
  const auto [pageSize, blockSize] = ValidateNewStructure(options, definition);
  const std::span<const FieldDescriptor> fields = definition.Fields;

  ModesScope modes(modes_, CursorModes{.ReadOnly = true, .SequentialScan = true});
  // Checked as the restructure checks it, so that both decide alike.
  Open();
  struct CloseAtEnd {
    TDataCursor& cursor;
    ~CloseAtEnd() {
      SetAsideError("best-effort close of a read-only preview in a destructor",
                    [&] { cursor.Close(); });
    }
  } closeAtEnd{*this};

  TDataTable& table = *table_;
  TDataFile& data = *table.DataFile();
  TIndexFile& index = *table.IndexFile();
  RestructurePreview preview;
  preview.Level =
      DecideRestructure(table, this, options, definition, pageSize, blockSize, displayName_)
          .Level;
  preview.Records = data.Header().RecordCount;
  const std::span<const FieldDescriptor> stored = data.Fields();

  if (preview.Level == RestructureLevel::HeaderOnly) {
    preview.HeaderChanges = HeaderChanges(table, options, definition, pageSize, blockSize);
    preview.BytesToRewrite = DescriptorBytes(fields.size()) + kFirstIndexPageOffset;
    return preview;
  }

  const Collation collation = Collation::For(static_cast<std::uint32_t>(options.LocaleID));
  const std::string databaseName = directory_.ErrorDatabaseName();
  // The unique indexes whose keys are checked: all of the new structure in
  // a full rebuild; those built anew in an index-only rebuild (an index
  // kept as it is holds no duplicates).
  std::vector<std::unique_ptr<UniqueKeys>> unique;
  for (int slot = 0; slot <= definition.SecondaryIndexCount; ++slot) {
    const IndexDescriptor& wanted = definition.Indexes[static_cast<std::size_t>(slot)];
    if (wanted.Unique == 0) continue;
    if (preview.Level == RestructureLevel::IndexOnly && slot <= index.SecondaryIndexCount() &&
        !IndexDescriptorsDiffer(index.Descriptor(slot), wanted, stored, fields, displayName_,
                                databaseName)) {
      continue;
    }
    unique.push_back(std::make_unique<UniqueKeys>(
        IndexKeyLayout::Make(wanted, fields, collation, displayName_, databaseName)));
  }

  std::vector<std::uint8_t> oldRecord = NewRecordBuffer();
  BeginProgress();
  if (preview.Level == RestructureLevel::IndexOnly) {
    for (std::int32_t n = 1; n <= PhysicalRecordCount(); ++n) {
      if (ReadRecord(n, oldRecord) &&
          DuplicateKey(unique, oldRecord, LoadI32(oldRecord.data() + record_layout::kId))) {
        ++preview.KeyViolations;
      }
      StepProgress(n, PhysicalRecordCount());
    }
    EndProgress();
    preview.BytesToRewrite = index.GetFileSize();
    return preview;
  }

  // Full rebuild: each stored field's counterpart by field number.
  std::vector<const FieldDescriptor*> targets;
  std::vector<std::ptrdiff_t> changeIndex(stored.size(), -1);
  for (const FieldDescriptor& old : stored) {
    const auto match = std::find_if(fields.begin(), fields.end(), [&](const FieldDescriptor& f) {
      return f.FieldNumber == old.FieldNumber;
    });
    const FieldDescriptor* target = match == fields.end() ? nullptr : &*match;
    targets.push_back(target);
    if (target == nullptr || target->EngineType != old.EngineType ||
        target->PhysicalSize != old.PhysicalSize ||
        target->PhysicalDecimals != old.PhysicalDecimals) {
      FieldChangePreview change;
      change.Name = old.Name;
      change.Dropped = target == nullptr;
      change.OldType = old.EngineType;
      change.OldSize = old.PhysicalSize;
      change.NewType = target != nullptr ? target->EngineType : 0;
      change.NewSize = target != nullptr ? target->PhysicalSize : 0;
      changeIndex[targets.size() - 1] = static_cast<std::ptrdiff_t>(preview.Fields.size());
      preview.Fields.push_back(change);
    }
  }

  const std::size_t newRecordSize = RecordSizeOf(fields);
  std::vector<std::uint8_t> newRecord(newRecordSize);
  std::size_t widest = 0;
  for (const FieldDescriptor& field : stored) widest = std::max<std::size_t>(widest, field.PhysicalSize);
  for (const FieldDescriptor& field : fields) widest = std::max<std::size_t>(widest, field.PhysicalSize);
  std::vector<std::uint8_t> value(widest + kValueBufferSlack);
  std::vector<std::uint8_t> roundTrip(value.size());
  // A NULL AutoInc value gets a number that no record holds: counted down
  // from the top of the range.
  std::int32_t freshAutoInc = std::numeric_limits<std::int32_t>::max();
  std::int64_t kept = 0;

  for (std::int32_t n = 1; n <= PhysicalRecordCount(); ++n) {
    if (!ReadRecord(n, oldRecord)) {
      StepProgress(n, PhysicalRecordCount());
      continue;
    }
    std::fill(newRecord.begin(), newRecord.end(), 0);
    for (const FieldDescriptor& field : fields) {
      if (!field.DefaultValue.empty() && field.EngineType != kTypeBlob) {
        ApplyDefaultValue(newRecord, field, collation);
      }
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
      const FieldDescriptor& old = stored[i];
      const FieldDescriptor* target = targets[i];
      FieldChangePreview* change =
          changeIndex[i] < 0 ? nullptr : &preview.Fields[static_cast<std::size_t>(changeIndex[i])];
      if (FieldIsNull(oldRecord, old)) {
        if (target != nullptr) SetFieldNull(newRecord, *target);
        continue;
      }
      if (change != nullptr) ++change->Values;
      if (target == nullptr) {
        ++change->Lost;
        continue;
      }
      if (old.EngineType == kTypeBlob || target->EngineType == kTypeBlob) {
        if (old.EngineType == target->EngineType) {
          WriteBlobReference(newRecord, *target, ReadBlobReference(oldRecord, old));
        } else if (!HoldsText(old) || !HoldsText(*target)) {
          ++change->Lost;
        } else if (old.EngineType == kTypeBlob) {
          // A memo's text goes into the string, cut to its size.
          const auto position = static_cast<std::uint16_t>(i + 1);
          OpenBlob(oldRecord, position);
          if (TextLength(BlobValue(oldRecord, position)) > target->DeclaredLength) ++change->Cut;
          CloseBlob(oldRecord, position);
        }
        continue;
      }
      const ConstRecordImage oldValue = FieldBytes(oldRecord, old);
      std::fill(value.begin(), value.end(), 0);
      std::copy(oldValue.begin(), oldValue.end(), value.begin());
      if (!ConvertFieldValue(old.EngineType, old.PhysicalSize, value, target->PhysicalDecimals,
                             target->PhysicalSize, target->EngineType)) {
        ++change->Lost;
        continue;
      }
      if (change != nullptr) {
        if (ValueCut(old, *target, oldValue)) {
          ++change->Cut;
        } else {
          std::copy(value.begin(), value.end(), roundTrip.begin());
          if (!ConvertsBack(old, *target, oldValue, roundTrip)) ++change->Changed;
        }
      }
      WriteFieldBytes(newRecord, *target, value, collation);
    }
    for (const FieldDescriptor& field : fields) {
      if (IsAutoIncField(field) && FieldIsNull(newRecord, field)) {
        WriteInteger(newRecord, field, freshAutoInc--);
      }
    }
    const bool valid = std::all_of(fields.begin(), fields.end(), [&](const FieldDescriptor& f) {
      return !HasValueRules(f) || CheckFieldValue(newRecord, f, collation) == 0;
    });
    if (!valid) {
      ++preview.ValidityFailures;
    } else if (DuplicateKey(unique, newRecord, LoadI32(oldRecord.data() + record_layout::kId))) {
      ++preview.KeyViolations;
    } else {
      ++kept;
    }
    StepProgress(n, PhysicalRecordCount());
  }
  EndProgress();
  preview.BytesToRewrite =
      DescriptorBytes(fields.size()) + static_cast<std::int64_t>(newRecordSize) * kept + index.GetFileSize() +
      (table.BlobFile() != nullptr ? table.BlobFile()->GetFileSize() : 0);
  return preview;
}

}  // namespace strata
