// TIndexFile::RepairHeader: the index file's part of table verification.
// Every finding here leaves the trees untrusted, so the caller rebuilds the
// indexes after a repair; page pointers are therefore only reported. The
// descriptors are checked slot by slot on working copies: a verification
// goes on as if each fix had been made (a key field reported once is passed
// over), a repair stores them.
#include <algorithm>
#include <string>

#include "engine/errors/engine_error.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/locale/windows1252.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::size_t kMaxIndexNameLength = index_descriptor_layout::kNameLength;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool SameIndexName(std::string_view a, std::string_view b) {
  a = Trimmed(a);
  b = Trimmed(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return kWindows1252Upper[static_cast<unsigned char>(x)] ==
                  kWindows1252Upper[static_cast<unsigned char>(y)];
         });
}

bool ValidFirstCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}

// A field a key of the slot can be built from: any field but a BLOB in an
// ordinary index, strings and memos in the full-text index.
bool UsableKeyField(const FieldDescriptor* field, bool fullText) {
  if (field == nullptr) return false;
  if (!fullText) return field->EngineType != kTypeBlob;
  return field->EngineType == kTypeString ||
         (field->EngineType == kTypeBlob && field->SubType == kSubTypeMemo);
}

// Drops key field entry i; the later entries move up and the last is 0.
void RemoveKeyField(IndexDescriptor& d, std::size_t i) {
  for (std::size_t j = i; j + 1 < kMaxKeyFields; ++j) {
    d.FieldNumbers[j] = d.FieldNumbers[j + 1];
    d.DescendingFields[j] = d.DescendingFields[j + 1];
  }
  d.FieldNumbers[kMaxKeyFields - 1] = 0;
  d.DescendingFields[kMaxKeyFields - 1] = 0;
}

}  // namespace

bool TIndexFile::PageInFile(std::int32_t page) {
  if (page < 1 || page > UnitCount()) return false;
  return UnitOffset(page) + pageSize_ <= GetFileSize();
}

