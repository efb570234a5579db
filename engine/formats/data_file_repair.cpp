// TDataFile::RepairHeader: the data file's part of table verification. The
// descriptors are checked in order against the field rules and the record
// layout they give, then the header values against the descriptors and the
// file's length. Verification reads only; a repair works on copies and
// stores them together at the end, so a header it cannot hold changes
// nothing.
#include <limits>
#include <string>
#include <vector>

#include "engine/errors/engine_error.h"
#include "engine/files/base_file.h"
#include "engine/formats/data_file.h"
#include "engine/formats/field_rules.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

bool ValidFirstCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}

}  // namespace

std::int32_t TDataFile::WholeSlotCount() {
  const std::int64_t excess = GetFileSize() - FirstUnitOffset();
  if (excess <= 0 || header_.RecordSize == 0) return 0;
  const std::int64_t slots = excess / header_.RecordSize;
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(slots, std::numeric_limits<std::int32_t>::max() - 1));
}

bool TDataFile::RepairHeader(const RepairLog& log, bool verifyOnly) {
  HeaderFindings report(log, !verifyOnly);
  const bool repair = report.Repair();
  const std::string suffix = report.Suffix();
  // "<text><name> in table header", ", error fixed" (or "cannot be fixed").
  const auto fieldLine = [&](const std::string& text, const std::string& name,
                             bool fixable = true) {
    report(text + name + " in table header" +
           (repair ? (fixable ? ", error fixed" : ", error cannot be fixed") : ""));
  };

  std::vector<FieldDescriptor> fields = fields_;
  std::int64_t offset = kFirstFieldOffset;
  std::uint16_t blobs = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    FieldDescriptor f = fields[i];
    ComputePhysicalSize(f);
    const auto isDuplicate = [&](std::string_view name) {
      for (std::size_t j = 0; j < fields.size(); ++j) {
        if (j != i && SameFieldName(fields[j].Name, name)) return true;
      }
      return false;
    };

    const std::string_view trimmed = TrimName(f.Name);
    if (trimmed.empty()) {
      report("Invalid field name (blank) for field # " + std::to_string(f.FieldNumber) +
             " in table header" + suffix);
      if (repair) f.Name = "Repaired_Fld" + std::to_string(f.FieldNumber);
    } else {
      if (!ValidFirstCharacter(trimmed.front())) {
        fieldLine("Invalid field name (first character) for field ", f.Name);
        if (repair) f.Name = ("_" + f.Name).substr(0, kMaxFieldNameLength);
      }
      if (f.Name.size() > kMaxFieldNameLength) {
        fieldLine("Invalid field name (too long) for field ", f.Name);
        if (repair) f.Name.resize(kMaxFieldNameLength);
      }
      if (isDuplicate(f.Name)) {
        fieldLine("Invalid field name (duplicate) for field ", f.Name);
        if (repair) {
          // The field number makes the name unique; a name must not start
          // with a digit, so "_" comes first (again while it still clashes).
          std::string name =
              ("_" + std::to_string(f.FieldNumber) + f.Name).substr(0, kMaxFieldNameLength);
          for (std::size_t guard = 0; isDuplicate(name) && guard < fields.size(); ++guard) {
            name = ("_" + name).substr(0, kMaxFieldNameLength);
          }
          f.Name = name;
        }
      }
    }

    if (f.EngineType == kTypeInvalid) {
      fieldLine("Invalid field data type (Unknown) for field ", f.Name, false);
    }
    if (HasDeclaredLength(f.EngineType)) {
      const std::uint16_t limit = MaxDeclaredLength(f.EngineType, f.SubType);
      const std::string start = "Invalid field length for field " + f.Name + " in table header (" +
                                std::to_string(f.DeclaredLength);
      if (f.DeclaredLength > limit) {
        report(start + (repair ? "), error fixed" : ")"));
        if (repair) f.DeclaredLength = limit;
      } else if (f.DeclaredLength == 0) {
        report(start + (repair ? "), error cannot be fixed" : ")"));
      }
    } else if (f.DeclaredLength != 0) {
      fieldLine("Invalid field length for field ", f.Name);
      if (repair) f.DeclaredLength = 0;
    }
    if (!IsValidValueText(f.EngineType, f.DefaultValue)) {
      fieldLine("Invalid default value for field ", f.Name);
      if (repair) f.DefaultValue.clear();
    }
    if (!IsValidValueText(f.EngineType, f.MinValue)) {
      fieldLine("Invalid minimum value for field ", f.Name);
      if (repair) f.MinValue.clear();
    }
    if (!IsValidValueText(f.EngineType, f.MaxValue)) {
      fieldLine("Invalid maximum value for field ", f.Name);
      if (repair) f.MaxValue.clear();
    }
    if (f.DeclaredDecimals != 0 && f.EngineType != kTypeBcd) {
      fieldLine("Invalid field decimals for field ", f.Name);
      if (repair) f.DeclaredDecimals = 0;
    }
    // Flags are 0 or 1 (any other value reads as set), the letter case one
    // of three, and only BLOB values are compressed, at level 1 to 9.
    if (f.Required > 1) {
      fieldLine("Invalid required flag for field ", f.Name);
      if (repair) f.Required = 1;
    }
    if (f.CharCase > 2) {
      fieldLine("Invalid character case for field ", f.Name);
      if (repair) f.CharCase = 0;
    }
    if (f.EngineType == kTypeBlob ? f.Compression > 9 : f.Compression != 0) {
      fieldLine("Invalid compression level for field ", f.Name);
      if (repair) f.Compression = f.EngineType == kTypeBlob ? 9 : 0;
    }
    if (f.Computed != 0) {
      fieldLine("Invalid computed field flag for field ", f.Name);
      if (repair) f.Computed = 0;
    }
    if (repair) ComputePhysicalSize(f);
    if (f.FieldOffset != offset) {
      fieldLine("Invalid field offset for field ", f.Name);
      if (repair) {
        if (offset > kMaxRecordSize) Raise(STRATA_HEADERCORRUPT);
        f.FieldOffset = static_cast<std::uint16_t>(offset);
      }
    }
    if (f.FieldNumber != i + 1) {
      fieldLine("Invalid field number for field ", f.Name);
      if (repair) f.FieldNumber = static_cast<std::uint16_t>(i + 1);
    }
    offset += f.PhysicalSize + record_layout::kNullFlagSize;
    if (f.EngineType == kTypeBlob) ++blobs;
    if (repair) fields[i] = std::move(f);
  }

  DataFileHeader header = header_;
  const std::int64_t recordSize = RoundUpTo8(offset);
  if (header.RecordSize != recordSize) {
    report("Invalid physical record length in table header" + suffix);
    if (repair) {
      if (recordSize > kMaxRecordSize) Raise(STRATA_HEADERCORRUPT);
      header.RecordSize = static_cast<std::uint16_t>(recordSize);
    }
  }
  if (header.RecordSize < kFirstFieldOffset) Raise(STRATA_HEADERCORRUPT);
  const std::int64_t excess = GetFileSize() - FirstUnitOffset();
  if (excess < 0) Raise(STRATA_HEADERCORRUPT);
  const std::int64_t slots = excess / header.RecordSize;
  if (slots >= std::numeric_limits<std::int32_t>::max()) Raise(STRATA_HEADERCORRUPT);
  const bool partialSlot = excess % header.RecordSize != 0;
  if (partialSlot) report("Physical records not aligned on even record size boundaries" + suffix);
  if (header.NextRecordNumber != slots + 1) {
    report("Physical record count not correct" + suffix);
    if (repair) header.NextRecordNumber = static_cast<std::int32_t>(slots + 1);
  }
  if (header.FirstFreeRecord < 0 || header.FirstFreeRecord > slots) {
    report("Invalid next free record pointer" + suffix);
    if (repair) header.FirstFreeRecord = 0;
  }
  if (header.BlobFieldCount != blobs) {
    report("Invalid BLOB field count in table header" + suffix);
    if (repair) header.BlobFieldCount = blobs;
  }
  // A table is enciphered (1) or not (0); any other value reads as not.
  if (header.Encrypted > 1) {
    report("Invalid encryption flag in table header" + suffix);
    if (repair) header.Encrypted = 0;
  }
  // Only an encrypted table carries a password check value.
  if (header.Encrypted == 0 && header.PasswordCheck != Digest{}) {
    report("Password check value of a table without a password" + suffix);
    if (repair) header.PasswordCheck = Digest{};
  }
  if (!repair) return report.Clean();

  // Records cached under the old layout must not outlive it.
  WriteBack(false);
  DropBuffers();
  if (partialSlot) {
    {
      IoGuard io(*this);
      Seek(TBaseFile::kFromStart, FirstUnitOffset() + slots * header.RecordSize);
      Write({});
    }
    if (owner_.ForceBufferFlush()) Flush();
    owner_.MarkModified();
  }
  header.FormatVersion = kCurrentFormatVersion;
  // The record pass rebuilds the free chain from the deleted slots.
  header.FirstFreeRecord = 0;
  header.HeaderModified = true;
  header_ = std::move(header);
  fields_ = std::move(fields);
  descriptorsChanged_ = true;
  ResetCache();
  return report.Clean();
}

}  // namespace strata
