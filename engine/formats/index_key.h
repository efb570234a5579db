// Index keys: how a key is built from a record image and how two keys
// compare.
//
// A key is, for each key field in order, a NullFlag byte (1 value present,
// 0 NULL) and the field's key bytes (zero when NULL), followed in a
// non-unique index by the record's RecordID (4 bytes). The key bytes are
// chosen so that unsigned byte order is value order: integers big-endian
// with the sign bit inverted, doubles with the sign rule, BCD values as a
// 64-bit count of ten-thousandths, strings zero-padded (upper-cased through
// the table's collation in a case-insensitive index; a wide string as its
// code units up to the first zero unit). Only string fields of a table with
// a non-zero locale compare through the collation.
//
// A full-text key is 68 bytes: 1, the field number (big-endian), the word
// (61 characters, upper-cased, zero-padded) and the RecordID.
//
// IndexKeyLayout is built once per index from its descriptor and the
// table's field descriptors; it is a plain value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/field_descriptor.h"
#include "engine/formats/index_file_header.h"
#include "engine/formats/index_key_layout.h"
#include "engine/locale/collation.h"

namespace strata {

// Bounds of the key length without the RecordID suffix.
inline constexpr std::uint32_t kMaxKeyBytes = 4106;

// The descriptors of the two system fields that every record carries.
FieldDescriptor RecordIdFieldDescriptor();
FieldDescriptor RecordHashFieldDescriptor();

// The descriptor of a field number (system fields included); nullptr when
// the table has no such field.
const FieldDescriptor* FindKeyField(std::span<const FieldDescriptor> fields,
                                    std::uint16_t number);

// Key bytes of a field value of an engine type: 8 for BCD, else the
// physical size.
std::uint16_t KeyBytesOf(const FieldDescriptor& field);

// Order-preserving encodings, written big-endian into out.
void EncodeInt16Key(std::int16_t value, std::uint8_t* out);
void EncodeUInt16Key(std::uint16_t value, std::uint8_t* out);
void EncodeInt32Key(std::int32_t value, std::uint8_t* out);
void EncodeInt64Key(std::int64_t value, std::uint8_t* out);
void EncodeDoubleKey(double value, std::uint8_t* out);

struct KeyField {
  std::uint16_t Number = 0;
  std::uint8_t Type = 0;
  std::uint16_t RecordOffset = 0;  // the NullFlag (or, for system fields, the value)
  std::uint16_t PhysicalSize = 0;
  std::uint16_t KeyBytes = 0;
  bool HasNullFlag = true;
  bool Descending = false;
  bool Wide = false;  // a wide string: UTF-16LE code units
};

class IndexKeyLayout {
 public:
  IndexKeyLayout() = default;

  // The layout of an index. Raises STRATA_SEARCHCOLREQD for a key field that the table
  // lacks or that is a BLOB (memo fields are accepted in the full-text
  // index), naming the field, the index and the table.
  static IndexKeyLayout Make(const IndexDescriptor& descriptor,
                             std::span<const FieldDescriptor> fields, Collation collation,
                             std::string_view tableName = {},
                             std::string_view databaseName = {});

  // Sum of (key bytes + 1) over the key fields: the key length without the
  // RecordID suffix.
  std::uint32_t FieldBytes() const { return fieldBytes_; }
  // The full key length K.
  std::uint16_t KeyLength() const { return keyLength_; }
  bool Unique() const { return unique_; }
  bool CaseInsensitive() const { return caseInsensitive_; }
  bool FullText() const { return fullText_; }
  const Collation& KeyCollation() const { return collation_; }
  const std::vector<KeyField>& Fields() const { return fields_; }

  // Builds the key of a record image (bytes beyond the image read as zero).
  // key must hold KeyLength() bytes.
  void BuildKey(std::span<const std::uint8_t> record, std::int32_t recordId,
                std::span<std::uint8_t> key) const;

  // -1, 0 or 1 over the first n bytes of a and b (n at most KeyLength()).
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const;
  // True when CompareKeys gives the order of the bytes as unsigned numbers
  // (no descending field, no text compared through a locale's collation).
  bool BytewiseOrder() const;

 private:
  int CompareFullText(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const;
  void BuildWideKeyBytes(std::span<const std::uint8_t> value, std::uint8_t* out) const;
  int CompareWideKeyBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const;

  std::vector<KeyField> fields_;
  std::uint32_t fieldBytes_ = 0;
  std::uint16_t keyLength_ = 0;
  bool unique_ = true;
  bool caseInsensitive_ = false;
  bool fullText_ = false;
  bool collated_ = false;  // a non-zero locale: string fields compare through it
  Collation collation_;
};

// A full-text key: the word cut to 61 characters and upper-cased.
void BuildTextKey(std::uint16_t fieldNumber, std::string_view word, std::int32_t recordId,
                  const Collation& collation, std::span<std::uint8_t, kFullTextKeyLength> key);

}  // namespace strata
