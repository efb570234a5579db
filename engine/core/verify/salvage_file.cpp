#include "engine/core/verify/salvage_file.h"

#include <algorithm>
#include <array>

#include "engine/common/byte_order.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"
#include "engine/files/engine_file.h"

namespace strata {

namespace {

constexpr char kSalvageExtension[] = ".salvage~";
constexpr std::uint8_t kSalvageFormatVersion = 1;
// A value whose chain could not be read has this length and no bytes.
constexpr std::int32_t kUnreadableValue = -1;
constexpr std::size_t kCipherBlock = 8;

using Bytes = std::vector<std::uint8_t>;

void PutTag(Bytes& out, const char (&tag)[5]) { out.insert(out.end(), tag, tag + 4); }
void PutU8(Bytes& out, std::uint8_t value) { out.push_back(value); }
void PutU16(Bytes& out, std::uint16_t value) {
  const std::size_t at = out.size();
  out.resize(at + 2);
  StoreU16(out.data() + at, value);
}
void PutI32(Bytes& out, std::int32_t value) {
  const std::size_t at = out.size();
  out.resize(at + 4);
  StoreI32(out.data() + at, value);
}
// A short text: a length byte and at most 255 characters.
void PutText(Bytes& out, std::string_view text) {
  const std::size_t length = std::min<std::size_t>(text.size(), 255);
  PutU8(out, static_cast<std::uint8_t>(length));
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

SalvageFile::SalvageFile(TDataTable& table)
    : table_(table),
      path_(table.Directory().Path() +
            TableFileName(table.Name(), table.Engine().Options().TableDataExtension,
                          kSalvageExtension)) {}

SalvageFile::~SalvageFile() {
  SetAsideError("a release at the end of a repair; every entry was flushed when it was written",
                [&] { Close(); });
}

std::string SalvageFile::FileName() const { return path_.substr(path_.rfind('/') + 1); }

void SalvageFile::Close() {
  if (!file_) return;
  std::unique_ptr<TEngineFile> file = std::move(file_);
  file->Close();
}

std::vector<std::uint8_t> SalvageFile::Sealed(std::span<const std::uint8_t> bytes) const {
  Bytes sealed(bytes.begin(), bytes.end());
  if (const UnitCipher* cipher = table_.Cipher()) {
    sealed.resize((sealed.size() + kCipherBlock - 1) / kCipherBlock * kCipherBlock, 0);
    cipher->Encipher(sealed);
  }
  return sealed;
}

void SalvageFile::Begin() {
  if (file_) return;
  auto file = std::make_unique<TEngineFile>(table_.Engine().Registry(), path_,
                                            table_.Directory().InMemory());
  if (file->Exists()) {
    file->Open();
  } else {
    file->CreateNew();
  }
  end_ = file->GetFileSize();
  file_ = std::move(file);

  const TDataFile& data = *table_.DataFile();
  Bytes descriptors(kFieldDescriptorSize * data.Fields().size());
  for (std::size_t i = 0; i < data.Fields().size(); ++i) {
    data.Fields()[i].Encode(std::span<std::uint8_t, kFieldDescriptorSize>(
        descriptors.data() + kFieldDescriptorSize * i, kFieldDescriptorSize));
  }
  Bytes section;
  PutTag(section, "STBL");
  PutU8(section, kSalvageFormatVersion);
  PutU8(section, table_.Cipher() != nullptr ? 1 : 0);
  PutU16(section, data.Header().RecordSize);
  PutU16(section, static_cast<std::uint16_t>(data.Fields().size()));
  PutText(section, table_.Name());
  const Bytes sealed = Sealed(descriptors);
  PutI32(section, static_cast<std::int32_t>(sealed.size()));
  section.insert(section.end(), sealed.begin(), sealed.end());
  Append(section);
}

void SalvageFile::Append(const std::vector<std::uint8_t>& bytes) {
  file_->WriteAt(end_, std::as_bytes(std::span<const std::uint8_t>(bytes)));
  end_ += static_cast<std::int64_t>(bytes.size());
  file_->Flush();
}

void SalvageFile::AddRecord(std::int32_t slot, std::int32_t recordId, std::string_view reason,
                            std::span<const std::uint8_t> slotBytes,
                            const std::vector<Value>& values) {
  Begin();
  Bytes entry;
  PutTag(entry, "SREC");
  PutI32(entry, slot);
  PutI32(entry, recordId);
  PutText(entry, reason);
  const Bytes sealed = Sealed(slotBytes);
  PutI32(entry, static_cast<std::int32_t>(sealed.size()));
  entry.insert(entry.end(), sealed.begin(), sealed.end());
  PutU16(entry, static_cast<std::uint16_t>(values.size()));
  for (const Value& value : values) {
    PutU16(entry, value.FieldNumber);
    if (!value.Stored) {
      PutI32(entry, kUnreadableValue);
      continue;
    }
    PutI32(entry, static_cast<std::int32_t>(value.Stored->size()));
    const Bytes bytes = Sealed(*value.Stored);
    entry.insert(entry.end(), bytes.begin(), bytes.end());
  }
  Append(entry);
}

void SalvageFile::AddValue(std::int32_t slot, std::int32_t recordId, std::string_view reason,
                           const Value& value) {
  Begin();
  Bytes entry;
  PutTag(entry, "SVAL");
  PutI32(entry, slot);
  PutI32(entry, recordId);
  PutText(entry, reason);
  PutU16(entry, value.FieldNumber);
  if (!value.Stored) {
    PutI32(entry, kUnreadableValue);
  } else {
    PutI32(entry, static_cast<std::int32_t>(value.Stored->size()));
    const Bytes bytes = Sealed(*value.Stored);
    entry.insert(entry.end(), bytes.begin(), bytes.end());
  }
  Append(entry);
}

}  // namespace strata
