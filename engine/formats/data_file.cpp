#include "engine/formats/data_file.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "engine/errors/engine_error.h"
#include "engine/files/base_file.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/record_values.h"
#include "engine/locale/collation.h"
#include "engine/values/date_time.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

constexpr std::int64_t kDescriptorOffset = data_header_layout::kFieldDescriptors;

bool SizeInRange(std::int32_t size, std::int32_t low, std::int32_t high) {
  return size >= low && size <= high && size % 8 == 0;
}

}  // namespace

TDataFile::TDataFile(FileRegistry& registry, std::string path, bool inMemory,
                     TableFileOwner& owner)
    : TBufferedFile(registry, std::move(path), inMemory, owner), owner_(owner) {}

void TDataFile::Raise(ErrorCode code) const {
  RaiseTableError(code, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
}

void TDataFile::RaiseCorruptError() { Raise(STRATA_FILECORRUPT); }

const UnitCipher* TDataFile::Cipher() const { return Encrypted() ? owner_.Cipher() : nullptr; }

std::int64_t TDataFile::FirstUnitOffset() const {
  return kDescriptorOffset + static_cast<std::int64_t>(kFieldDescriptorSize) * header_.FieldCount;
}

std::unique_ptr<TBuffer> TDataFile::NewBuffer() { return std::make_unique<TRecord>(*this); }

void TDataFile::CheckAppend() { CheckAppendLimits(true); }

void TDataFile::UnitAppended() {
  ++header_.NextRecordNumber;
  MarkHeader();
}

std::int32_t TDataFile::CacheLimit() { return DataCacheLimit(owner_.Limits(), header_.RecordSize); }

std::int32_t TDataFile::DefaultReadAheadLimit() { return std::max(1, CacheCapacity() / 2); }

std::int32_t TDataFile::ReadAheadCount(TDataCursor* /*cursor*/, std::int32_t /*unit*/,
                                       int /*direction*/) {
  return std::clamp(recordsAhead_, 1, ReadAheadLimit());
}

void TDataFile::CheckSignature() const {
  if (header_.FormatVersion != kCurrentFormatVersion) {
    Raise(header_.FormatVersion < kCurrentFormatVersion ? STRATA_OLDVERSION : STRATA_BADSIGNATURE);
  }
  if (header_.SignatureDigest != owner_.SignatureDigest() &&
      header_.SignatureDigest != kDefaultSignatureDigest) {
    Raise(STRATA_BADSIGNATURE);
  }
}

void TDataFile::Open() {
  TBufferedFile::Open();
  try {
    fields_.clear();
    descriptorsChanged_ = false;
    ReadHeader();
    CheckSignature();
    if (header_.FieldCount == 0 || header_.FieldCount > kMaxFieldCount) Raise(STRATA_HEADERCORRUPT);
    if (GetFileSize() < FirstUnitOffset()) Raise(STRATA_HEADERCORRUPT);
    if (Encrypted()) {
      if (OnPasswordCheck) OnPasswordCheck(header_);
      if (owner_.Cipher() == nullptr) Raise(STRATA_NOTSUFFTABLERIGHTS);
    }
    ReadDescriptors();
    ResetCache();
  } catch (...) {
    Close();
    throw;
  }
}

void TDataFile::Close() {
  TBufferedFile::Close();
  fields_.clear();
  descriptorsChanged_ = false;
}

void TDataFile::CreateNew() {
  TBufferedFile::CreateNew();
  header_ = DataFileHeader{};
  header_.FormatVersion = kCurrentFormatVersion;
  header_.SignatureDigest = owner_.SignatureDigest();
  header_.NextRecordNumber = 1;
  header_.HeaderModified = true;
  fields_.clear();
  descriptorsChanged_ = false;
  ResetCache();
}

void TDataFile::ReadHeader() {
  std::array<std::uint8_t, kDataHeaderSize> image{};
  const std::int64_t got = ReadAt(0, std::as_writable_bytes(std::span(image)), true);
  DataFileHeader header;
  if (got != static_cast<std::int64_t>(kDataHeaderSize) || !header.Decode(image)) {
    Raise(STRATA_HEADERCORRUPT);
  }
  header_ = std::move(header);
}

std::array<std::uint8_t, kDataHeaderSize> TDataFile::HeaderImage() const {
  std::array<std::uint8_t, kDataHeaderSize> image{};
  header_.Encode(image);
  return image;
}

bool TDataFile::WriteHeader(bool force) {
  if (!force && !header_.HeaderModified) return false;
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  header_.LastUpdated = CurrentDateTime() - kDayNumberOf18991230;
  const auto image = HeaderImage();
  WriteAt(0, std::as_bytes(std::span(image)));
  owner_.MarkModified();
  header_.HeaderModified = false;
  return true;
}

void TDataFile::TouchHeader() {
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  MarkHeader();
  owner_.MarkModified();
}

void TDataFile::EmptyFile() {
  DropBuffers();
  TBufferedFile::EmptyFile();
  header_.ChangeCount = 0;
  header_.FirstFreeRecord = 0;
  header_.LastRecordID = 0;
  header_.LastAutoIncValue = 0;
  header_.RecordCount = 0;
  header_.NextRecordNumber = 1;
  MarkHeader();
}

bool TDataFile::HeaderChanged() {
  const std::int32_t held = header_.ChangeCount;
  ReadHeader();
  return header_.ChangeCount != held;
}

void TDataFile::ReadDescriptors() {
  const std::size_t count = header_.FieldCount;
  std::vector<std::uint8_t> block(count * kFieldDescriptorSize);
  const std::int64_t got = ReadAt(kDescriptorOffset, std::as_writable_bytes(std::span(block)), true);
  if (got != static_cast<std::int64_t>(block.size())) Raise(STRATA_HEADERCORRUPT);
  if (const UnitCipher* cipher = Cipher()) cipher->Decipher(block);
  // Every value slot must lie inside the record before any record is read.
  const std::int32_t recordSize = header_.RecordSize;
  if (recordSize < kFirstFieldOffset || recordSize % 8 != 0) Raise(STRATA_HEADERCORRUPT);
  std::vector<FieldDescriptor> fields(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto image = std::span(block).subspan(i * kFieldDescriptorSize).first<kFieldDescriptorSize>();
    FieldDescriptor& field = fields[i];
    if (!field.Decode(image)) Raise(STRATA_HEADERCORRUPT);
    // The stored size is only a copy of what the type and declared length
    // give: a damaged copy must neither move values nor hide them, and
    // every reader sizes a value by this one.
    ComputePhysicalSize(field);
    if (field.FieldOffset < kFirstFieldOffset ||
        field.FieldOffset + record_layout::kNullFlagSize + field.PhysicalSize >
            static_cast<std::size_t>(recordSize)) {
      Raise(STRATA_HEADERCORRUPT);
    }
  }
  fields_ = std::move(fields);
  descriptorsChanged_ = false;
}

bool TDataFile::WriteDescriptors() {
  if (!descriptorsChanged_) return false;
  std::vector<std::uint8_t> block(fields_.size() * kFieldDescriptorSize);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i].Encode(std::span(block).subspan(i * kFieldDescriptorSize).first<kFieldDescriptorSize>());
  }
  if (const UnitCipher* cipher = Cipher()) cipher->Encipher(block);
  WriteAt(kDescriptorOffset, std::as_bytes(std::span(block)));
  owner_.MarkModified();
  descriptorsChanged_ = false;
  return true;
}