bool TIndexFile::RepairHeader(const RepairLog& log, bool verifyOnly,
                              std::span<const FieldDescriptor> fields) {
  HeaderFindings report(log, !verifyOnly);
  const bool repair = report.Repair();
  const std::string suffix = report.Suffix();
  const auto pointerOk = [&](std::int32_t page) { return page == 0 || PageInFile(page); };

  // The pages after the descriptors: a whole number of them, as many as the
  // header counts (the rebuild empties the file and counts afresh).
  const std::int64_t pageBytes = GetFileSize() - FirstUnitOffset();
  if (pageBytes > 0 && pageBytes % pageSize_ != 0) {
    report("Index pages not aligned on even page size boundaries" + suffix);
  }
  if (std::int64_t{header_.NextPageNumber} - 1 != std::max<std::int64_t>(pageBytes, 0) / pageSize_) {
    report("Physical index page count not correct" + suffix);
  }
  if (!pointerOk(header_.FirstFreePage)) report("Invalid free index page pointer" + suffix);

  const std::uint32_t maxFieldBytes =
      std::min<std::uint32_t>(kMaxKeyBytes, static_cast<std::uint32_t>(PayloadSize() / 3));
  std::array<bool, kIndexSlotCount> removeSlot{};

  // Key fields, key size, field count and page rows of one slot.
  const auto checkKeys = [&](std::size_t slot, IndexDescriptor& d) {
    const bool fullText = slot == kFullTextSlot;
    const std::string removed = repair ? ", error fixed and field removed from index" : "";
    std::uint32_t fieldBytes = 0;
    std::size_t found = 0;
    for (std::size_t i = 0; i < kMaxKeyFields;) {
      const std::uint16_t number = d.FieldNumbers[i];
      if (number == 0) {
        if (i + 1 >= kMaxKeyFields || d.FieldNumbers[i + 1] == 0) {
          // The list ends here: an entry further on belongs to no key.
          for (std::size_t j = i + 2; j < kMaxKeyFields; ++j) {
            if (d.FieldNumbers[j] == 0) continue;
            report("Invalid field number " + std::to_string(d.FieldNumbers[j]) + " in index " +
                   d.Name + removed);
            d.FieldNumbers[j] = 0;
          }
          break;
        }
        report("Invalid field number 0 in index " + d.Name + removed);
        RemoveKeyField(d, i);
        continue;
      }
      const FieldDescriptor* field = FindKeyField(fields, number);
      if (!UsableKeyField(field, fullText)) {
        report("Invalid field number " + std::to_string(number) + " in index " + d.Name + removed);
        RemoveKeyField(d, i);
        continue;
      }
      fieldBytes += index_key_layout::kNullFlagSize + KeyBytesOf(*field);
      ++found;
      ++i;
    }
    if (!fullText) {
      if (fieldBytes == 0 || fieldBytes > maxFieldBytes) {
        report("Invalid key size of " + std::to_string(fieldBytes) + " for index " + d.Name +
               (repair ? ", error fixed and index removed" : ""));
        removeSlot[slot] = true;
      } else {
        const std::uint32_t keyLength =
            fieldBytes + (d.Unique != 0 ? 0u : std::uint32_t{kRecordIdSuffixLength});
        if (d.KeyLength != keyLength) {
          report("Invalid key size of " + std::to_string(d.KeyLength) + " for index " + d.Name +
                 suffix);
          d.KeyLength = static_cast<std::uint16_t>(keyLength);
        }
      }
    }
    if (d.FieldCount != found) {
      report("Invalid key field count of " + std::to_string(d.FieldCount) + " for index " + d.Name +
             suffix);
      d.FieldCount = static_cast<std::uint8_t>(found);
    }
    // A key field descends or not (any other value reads as descending);
    // an entry past the key fields has no flag, and the full-text index
    // orders its own way.
    bool flagsClean = true;
    for (std::size_t i = 0; i < kMaxKeyFields; ++i) {
      const std::uint8_t wanted = i < found && !fullText && d.DescendingFields[i] != 0 ? 1 : 0;
      if (d.DescendingFields[i] != wanted) {
        flagsClean = false;
        d.DescendingFields[i] = wanted;
      }
    }
    if (!flagsClean) report("Invalid descending key field flags for index " + d.Name + suffix);
    if (!pointerOk(header_.RootPage[slot])) {
      report("Invalid root page pointer for index " + d.Name + suffix);
    }
    // Only the full-text slot keeps a page of its own besides its tree.
    if (!pointerOk(header_.AuxPage[slot]) || (!fullText && header_.AuxPage[slot] != 0)) {
      report("Invalid data root page pointer for index " + d.Name + suffix);
    }
  };

  const std::size_t secondaryCount = header_.SecondaryIndexCount;
  for (std::size_t slot = 0; slot <= secondaryCount; ++slot) {
    IndexDescriptor d = descriptors_[slot];
    if (slot == 0) {
      if (!d.Name.empty() || d.Unique == 0 || d.FieldNumbers[0] == 0) {
        report("Invalid primary index definition" + suffix);
        if (d.FieldNumbers[0] == 0) {
          d = DefaultPrimaryDescriptor();
        } else {
          d.Name.clear();
          d.Unique = 1;
        }
      }
    } else {
      const auto clashes = [&](std::string_view name) {
        for (std::size_t other = 1; other <= secondaryCount; ++other) {
          if (other != slot && SameIndexName(descriptors_[other].Name, name)) return true;
        }
        return false;
      };
      const std::string_view trimmed = Trimmed(d.Name);
      if (trimmed.empty() || !ValidFirstCharacter(trimmed.front())) {
        report("Invalid index name for index " + d.Name + suffix);
        if (repair) d.Name = ("_" + std::string(trimmed)).substr(0, kMaxIndexNameLength);
      }
      if (d.Name.size() > kMaxIndexNameLength) {
        report("Invalid index name (too long) for index " + d.Name + suffix);
        if (repair) d.Name.resize(kMaxIndexNameLength);
      }
      if (clashes(d.Name)) {
        report("Duplicate index name for index " + d.Name + suffix);
        if (repair) {
          std::string name = ("_" + d.Name).substr(0, kMaxIndexNameLength);
          for (std::size_t guard = 0; clashes(name) && guard < secondaryCount; ++guard) {
            name = ("_" + name).substr(0, kMaxIndexNameLength);
          }
          d.Name = name;
        }
      }
    }
    // Pages are read in the format the descriptor gives: an ordinary index
    // holds no full-text pages and knows four kinds of compression.
    if (d.FullText != 0 || d.Compression > 3) {
      report("Invalid index definition for index " + d.Name + suffix);
      d.FullText = 0;
      d.Compression = static_cast<std::uint8_t>(d.Compression & 3);
    }
    // Flags are 0 or 1; any other value reads as set.
    if (d.Unique > 1 || d.CaseInsensitive > 1 || d.Descending > 1) {
      report("Invalid index flags for index " + d.Name + suffix);
      d.Unique = d.Unique != 0 ? 1 : 0;
      d.CaseInsensitive = d.CaseInsensitive != 0 ? 1 : 0;
      d.Descending = d.Descending != 0 ? 1 : 0;
    }
    checkKeys(slot, d);
    // Later slots compare their names with the repaired ones.
    if (repair) descriptors_[slot] = d;
  }

  IndexDescriptor text = descriptors_[kFullTextSlot];
  if (text.Name.size() != std::string_view(kFullTextIndexName).size() ||
      !SameIndexName(text.Name, kFullTextIndexName) || text.KeyLength != kFullTextKeyLength ||
      text.Compression != 3 || text.FullText != 1 || text.Unique != 0 ||
      text.CaseInsensitive != 0 || text.Descending != 0) {
    report("Invalid index definition for index " + text.Name + suffix);
    text.Name = kFullTextIndexName;
    text.KeyLength = kFullTextKeyLength;
    text.Compression = 3;
    text.FullText = 1;
    text.Unique = 0;
    text.CaseInsensitive = 0;
    text.Descending = 0;
  }
  checkKeys(kFullTextSlot, text);
  // The slots past the secondary indexes hold nothing.
  bool unusedSlotsClean = true;
  for (std::size_t slot = secondaryCount + 1; slot < kFullTextSlot; ++slot) {
    if (descriptors_[slot] != IndexDescriptor{} || header_.RootPage[slot] != 0 ||
        header_.AuxPage[slot] != 0) {
      unusedSlotsClean = false;
    }
  }
  if (!unusedSlotsClean) report("Unused index slots not empty" + suffix);
  if (!repair) return report.Clean();
  descriptors_[kFullTextSlot] = text;
  for (std::size_t slot = secondaryCount + 1; slot < kFullTextSlot; ++slot) {
    descriptors_[slot] = IndexDescriptor{};
    header_.RootPage[slot] = 0;
    header_.AuxPage[slot] = 0;
  }

  for (std::size_t slot = secondaryCount; slot >= 1; --slot) {
    if (removeSlot[slot]) RemoveIndex(static_cast<int>(slot), true);
  }
  if (removeSlot[0]) {
    descriptors_[0] = DefaultPrimaryDescriptor();
    header_.RootPage[0] = 0;
    header_.AuxPage[0] = 0;
  }
  header_.FormatVersion = kCurrentFormatVersion;
  MarkHeader();
  MarkDescriptors();
  return report.Clean();
}

}  // namespace strata
