#include "engine/formats/record_values.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/field_rules.h"
#include "engine/locale/windows1252.h"
#include "engine/values/bcd.h"
#include "engine/values/date_time.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

FieldDescriptor MakeSystemDescriptor(std::uint16_t number, const char* name, std::uint8_t type,
                                     std::uint8_t subType, std::uint16_t declaredLength,
                                     std::uint16_t physicalSize, std::uint16_t offset) {
  FieldDescriptor field;
  field.FieldNumber = number;
  field.Name = name;
  field.EngineType = type;
  field.SubType = subType;
  field.DeclaredLength = declaredLength;
  field.PhysicalSize = physicalSize;
  field.FieldOffset = offset;
  return field;
}

// Where a field's value bytes start (after the NullFlag, if it has one).
std::size_t ValueOffset(const FieldDescriptor& field) {
  return IsSystemField(field) ? field.FieldOffset
                              : field.FieldOffset + record_layout::kNullFlagSize;
}

// The value bytes, after checking that the field lies inside the image.
template <typename Byte>
std::span<Byte> Slot(std::span<Byte> record, const FieldDescriptor& field) {
  const std::size_t offset = ValueOffset(field);
  if ((!IsSystemField(field) && field.FieldOffset < kFirstFieldOffset) ||
      offset + field.PhysicalSize > record.size()) {
    throw std::out_of_range("field '" + field.Name + "' lies outside the record");
  }
  return record.subspan(offset, field.PhysicalSize);
}

template <std::size_t N, typename Byte>
std::span<Byte> SlotOf(std::span<Byte> record, const FieldDescriptor& field) {
  std::span<Byte> slot = Slot(record, field);
  if (slot.size() < N) throw std::out_of_range("field '" + field.Name + "' is too small");
  return slot;
}

// Stores a value: NullFlag 1, the slot zeroed, then filled by store.
template <std::size_t N, typename Store>
void Put(RecordImage record, const FieldDescriptor& field, Store store) {
  RecordImage slot = SlotOf<N>(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  store(slot.data());
  if (!IsSystemField(field)) record[field.FieldOffset] = 1;
}

}  // namespace

const FieldDescriptor& RecordIdDescriptor() {
  static const FieldDescriptor field =
      MakeSystemDescriptor(kRecordIdFieldNumber, "RecordID", kTypeInteger, kSubTypeNone, 0,
                           record_layout::kIdSize, record_layout::kId);
  return field;
}

const FieldDescriptor& RecordHashDescriptor() {
  static const FieldDescriptor field =
      MakeSystemDescriptor(kRecordHashFieldNumber, "RecordHash", kTypeBytes, kSubTypeRecordHash,
                           record_layout::kHashSize, record_layout::kHashSize,
                           record_layout::kHash);
  return field;
}

bool IsSystemField(const FieldDescriptor& field) {
  return field.FieldNumber == kRecordIdFieldNumber || field.FieldNumber == kRecordHashFieldNumber;
}

bool FieldIsNull(ConstRecordImage record, const FieldDescriptor& field) {
  if (IsSystemField(field)) return false;
  Slot(record, field);
  return record[field.FieldOffset] == 0;
}