bool TDataFile::WriteChanges(bool forceHeader) {
  bool wrote = WriteBack(false);
  wrote = WriteDescriptors() || wrote;
  return WriteHeader(forceHeader) || wrote;
}

void TDataFile::SetStructure(std::span<const FieldDescriptor> fields) {
  if (fields.size() > kMaxFieldCount) Raise(STRATA_FLDLIMIT);
  std::vector<FieldDescriptor> copy(fields.begin(), fields.end());
  std::int64_t offset = kFirstFieldOffset;
  std::uint16_t blobs = 0;
  for (FieldDescriptor& field : copy) {
    ComputePhysicalSize(field);
    if (offset > kMaxRecordSize) Raise(STRATA_RECTOOBIG);
    field.FieldOffset = static_cast<std::uint16_t>(offset);
    offset += field.PhysicalSize + record_layout::kNullFlagSize;
    if (field.EngineType == kTypeBlob) ++blobs;
  }
  if (blobs > kMaxBlobFieldCount) Raise(STRATA_BLOBLIMIT);
  const std::int64_t recordSize = RoundUpTo8(offset);
  if (recordSize > kMaxRecordSize) Raise(STRATA_RECTOOBIG);
  fields_ = std::move(copy);
  header_.FieldCount = static_cast<std::uint16_t>(fields_.size());
  header_.BlobFieldCount = blobs;
  header_.RecordSize = static_cast<std::uint16_t>(recordSize);
  descriptorsChanged_ = true;
  MarkHeader();
}

