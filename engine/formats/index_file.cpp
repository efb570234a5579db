#include "engine/formats/index_file.h"


#include <algorithm>
#include <stdexcept>
#include <vector>

#include "engine/formats/counters.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/index_key.h"
#include "engine/locale/windows1252.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::int32_t kMinPageSize = 1024;
constexpr std::int32_t kMaxPageSize = 16384;
constexpr std::size_t kMaxNameLength = index_descriptor_layout::kNameLength;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return kWindows1252Upper[static_cast<unsigned char>(x)] ==
                  kWindows1252Upper[static_cast<unsigned char>(y)];
         });
}

bool ValidFirstCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}

bool IsTextField(const FieldDescriptor& field) {
  return field.EngineType == kTypeString ||
         (field.EngineType == kTypeBlob && field.SubType == kSubTypeMemo);
}

}  // namespace

TIndexFile::TIndexFile(FileRegistry& registry, std::string path, bool inMemory,
                       TableFileOwner& owner, std::int32_t indexPageSize)
    : TBufferedFile(registry, std::move(path), inMemory, owner),
      owner_(owner),
      pageSize_(indexPageSize) {}

std::unique_ptr<TBuffer> TIndexFile::NewBuffer() { return std::make_unique<TPage>(*this); }

void TIndexFile::RaiseCorruptError() {
  RaiseTableError(STRATA_INDEXCORRUPT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
}

void TIndexFile::RaiseHeaderCorrupt() const {
  RaiseTableError(STRATA_HEADERCORRUPT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
}

void TIndexFile::RaiseIndexError(ErrorCode code, std::string_view indexName,
                                 std::string_view fieldName) const {
  RaiseEngineError(code, {}, {}, owner_.ErrorDatabaseName(), owner_.ErrorTableName(), fieldName,
                   indexName);
}

std::int32_t TIndexFile::CacheLimit() { return IndexCacheLimit(owner_.Limits(), PayloadSize()); }

void TIndexFile::UnitAppended() {
  ++header_.NextPageNumber;
  MarkHeader();
}

void TIndexFile::MarkHeader() { header_.HeaderModified = true; }

// Header and descriptors.

void TIndexFile::Open() {
  TEngineFile::Open();
  try {
    if (pageSize_ < kMinPageSize || pageSize_ > kMaxPageSize || pageSize_ % 8 != 0) {
      RaiseHeaderCorrupt();
    }
    ReadHeader();
    if (header_.FormatVersion != kCurrentFormatVersion) {
      RaiseTableError(header_.FormatVersion < kCurrentFormatVersion ? STRATA_OLDVERSION
                                                                    : STRATA_BADSIGNATURE,
                      owner_.ErrorTableName(), owner_.ErrorDatabaseName());
    }
    if (header_.SignatureDigest != owner_.SignatureDigest() &&
        header_.SignatureDigest != kDefaultSignatureDigest) {
      RaiseTableError(STRATA_BADSIGNATURE, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
    }
    if (header_.SecondaryIndexCount > kMaxSecondaryIndexes || header_.NextPageNumber < 1) {
      RaiseHeaderCorrupt();
    }
    ReadDescriptors();
  } catch (...) {
    Close();
    throw;
  }
  ResetCache();
}

void TIndexFile::Close() {
  descriptors_ = {};
  descriptorsModified_ = false;
  TBufferedFile::Close();
}

void TIndexFile::CreateNew() {
  DropBuffers();
  TEngineFile::CreateNew();
  header_ = IndexFileHeader{};
  header_.SignatureDigest = owner_.SignatureDigest();
  header_.HeaderModified = true;
  descriptors_ = {};
  descriptorsModified_ = true;
  ResetCache();
}

void TIndexFile::ReadHeader() {
  std::array<std::uint8_t, kIndexHeaderSize> image{};
  ReadHeaderImage(*this, owner_, image, false);
  header_.Decode(image);
}

bool TIndexFile::WriteHeader(bool force) {
  WriteDescriptors(false);
  if (!force && !header_.HeaderModified) return false;
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  std::array<std::uint8_t, kIndexHeaderSize> image{};
  header_.Encode(image);
  WriteHeaderImage(*this, owner_, image);
  header_.HeaderModified = false;
  return true;
}

void TIndexFile::TouchHeader() {
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  header_.HeaderModified = true;
  owner_.MarkModified();
}

bool TIndexFile::HeaderChanged() {
  const std::int32_t before = header_.ChangeCount;
  ReadHeader();
  return header_.ChangeCount != before;
}

void TIndexFile::ReadDescriptors() {
  std::vector<std::uint8_t> area(kDescriptorAreaSize);
  ReadAt(kIndexHeaderSize, std::as_writable_bytes(std::span(area)), false);
  if (const UnitCipher* cipher = Cipher()) cipher->Decipher(area);
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    const std::span<const std::uint8_t, kIndexDescriptorSize> image(
        area.data() + s * kIndexDescriptorSize, kIndexDescriptorSize);
    if (!descriptors_[s].Decode(image)) RaiseHeaderCorrupt();
  }
  descriptorsModified_ = false;
}

bool TIndexFile::WriteDescriptors(bool force) {
  if (!force && !descriptorsModified_) return false;
  std::vector<std::uint8_t> area(kDescriptorAreaSize);
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) {
    descriptors_[s].Encode(std::span<std::uint8_t, kIndexDescriptorSize>(
        area.data() + s * kIndexDescriptorSize, kIndexDescriptorSize));
  }
  if (const UnitCipher* cipher = Cipher()) cipher->Encipher(area);
  WriteAt(kIndexHeaderSize, std::as_bytes(std::span(area)));
  owner_.MarkModified();
  descriptorsModified_ = false;
  return true;
}

void TIndexFile::EmptyFile() {
  DropBuffers();
  TBufferedFile::EmptyFile();
  header_.FormatVersion = kCurrentFormatVersion;
  header_.ChangeCount = 0;
  header_.NextPageNumber = 1;
  header_.FirstFreePage = 0;
  header_.RootPage.fill(0);
  header_.AuxPage.fill(0);
  MarkHeader();
}

void TIndexFile::VerifyHeader(std::span<const FieldDescriptor> fields) const {
  const std::int32_t pages = UnitCount();
  auto pageOk = [pages](std::int32_t page) { return page >= 0 && page <= pages; };
  if (header_.SecondaryIndexCount > kMaxSecondaryIndexes || pages < 0 ||
      !pageOk(header_.FirstFreePage)) {
    RaiseHeaderCorrupt();
  }
  const IndexDescriptor& primary = descriptors_[0];
  if (!primary.Name.empty() || primary.Unique != 1 || primary.FieldNumbers[0] == 0) {
    RaiseHeaderCorrupt();
  }
  const std::uint32_t maxFieldBytes =
      std::min<std::uint32_t>(kMaxKeyBytes, static_cast<std::uint32_t>(PayloadSize() / 3));
  auto checkSlot = [&](std::size_t slot) {
    const IndexDescriptor& d = descriptors_[slot];
    const bool fullText = slot == kFullTextSlot;
    if (d.FieldCount > kMaxKeyFields || (!fullText && d.FieldCount == 0)) RaiseHeaderCorrupt();
    for (std::size_t i = 0; i + 1 < kMaxKeyFields; ++i) {
      if (d.FieldNumbers[i] == 0 && d.FieldNumbers[i + 1] != 0) RaiseHeaderCorrupt();
    }
    std::uint32_t fieldBytes = 0;
    for (std::size_t i = 0; i < d.FieldCount; ++i) {
      const FieldDescriptor* field = FindKeyField(fields, d.FieldNumbers[i]);
      if (field == nullptr) RaiseHeaderCorrupt();
      if (fullText ? !IsTextField(*field) : field->EngineType == kTypeBlob) RaiseHeaderCorrupt();
      fieldBytes += index_key_layout::kNullFlagSize + KeyBytesOf(*field);
    }
    if (fullText) {
      if (d.Name != kFullTextIndexName || d.KeyLength != kFullTextKeyLength ||
          d.Compression != 3 || d.FullText != 1) {
        RaiseHeaderCorrupt();
      }
    } else {
      if (fieldBytes < 1 || fieldBytes > maxFieldBytes) RaiseHeaderCorrupt();
      // Pages are read with the stored length: it must be the computed one.
      const std::uint32_t keyLength = fieldBytes + (d.Unique != 0 ? 0 : kRecordIdSuffixLength);
      if (d.KeyLength != keyLength || d.FullText != 0 || d.Compression > 3) RaiseHeaderCorrupt();
    }
    if (!pageOk(header_.RootPage[slot]) || !pageOk(header_.AuxPage[slot])) RaiseHeaderCorrupt();
  };
  for (std::size_t slot = 0; slot <= header_.SecondaryIndexCount; ++slot) {
    const IndexDescriptor& d = descriptors_[slot];
    if (slot > 0) {
      if (Trim(d.Name).empty() || !ValidFirstCharacter(d.Name.front()) ||
          d.Name.size() > kMaxNameLength) {
        RaiseHeaderCorrupt();
      }
      for (std::size_t other = 1; other < slot; ++other) {
        if (SameName(d.Name, descriptors_[other].Name)) RaiseHeaderCorrupt();
      }
    }
    checkSlot(slot);
  }
  checkSlot(kFullTextSlot);
}

// Index definitions.

IndexDescriptor TIndexFile::DefaultPrimaryDescriptor() {
  IndexDescriptor d;
  d.KeyLength = 5;
  d.Unique = 1;
  d.FieldCount = 1;
  d.FieldNumbers[0] = kRecordIdFieldNumber;
  return d;
}

IndexDescriptor TIndexFile::EmptyTextDescriptor() {
  IndexDescriptor d;
  d.Name = kFullTextIndexName;
  d.KeyLength = kFullTextKeyLength;
  d.Compression = 3;
  d.FullText = 1;
  return d;
}

void TIndexFile::CheckSlot(int slot) const {
  if (slot < 0 || slot >= static_cast<int>(kIndexSlotCount)) {
    throw std::out_of_range("index slot out of range");
  }
}

const IndexDescriptor& TIndexFile::Descriptor(int slot) const {
  CheckSlot(slot);
  return descriptors_[static_cast<std::size_t>(slot)];
}

std::string TIndexFile::IndexName(int slot) const {
  return slot == 0 ? std::string(kPrimaryIndexErrorName) : Descriptor(slot).Name;
}

std::int32_t TIndexFile::RootPage(int slot) const {
  CheckSlot(slot);
  return header_.RootPage[static_cast<std::size_t>(slot)];
}

void TIndexFile::SetRootPage(int slot, std::int32_t page) {
  CheckSlot(slot);
  header_.RootPage[static_cast<std::size_t>(slot)] = page;
  MarkHeader();
}

std::int32_t TIndexFile::AuxPage(int slot) const {
  CheckSlot(slot);
  return header_.AuxPage[static_cast<std::size_t>(slot)];
}

void TIndexFile::SetAuxPage(int slot, std::int32_t page) {
  CheckSlot(slot);
  header_.AuxPage[static_cast<std::size_t>(slot)] = page;
  MarkHeader();
}

void TIndexFile::SetFirstFreePage(std::int32_t page) {
  header_.FirstFreePage = page;
  MarkHeader();
}

void TIndexFile::SetSecondaryIndexCount(int count) {
  header_.SecondaryIndexCount =
      static_cast<std::uint8_t>(std::clamp<int>(count, 0, kMaxSecondaryIndexes));
  MarkHeader();
}

bool TIndexFile::IsDefaultPrimary() const {
  return descriptors_[0].FieldNumbers[0] == kRecordIdFieldNumber;
}

bool TIndexFile::IndexExists(std::string_view name) const {
  for (std::size_t slot = 0; slot <= header_.SecondaryIndexCount; ++slot) {
    if (SameName(descriptors_[slot].Name, name)) return true;
  }
  return false;
}

void TIndexFile::CheckKeyLength(std::uint32_t fieldBytes, const std::string& indexName) const {
  if (fieldBytes < 1 || fieldBytes > kMaxKeyBytes ||
      fieldBytes > static_cast<std::uint32_t>(PayloadSize() / 3)) {
    RaiseIndexError(STRATA_INVALIDKEY, indexName);
  }
}

void TIndexFile::DefinePrimaryIndex(const IndexDescriptor& descriptor,
                                    std::span<const FieldDescriptor> fields) {
  if (descriptors_[0].FieldCount != 0 && !IsDefaultPrimary()) {
    RaiseTableError(STRATA_PRIMARYKEYREDEFINE, owner_.ErrorTableName(),
                    owner_.ErrorDatabaseName());
  }
  if (descriptor.FieldCount > kMaxKeyFields) {
    RaiseTableError(STRATA_INDEXLIMIT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  }
  IndexDescriptor d = descriptor;
  d.Name.clear();
  d.Unique = 1;
  d.FullText = 0;
  const IndexKeyLayout layout =
      IndexKeyLayout::Make(d, fields, Collation(), owner_.ErrorTableName(),
                           owner_.ErrorDatabaseName());
  CheckKeyLength(layout.FieldBytes(), IndexName(0));
  d.KeyLength = layout.KeyLength();
  descriptors_[0] = d;
  header_.RootPage[0] = 0;
  header_.AuxPage[0] = 0;
  MarkHeader();
  MarkDescriptors();
}

int TIndexFile::AddSecondaryIndex(const IndexDescriptor& descriptor,
                                  std::span<const FieldDescriptor> fields) {
  if (header_.SecondaryIndexCount >= kMaxSecondaryIndexes) {
    RaiseTableError(STRATA_INDEXLIMIT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  }
  const IndexDescriptor d = SecondaryDescriptor(descriptor, fields);
  for (std::size_t slot = 1; slot <= header_.SecondaryIndexCount; ++slot) {
    if (SameName(descriptors_[slot].Name, d.Name)) RaiseIndexError(STRATA_INDEXEXISTS, d.Name);
  }
  const std::size_t slot = header_.SecondaryIndexCount + 1u;
  descriptors_[slot] = d;
  header_.RootPage[slot] = 0;
  header_.AuxPage[slot] = 0;
  ++header_.SecondaryIndexCount;
  MarkHeader();
  MarkDescriptors();
  return static_cast<int>(slot);
}

void TIndexFile::ReplaceSecondaryIndex(int slot, const IndexDescriptor& descriptor,
                                       std::span<const FieldDescriptor> fields) {
  CheckSlot(slot);
  const auto s = static_cast<std::size_t>(slot);
  if (s < 1 || s > header_.SecondaryIndexCount) {
    throw std::out_of_range("no secondary index in slot " + std::to_string(slot));
  }
  descriptors_[s] = SecondaryDescriptor(descriptor, fields);
  header_.RootPage[s] = 0;
  header_.AuxPage[s] = 0;
  MarkHeader();
  MarkDescriptors();
}

IndexDescriptor TIndexFile::SecondaryDescriptor(const IndexDescriptor& descriptor,
                                                std::span<const FieldDescriptor> fields) const {
  if (descriptor.FieldCount > kMaxKeyFields) {
    RaiseTableError(STRATA_INDEXLIMIT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  }
  const std::string name(Trim(descriptor.Name).substr(0, kMaxNameLength));
  if (name.empty()) {
    RaiseTableError(STRATA_INDEXNAMEREQUIRED, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  }
  if (!ValidFirstCharacter(name.front())) RaiseIndexError(STRATA_INVALIDINDEXNAME, name);
  IndexDescriptor d = descriptor;
  d.Name = name;
  d.FullText = 0;
  const IndexKeyLayout layout = IndexKeyLayout::Make(
      d, fields, Collation(), owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  CheckKeyLength(layout.FieldBytes(), name);
  d.KeyLength = layout.KeyLength();
  return d;
}

void TIndexFile::SetTextIndex(const IndexDescriptor& descriptor,
                              std::span<const FieldDescriptor> fields) {
  if (descriptor.FieldCount > kMaxKeyFields) {
    RaiseTableError(STRATA_INDEXLIMIT, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
  }
  IndexDescriptor d = EmptyTextDescriptor();
  d.FieldCount = descriptor.FieldCount;
  d.FieldNumbers = descriptor.FieldNumbers;
  d.DescendingFields = descriptor.DescendingFields;
  for (std::size_t i = 0; i < d.FieldCount; ++i) {
    const FieldDescriptor* field = FindKeyField(fields, d.FieldNumbers[i]);
    if (field == nullptr || !IsTextField(*field)) {
      RaiseIndexError(STRATA_SEARCHCOLREQD, d.Name,
                      field != nullptr ? field->Name : std::to_string(d.FieldNumbers[i]));
    }
  }
  descriptors_[kFullTextSlot] = d;
  header_.RootPage[kFullTextSlot] = 0;
  MarkHeader();
  MarkDescriptors();
}

void TIndexFile::UpdateIndexInfo(int slot, const IndexDescriptor& descriptor) {
  CheckSlot(slot);
  IndexDescriptor& d = descriptors_[static_cast<std::size_t>(slot)];
  if (slot != 0 && slot != static_cast<int>(kFullTextSlot)) {
    d.Name = std::string(Trim(descriptor.Name).substr(0, kMaxNameLength));
  }
  d.FieldCount = descriptor.FieldCount;
  d.FieldNumbers = descriptor.FieldNumbers;
  d.DescendingFields = descriptor.DescendingFields;
  d.Descending = descriptor.Descending;
  MarkDescriptors();
}

void TIndexFile::RemoveIndex(int slot, bool remove) {
  CheckSlot(slot);
  const auto s = static_cast<std::size_t>(slot);
  if (remove && s >= 1 && s <= kMaxSecondaryIndexes) {
    if (s > header_.SecondaryIndexCount) return;
    for (std::size_t t = s; t < kMaxSecondaryIndexes; ++t) {
      descriptors_[t] = descriptors_[t + 1];
      header_.RootPage[t] = header_.RootPage[t + 1];
      header_.AuxPage[t] = header_.AuxPage[t + 1];
    }
    descriptors_[kMaxSecondaryIndexes] = IndexDescriptor{};
    header_.RootPage[kMaxSecondaryIndexes] = 0;
    header_.AuxPage[kMaxSecondaryIndexes] = 0;
    --header_.SecondaryIndexCount;
  } else {
    header_.RootPage[s] = 0;
    if (s == 0 && !IsDefaultPrimary()) {
      descriptors_[0] = DefaultPrimaryDescriptor();
      header_.AuxPage[0] = 0;
    }
  }
  MarkHeader();
  MarkDescriptors();
}

// Pages.

TPage& TIndexFile::FetchPage(TDataCursor* cursor, std::int32_t page, const PageFormat& format,
                             BufferPin& pin) {
  if (page < 1 || page > UnitCount()) RaiseCorruptError();
  loadFormat_ = format;
  if (!GetBuffer(cursor, kNoDirection, false, page, pin)) throw ERestartRequired();
  TPage& result = PageOf(pin);
  if (result.Format() != format && result.PageType() != kPageFullTextParams) {
    // A page without entries (a free page, or one emptied for reuse) takes
    // any format; one that holds entries of another index is corrupt.
    if (result.EntryCount() != 0) RaiseCorruptError();
    result.Adopt(format);
  }
  return result;
}

TPage& TIndexFile::AllocatePage(TDataCursor* cursor, const PageFormat& format, std::uint8_t type,
                                BufferPin& pin) {
  const std::int32_t free = header_.FirstFreePage;
  if (free != 0) {
    loadFormat_ = PageFormat{};
    if (free < 1 || free > UnitCount()) RaiseCorruptError();
    if (!GetBuffer(cursor, kNoDirection, false, free, pin)) throw ERestartRequired();
    TPage& page = PageOf(pin);
    const std::int32_t next = page.NextPage();
    // A page on the free chain holds no entries and links inside the file.
    if (page.EntryCount() != 0 || next < 0 || next > UnitCount() || next == free) {
      RaiseCorruptError();
    }
    header_.FirstFreePage = next;
    MarkHeader();
    page.Reset(format, type);
    return page;
  }
  loadFormat_ = format;
  if (!GetBuffer(cursor, kNoDirection, false, UnitCount() + 1, pin)) throw ERestartRequired();
  TPage& page = PageOf(pin);
  page.Reset(format, type);
  return page;
}

void TIndexFile::FreePage(TPage& page) {
  page.SetEntryCount(0);
  page.SetNextPage(header_.FirstFreePage);
  header_.FirstFreePage = page.Number;
  MarkHeader();
}

}  // namespace strata