void SetFieldNull(RecordImage record, const FieldDescriptor& field) {
  RecordImage slot = Slot(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  if (!IsSystemField(field)) record[field.FieldOffset] = 0;
}

ConstRecordImage FieldBytes(ConstRecordImage record, const FieldDescriptor& field) {
  return Slot(record, field);
}

std::string ReadString(ConstRecordImage record, const FieldDescriptor& field) {
  const ConstRecordImage slot = Slot(record, field);
  if (IsWideString(field.EngineType, field.SubType)) {
    return Utf16ToWindows1252(WideUnitsOf(slot));
  }
  const auto end = std::find(slot.begin(), slot.end(), 0);
  return std::string(slot.begin(), end);
}

void WriteString(RecordImage record, const FieldDescriptor& field, std::string_view text,
                 const Collation& collation) {
  if (IsWideString(field.EngineType, field.SubType)) {
    WriteWideString(record, field, Windows1252ToUtf16(text), collation);
    return;
  }
  RecordImage slot = Slot(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  const std::size_t room = slot.empty() ? 0 : slot.size() - 1;
  std::size_t length = std::min(text.size(), room);
  length = std::min(length, text.substr(0, length).find('\0'));
  if (field.SubType != kSubTypeFixedChar) {
    while (length > 0 && text[length - 1] == ' ') --length;
  }
  std::copy_n(text.begin(), length, slot.begin());
  const std::span<char> chars(reinterpret_cast<char*>(slot.data()), length);
  if (field.CharCase == 1) collation.Lower(chars);
  if (field.CharCase == 2) collation.Upper(chars);
  if (!IsSystemField(field)) record[field.FieldOffset] = (length > 0 && slot[0] != 0) ? 1 : 0;
}

void WriteWideString(RecordImage record, const FieldDescriptor& field, std::u16string_view text,
                     const Collation& collation) {
  if (!IsWideString(field.EngineType, field.SubType)) {
    WriteString(record, field, Utf16ToWindows1252(text), collation);
    return;
  }
  RecordImage slot = Slot(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  std::size_t length = std::min(text.size(), slot.size() / 2);
  length = std::min(length, text.substr(0, length).find(u'\0'));
  while (length > 0 && text[length - 1] == u' ') --length;
  std::u16string units(text.substr(0, length));
  if (field.CharCase == 1) collation.LowerWide(units);
  if (field.CharCase == 2) collation.UpperWide(units);
  for (std::size_t i = 0; i < units.size(); ++i) StoreU16(slot.data() + 2 * i, units[i]);
  if (!IsSystemField(field)) record[field.FieldOffset] = length > 0 ? 1 : 0;
}

std::u16string WideUnitsOf(std::span<const std::uint8_t> bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = LoadU16(bytes.data() + i);
    if (unit == 0) break;
    units += unit;
  }
  return units;
}

std::vector<std::uint8_t> WideBytesOf(std::u16string_view units) {
  std::vector<std::uint8_t> bytes(2 * units.size() + 2, 0);
  for (std::size_t i = 0; i < units.size(); ++i) StoreU16(bytes.data() + 2 * i, units[i]);
  return bytes;
}

bool ReadBoolean(ConstRecordImage record, const FieldDescriptor& field) {
  return LoadU16(SlotOf<2>(record, field).data()) != 0;
}

void WriteBoolean(RecordImage record, const FieldDescriptor& field, int value) {
  Put<2>(record, field, [&](std::uint8_t* p) { StoreU16(p, value != 0 ? 1 : 0); });
}

std::int64_t ReadInteger(ConstRecordImage record, const FieldDescriptor& field) {
  switch (field.EngineType) {
    case kTypeSmallint: return LoadI16(SlotOf<2>(record, field).data());
    case kTypeWord: return LoadU16(SlotOf<2>(record, field).data());
    case kTypeLargeint:
    case kTypeOtherLargeint: return LoadI64(SlotOf<8>(record, field).data());
    default: return LoadI32(SlotOf<4>(record, field).data());
  }
}

bool WriteInteger(RecordImage record, const FieldDescriptor& field, std::int64_t value) {
  const auto fits = [&](auto low, auto high) {
    return value >= static_cast<std::int64_t>(low) && value <= static_cast<std::int64_t>(high);
  };
  switch (field.EngineType) {
    case kTypeSmallint:
      if (!fits(std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()))
        return false;
      Put<2>(record, field,
             [&](std::uint8_t* p) { StoreI16(p, static_cast<std::int16_t>(value)); });
      return true;
    case kTypeWord:
      if (!fits(0, std::numeric_limits<std::uint16_t>::max())) return false;
      Put<2>(record, field,
             [&](std::uint8_t* p) { StoreU16(p, static_cast<std::uint16_t>(value)); });
      return true;
    case kTypeLargeint:
    case kTypeOtherLargeint:
      Put<8>(record, field, [&](std::uint8_t* p) { StoreI64(p, value); });
      return true;
    default:
      if (!fits(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()))
        return false;
      Put<4>(record, field,
             [&](std::uint8_t* p) { StoreI32(p, static_cast<std::int32_t>(value)); });
      return true;
  }
}

double ReadFloat(ConstRecordImage record, const FieldDescriptor& field) {
  return LoadF64(SlotOf<8>(record, field).data());
}

void WriteFloat(RecordImage record, const FieldDescriptor& field, double value) {
  Put<8>(record, field, [&](std::uint8_t* p) { StoreF64(p, value); });
}

double ReadDate(ConstRecordImage record, const FieldDescriptor& field) {
  return DayNumberToDateTime(LoadI32(SlotOf<4>(record, field).data()));
}

void WriteDate(RecordImage record, const FieldDescriptor& field, double dateTime) {
  Put<4>(record, field, [&](std::uint8_t* p) { StoreI32(p, DateTimeToDayNumber(dateTime)); });
}

double ReadTime(ConstRecordImage record, const FieldDescriptor& field) {
  return TimeMillisecondsToDateTime(LoadI32(SlotOf<4>(record, field).data()));
}

void WriteTime(RecordImage record, const FieldDescriptor& field, double dateTime) {
  Put<4>(record, field,
         [&](std::uint8_t* p) { StoreI32(p, DateTimeToTimeMilliseconds(dateTime)); });
}

std::optional<double> ReadTimestamp(ConstRecordImage record, const FieldDescriptor& field) {
  return TimestampMillisecondsToDateTime(LoadF64(SlotOf<8>(record, field).data()));
}

void WriteTimestamp(RecordImage record, const FieldDescriptor& field, double dateTime) {
  Put<8>(record, field,
         [&](std::uint8_t* p) { StoreF64(p, DateTimeToTimestampMilliseconds(dateTime)); });
}

std::optional<Currency> ReadBcd(ConstRecordImage record, const FieldDescriptor& field) {
  return BcdToCurrency(SlotOf<kBcdSize>(record, field).template first<kBcdSize>());
}

bool WriteBcd(RecordImage record, const FieldDescriptor& field, Currency value) {
  std::array<std::uint8_t, kBcdSize> image{};
  if (!CurrencyToBcd(value, field.DeclaredDecimals, image)) return false;
  Put<kBcdSize>(record, field, [&](std::uint8_t* p) { std::memcpy(p, image.data(), kBcdSize); });
  return true;
}

void WriteFieldBytes(RecordImage record, const FieldDescriptor& field,
                     std::span<const std::uint8_t> value, const Collation& collation) {
  if (field.EngineType == kTypeString) {
    if (IsWideString(field.EngineType, field.SubType)) {
      WriteWideString(record, field, WideUnitsOf(value), collation);
      return;
    }
    const auto zero = std::find(value.begin(), value.end(), 0);
    // An empty value may come without storage; the text keeps a valid one.
    const std::string_view text =
        zero == value.begin()
            ? std::string_view("", 0)
            : std::string_view(reinterpret_cast<const char*>(value.data()),
                               static_cast<std::size_t>(zero - value.begin()));
    WriteString(record, field, text, collation);
    return;
  }
  const RecordImage slot = Slot(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  std::copy_n(value.begin(), std::min<std::size_t>(slot.size(), value.size()), slot.begin());
  if (field.EngineType == kTypeBoolean && slot.size() >= 2) {
    StoreU16(slot.data(), LoadU16(slot.data()) != 0 ? 1 : 0);
  }
  record[field.FieldOffset] = 1;
}

void WriteBytes(RecordImage record, const FieldDescriptor& field,
                std::span<const std::uint8_t> bytes) {
  Put<0>(record, field, [&](std::uint8_t* p) {
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), field.PhysicalSize), p);
  });
}

