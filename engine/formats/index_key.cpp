#include "engine/formats/index_key.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "engine/common/byte_order.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/record_values.h"
#include "engine/values/bcd.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  const int c = n == 0 ? 0 : std::memcmp(a, b, n);
  return (c > 0) - (c < 0);
}

void StoreBigEndian(std::uint64_t value, int bytes, std::uint8_t* out) {
  for (int i = 0; i < bytes; ++i) {
    out[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
  }
}

std::string_view CharsOf(const std::uint8_t* p, std::size_t n) {
  return {reinterpret_cast<const char*>(p), n};
}

}  // namespace

FieldDescriptor RecordIdFieldDescriptor() {
  FieldDescriptor d;
  d.FieldNumber = kRecordIdFieldNumber;
  d.Name = "RecordID";
  d.EngineType = kTypeInteger;
  d.PhysicalSize = record_layout::kIdSize;
  d.FieldOffset = record_layout::kId;
  return d;
}

FieldDescriptor RecordHashFieldDescriptor() {
  FieldDescriptor d;
  d.FieldNumber = kRecordHashFieldNumber;
  d.Name = "RecordHash";
  d.EngineType = kTypeBytes;
  d.SubType = kSubTypeRecordHash;
  d.DeclaredLength = record_layout::kHashSize;
  d.PhysicalSize = record_layout::kHashSize;
  d.FieldOffset = record_layout::kHash;
  return d;
}

const FieldDescriptor* FindKeyField(std::span<const FieldDescriptor> fields,
                                    std::uint16_t number) {
  static const FieldDescriptor recordId = RecordIdFieldDescriptor();
  static const FieldDescriptor recordHash = RecordHashFieldDescriptor();
  if (number == kRecordIdFieldNumber) return &recordId;
  if (number == kRecordHashFieldNumber) return &recordHash;
  if (number == 0) return nullptr;
  if (number <= fields.size() && fields[number - 1].FieldNumber == number) {
    return &fields[number - 1];
  }
  for (const FieldDescriptor& field : fields) {
    if (field.FieldNumber == number) return &field;
  }
  return nullptr;
}

std::uint16_t KeyBytesOf(const FieldDescriptor& field) {
  return field.EngineType == kTypeBcd ? 8 : field.PhysicalSize;
}

void EncodeInt16Key(std::int16_t value, std::uint8_t* out) {
  StoreBigEndian(static_cast<std::uint16_t>(value) ^ 0x8000u, 2, out);
}

void EncodeUInt16Key(std::uint16_t value, std::uint8_t* out) { StoreBigEndian(value, 2, out); }

void EncodeInt32Key(std::int32_t value, std::uint8_t* out) {
  StoreBigEndian(static_cast<std::uint32_t>(value) ^ 0x80000000u, 4, out);
}

void EncodeInt64Key(std::int64_t value, std::uint8_t* out) {
  StoreBigEndian(static_cast<std::uint64_t>(value) ^ 0x8000000000000000ull, 8, out);
}

void EncodeDoubleKey(double value, std::uint8_t* out) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  // Zero of either sign takes the non-negative form, so both give one key.
  if (value >= 0) bits |= 0x8000000000000000ull;
  else bits = ~bits;
  StoreBigEndian(bits, 8, out);
}