void TDataFile::SetTableInfo(const TableInfo& info) {
  header_.LocaleID = info.LocaleID;
  header_.UserMajorVersion = info.UserMajorVersion;
  header_.UserMinorVersion = info.UserMinorVersion;
  header_.LastAutoIncValue = info.LastAutoIncValue == -1 ? 0 : info.LastAutoIncValue;
  header_.BlobBlockSize = info.BlobBlockSize;
  header_.IndexPageSize = info.IndexPageSize;
  header_.Description = info.Description.substr(0, data_header_layout::kDescriptionLength);
  header_.PasswordCheck = info.PasswordCheck;
  header_.Encrypted = info.Encrypted ? 1 : 0;
  MarkHeader();
}

void TDataFile::UpdateFieldInfo(std::uint16_t position, const FieldDescriptor& field) {
  if (position == 0 || position > fields_.size()) {
    throw std::out_of_range("no field at position " + std::to_string(position));
  }
  FieldDescriptor& stored = fields_[position - 1];
  stored.FieldNumber = field.FieldNumber;
  stored.Name = field.Name;
  stored.SubType = field.SubType;
  stored.Description = field.Description;
  stored.Required = field.Required;
  stored.MinValue = field.MinValue;
  stored.MaxValue = field.MaxValue;
  stored.DefaultValue = field.DefaultValue;
  descriptorsChanged_ = true;
}

void TDataFile::SetFieldCompression(std::uint16_t position, std::uint8_t level) {
  if (position == 0 || position > fields_.size()) {
    throw std::out_of_range("no field at position " + std::to_string(position));
  }
  fields_[position - 1].Compression = level;
  descriptorsChanged_ = true;
}

const FieldDescriptor* TDataFile::FieldByNumber(std::uint16_t number) const {
  if (number == kRecordIdFieldNumber) return &RecordIdDescriptor();
  if (number == kRecordHashFieldNumber) return &RecordHashDescriptor();
  const auto it = std::find_if(fields_.begin(), fields_.end(), [number](const FieldDescriptor& f) {
    return f.FieldNumber == number;
  });
  return it != fields_.end() ? &*it : nullptr;
}

const FieldDescriptor* TDataFile::FieldByName(std::string_view name) const {
  if (SameFieldName(name, RecordIdDescriptor().Name)) return &RecordIdDescriptor();
  if (SameFieldName(name, RecordHashDescriptor().Name)) return &RecordHashDescriptor();
  const auto it = std::find_if(fields_.begin(), fields_.end(), [name](const FieldDescriptor& f) {
    return SameFieldName(f.Name, name);
  });
  return it != fields_.end() ? &*it : nullptr;
}

void TDataFile::VerifyHeader() {
  if (header_.LocaleID != kAnsiLocaleId && !LocaleAvailable(header_.LocaleID)) {
    Raise(STRATA_CANNOTLOADLDDRV);
  }
  if (fields_.empty() || fields_.size() != header_.FieldCount) Raise(STRATA_HEADERCORRUPT);
  std::int64_t offset = kFirstFieldOffset;
  std::uint16_t blobs = 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    FieldDescriptor& field = fields_[i];
    ComputePhysicalSize(field);
    bool valid = IsValidFieldName(field.Name) && field.EngineType != kTypeInvalid &&
                 IsValidDeclaredLength(field.EngineType, field.SubType, field.DeclaredLength) &&
                 IsValidValueText(field.EngineType, field.MinValue) &&
                 IsValidValueText(field.EngineType, field.MaxValue) &&
                 IsValidValueText(field.EngineType, field.DefaultValue) &&
                 (field.DeclaredDecimals == 0 || field.EngineType == kTypeBcd) &&
                 field.FieldOffset == offset && field.FieldNumber == i + 1;
    for (std::size_t j = 0; valid && j < i; ++j) {
      valid = fields_[j].FieldNumber != field.FieldNumber &&
              !SameFieldName(fields_[j].Name, field.Name);
    }
    if (!valid) Raise(STRATA_HEADERCORRUPT);
    offset += field.PhysicalSize + record_layout::kNullFlagSize;
    if (field.EngineType == kTypeBlob) ++blobs;
  }
  if (RoundUpTo8(offset) != header_.RecordSize || blobs != header_.BlobFieldCount) {
    Raise(STRATA_HEADERCORRUPT);
  }
  const std::int64_t excess = GetFileSize() - FirstUnitOffset();
  if (excess < 0 || excess % header_.RecordSize != 0) Raise(STRATA_HEADERCORRUPT);
  const std::int64_t slots = excess / header_.RecordSize;
  if (header_.NextRecordNumber != slots + 1 || header_.FirstFreeRecord < 0 ||
      header_.FirstFreeRecord > slots) {
    Raise(STRATA_HEADERCORRUPT);
  }
}