BlobReference ReadBlobReference(ConstRecordImage record, const FieldDescriptor& field) {
  const ConstRecordImage slot = SlotOf<record_layout::kBlobReferenceSize>(record, field);
  return BlobReference{LoadI32(slot.data() + record_layout::kBlobFirstBlock),
                       LoadI32(slot.data() + record_layout::kBlobRevision)};
}

void WriteBlobReference(RecordImage record, const FieldDescriptor& field,
                        const BlobReference& reference) {
  RecordImage slot = SlotOf<record_layout::kBlobReferenceSize>(record, field);
  std::fill(slot.begin(), slot.end(), 0);
  StoreI32(slot.data() + record_layout::kBlobFirstBlock, reference.FirstBlock);
  StoreI32(slot.data() + record_layout::kBlobRevision, reference.Revision);
  record[field.FieldOffset] = reference.FirstBlock != 0 ? 1 : 0;
}

void WriteBlobFirstBlock(RecordImage record, const FieldDescriptor& field, std::int32_t first) {
  RecordImage slot = SlotOf<record_layout::kBlobReferenceSize>(record, field);
  StoreI32(slot.data() + record_layout::kBlobFirstBlock, first);
}

Md5Digest ComputeRecordHash(ConstRecordImage record, std::span<const FieldDescriptor> fields) {
  if (record.size() < kFirstFieldOffset) throw std::out_of_range("record image too small");
  std::vector<std::uint8_t> area(record.begin() + kFirstFieldOffset, record.end());
  for (const FieldDescriptor& field : fields) {
    if (field.EngineType != kTypeBlob || IsSystemField(field)) continue;
    Slot(record, field);  // checks the bounds
    const std::size_t start = field.FieldOffset - std::size_t{kFirstFieldOffset};
    std::fill_n(area.begin() + static_cast<std::ptrdiff_t>(start),
                field.PhysicalSize + record_layout::kNullFlagSize, 0);
  }
  return Md5::Digest(area);
}

}  // namespace strata