IndexKeyLayout IndexKeyLayout::Make(const IndexDescriptor& descriptor,
                                    std::span<const FieldDescriptor> fields, Collation collation,
                                    std::string_view tableName, std::string_view databaseName) {
  IndexKeyLayout layout;
  layout.collation_ = collation;
  layout.collated_ = collation.Id() != kAnsiLocaleId;
  layout.fullText_ = descriptor.FullText != 0;
  layout.unique_ = !layout.fullText_ && descriptor.Unique != 0;
  layout.caseInsensitive_ = !layout.fullText_ && descriptor.CaseInsensitive != 0;
  const std::size_t count = std::min<std::size_t>(descriptor.FieldCount, kMaxKeyFields);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t number = descriptor.FieldNumbers[i];
    const FieldDescriptor* field = FindKeyField(fields, number);
    const bool memo = field != nullptr && field->EngineType == kTypeBlob &&
                      field->SubType == kSubTypeMemo;
    if (field == nullptr || (field->EngineType == kTypeBlob && !(layout.fullText_ && memo))) {
      const std::string name = field != nullptr ? field->Name : std::to_string(number);
      RaiseEngineError(STRATA_SEARCHCOLREQD, {}, {}, databaseName, tableName, name,
                       descriptor.Name);
    }
    KeyField key;
    key.Number = number;
    key.Type = field->EngineType;
    key.RecordOffset = field->FieldOffset;
    key.PhysicalSize = field->PhysicalSize;
    key.KeyBytes = KeyBytesOf(*field);
    key.HasNullFlag = number != kRecordIdFieldNumber && number != kRecordHashFieldNumber;
    key.Descending = descriptor.DescendingFields[i] != 0;
    key.Wide = IsWideString(field->EngineType, field->SubType);
    layout.fieldBytes_ += key.KeyBytes + index_key_layout::kNullFlagSize;
    layout.fields_.push_back(key);
  }
  if (layout.fullText_) {
    layout.keyLength_ = kFullTextKeyLength;
  } else {
    const std::uint32_t length = layout.fieldBytes_ + (layout.unique_ ? 0 : kRecordIdSuffixLength);
    layout.keyLength_ = static_cast<std::uint16_t>(std::min<std::uint32_t>(length, 0xFFFF));
  }
  return layout;
}

void IndexKeyLayout::BuildKey(std::span<const std::uint8_t> record, std::int32_t recordId,
                              std::span<std::uint8_t> key) const {
  std::fill(key.begin(), key.begin() + keyLength_, 0);
  // A value's bytes, zero beyond the end of the image.
  std::uint8_t value[kMaxKeyBytes + 8];
  auto fetch = [&](std::size_t offset, std::size_t n) {
    std::fill_n(value, n, 0);
    if (offset < record.size()) {
      std::copy_n(record.data() + offset, std::min(n, record.size() - offset), value);
    }
  };
  std::uint8_t* out = key.data();
  for (const KeyField& field : fields_) {
    std::uint8_t* bytes = out + index_key_layout::kNullFlagSize;
    out += index_key_layout::kNullFlagSize + field.KeyBytes;
    std::size_t valueOffset = field.RecordOffset;
    if (field.HasNullFlag) {
      if (field.RecordOffset >= record.size() || record[field.RecordOffset] == 0) continue;
      valueOffset += record_layout::kNullFlagSize;
    }
    bytes[-1] = 1;
    if (field.Number == kRecordIdFieldNumber) {
      EncodeInt32Key(recordId, bytes);
      continue;
    }
    const std::size_t size = std::min<std::size_t>(field.PhysicalSize, kMaxKeyBytes);
    fetch(valueOffset, size);
    switch (field.Type) {
      case kTypeString: {
        if (field.Wide) {
          BuildWideKeyBytes(std::span<const std::uint8_t>(value, size), bytes);
          break;
        }
        const std::size_t n = std::min(size, field.KeyBytes + std::size_t{0});
        const auto end = std::find(value, value + n, std::uint8_t{0});
        std::copy(value, end, bytes);
        if (caseInsensitive_) {
          collation_.Upper({reinterpret_cast<char*>(bytes), static_cast<std::size_t>(end - value)});
        }
        break;
      }
      case kTypeDate:
      case kTypeInteger:
      case kTypeTime: EncodeInt32Key(LoadI32(value), bytes); break;
      case kTypeSmallint: EncodeInt16Key(LoadI16(value), bytes); break;
      case kTypeBoolean:
      case kTypeWord: EncodeUInt16Key(LoadU16(value), bytes); break;
      case kTypeFloat:
      case kTypeTimestamp: EncodeDoubleKey(LoadF64(value), bytes); break;
      case kTypeLargeint: EncodeInt64Key(LoadI64(value), bytes); break;
      case kTypeBcd: {
        EncodeInt64Key(BcdKeyValue(std::span<const std::uint8_t, kBcdSize>(value, kBcdSize)),
                       bytes);
        break;
      }
      default: std::copy_n(value, std::min<std::size_t>(size, field.KeyBytes), bytes); break;
    }
  }
  if (!unique_ && !fullText_) EncodeInt32Key(recordId, out);
}