std::int32_t TDataFile::CheckedIndexPageSize() const {
  if (!SizeInRange(header_.IndexPageSize, 1024, 16384)) Raise(STRATA_HEADERCORRUPT);
  return header_.IndexPageSize;
}

std::int32_t TDataFile::CheckedBlobBlockSize() const {
  if (!SizeInRange(header_.BlobBlockSize, 64, 65536)) Raise(STRATA_HEADERCORRUPT);
  return header_.BlobBlockSize;
}

std::int32_t TDataFile::UsableIndexPageSize() const {
  return SizeInRange(header_.IndexPageSize, 1024, 16384) ? header_.IndexPageSize
                                                         : TableInfo{}.IndexPageSize;
}

std::int32_t TDataFile::UsableBlobBlockSize() const {
  return SizeInRange(header_.BlobBlockSize, 64, 65536) ? header_.BlobBlockSize
                                                       : TableInfo{}.BlobBlockSize;
}

void TDataFile::SetUnitSizes(std::int32_t indexPageSize, std::int32_t blobBlockSize) {
  header_.IndexPageSize = indexPageSize;
  header_.BlobBlockSize = blobBlockSize;
  MarkHeader();
}

TRecord& TDataFile::RecordOf(const BufferPin& pin) { return static_cast<TRecord&>(*pin); }

std::int32_t TDataFile::NextSlotNumber() const {
  return header_.FirstFreeRecord != 0 ? header_.FirstFreeRecord : header_.NextRecordNumber;
}

bool TDataFile::AllocateSlot(TDataCursor* cursor, BufferPin& pin) {
  const std::int32_t head = header_.FirstFreeRecord;
  if (head != 0) {
    if (head < 0 || head > UnitCount()) RaiseCorruptError();
    if (!GetBuffer(cursor, kNoDirection, false, head, pin)) return false;
    TRecord& record = RecordOf(pin);
    if (record.Deleted()) {
      const std::int32_t next = record.RecordLink();
      if (next < 0 || next > UnitCount()) RaiseCorruptError();
      header_.FirstFreeRecord = next;
      record.SetRecordStatus(0);
      record.SetRecordLink(head);
      MarkHeader();
      return true;
    }
    // The head is a slot in use: the chain is broken. Leave the slot alone
    // and stop reusing slots rather than overwrite a record.
    pin.Release();
    header_.FirstFreeRecord = 0;
    MarkHeader();
  }
  const std::int32_t slot = header_.NextRecordNumber;
  if (!GetBuffer(cursor, kNoDirection, false, slot, pin)) return false;
  TRecord& record = RecordOf(pin);
  record.SetRecordLink(slot);
  return true;
}

void TDataFile::DeleteSlot(TRecord& record) {
  record.SetRecordStatus(kRecordDeleted);
  record.SetRecordLink(header_.FirstFreeRecord);
  header_.FirstFreeRecord = record.Number;
  MarkHeader();
}

void TDataFile::SetRecordCount(std::int32_t count) {
  header_.RecordCount = count;
  MarkHeader();
}

void TDataFile::SetLastRecordID(std::int32_t id) {
  header_.LastRecordID = id;
  MarkHeader();
}

std::int32_t TDataFile::IncrementLastRecordID() {
  header_.LastRecordID = NextCounterValue(header_.LastRecordID);
  MarkHeader();
  return header_.LastRecordID;
}

void TDataFile::SetLastAutoIncValue(std::int32_t value) {
  header_.LastAutoIncValue = value;
  MarkHeader();
}

std::int32_t TDataFile::IncrementLastBlobRevision() {
  header_.LastBlobRevision = NextCounterValue(header_.LastBlobRevision);
  MarkHeader();
  return header_.LastBlobRevision;
}

}  // namespace strata