int IndexKeyLayout::CompareKeys(const std::uint8_t* a, const std::uint8_t* b,
                                std::size_t n) const {
  if (fullText_) return CompareFullText(a, b, n);
  constexpr std::size_t flag = index_key_layout::kNullFlagSize;
  std::size_t at = 0;
  for (const KeyField& field : fields_) {
    if (at >= n) return 0;
    const std::size_t left = n - at;
    const std::size_t width = std::min<std::size_t>(flag + field.KeyBytes, left);
    int c = 0;
    if (collated_ && field.Wide) {
      c = CompareBytes(a + at, b + at, flag);
      if (c == 0 && width > flag) {
        c = CompareWideKeyBytes(a + at + flag, b + at + flag, width - flag);
      }
    } else if (collated_ && field.Type == kTypeString) {
      c = CompareBytes(a + at, b + at, flag);
      if (c == 0 && width > flag) {
        c = collation_.Compare(CharsOf(a + at + flag, width - flag),
                               CharsOf(b + at + flag, width - flag), false, width - flag);
      }
    } else {
      c = CompareBytes(a + at, b + at, width);
    }
    if (c != 0) return field.Descending ? -c : c;
    at += width;
  }
  return at < n ? CompareBytes(a + at, b + at, n - at) : 0;
}

bool IndexKeyLayout::BytewiseOrder() const {
  if (fullText_) return !collated_;
  for (const KeyField& field : fields_) {
    if (field.Descending) return false;
    if (collated_ && (field.Type == kTypeString || field.Wide)) return false;
  }
  return true;
}

void IndexKeyLayout::BuildWideKeyBytes(std::span<const std::uint8_t> value,
                                       std::uint8_t* out) const {
  std::u16string units = WideUnitsOf(value);
  if (caseInsensitive_) collation_.UpperWide(units);
  for (std::size_t i = 0; i < units.size(); ++i) StoreU16(out + 2 * i, units[i]);
}

int IndexKeyLayout::CompareWideKeyBytes(const std::uint8_t* a, const std::uint8_t* b,
                                        std::size_t n) const {
  const std::size_t whole = n & ~std::size_t{1};
  const int c = collation_.CompareWide(WideUnitsOf({a, whole}), WideUnitsOf({b, whole}), false);
  // A partial key may end inside a code unit.
  return c != 0 || whole == n ? c : CompareBytes(a + whole, b + whole, 1);
}

int IndexKeyLayout::CompareFullText(const std::uint8_t* a, const std::uint8_t* b,
                                    std::size_t n) const {
  using index_key_layout::kTextRecordId;
  using index_key_layout::kTextWord;
  n = std::min<std::size_t>(n, kFullTextKeyLength);
  // The flag and the field number compare as bytes, the word through the
  // collation, the RecordID as bytes again.
  int c = CompareBytes(a, b, std::min(n, kTextWord));
  if (c != 0 || n <= kTextWord) return c;
  const std::size_t word = std::min(n - kTextWord, kFullTextWordLength);
  c = collation_.Compare(CharsOf(a + kTextWord, word), CharsOf(b + kTextWord, word), false, word);
  if (c != 0 || n <= kTextRecordId) return c;
  return CompareBytes(a + kTextRecordId, b + kTextRecordId, n - kTextRecordId);
}

void BuildTextKey(std::uint16_t fieldNumber, std::string_view word, std::int32_t recordId,
                  const Collation& collation, std::span<std::uint8_t, kFullTextKeyLength> key) {
  namespace layout = index_key_layout;
  std::fill(key.begin(), key.end(), 0);
  key[layout::kTextFlag] = 1;
  StoreBigEndian(fieldNumber, layout::kTextFieldNumberSize, key.data() + layout::kTextFieldNumber);
  const std::size_t n = std::min(word.size(), layout::kTextWordSize);
  std::uint8_t* const text = key.data() + layout::kTextWord;
  std::copy_n(word.data(), n, reinterpret_cast<char*>(text));
  const auto end = std::find(text, text + n, std::uint8_t{0});
  collation.Upper({reinterpret_cast<char*>(text), static_cast<std::size_t>(end - text)});
  // Bytes after a zero inside the word would make it unreadable as text.
  std::fill(end, key.data() + layout::kTextRecordId, 0);
  EncodeInt32Key(recordId, key.data() + layout::kTextRecordId);
}

}  // namespace strata
