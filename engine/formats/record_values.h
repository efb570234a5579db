// Field values in a record image: the NullFlag before each value, the value
// encodings of every engine type, the two system fields (RecordID and
// RecordHash, held in the record header) and the RecordHash digest.
//
// A record image is RecordSize bytes: RecordStatus (1), RecordLink (4),
// RecordID (4), RecordHash (16), then per field a NullFlag byte (1 = value
// present, 0 = NULL) and PhysicalSize value bytes at FieldOffset. A NULL
// field's value bytes are zero. Descriptors must fit the image (the data
// file checks that when it opens); one that does not is a caller's fault
// and raises std::out_of_range. Writers leave the image unchanged when they
// refuse a value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/crypto/md5.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/record_layout.h"
#include "engine/locale/collation.h"
#include "engine/values/currency.h"

namespace strata {

using RecordImage = std::span<std::uint8_t>;
using ConstRecordImage = std::span<const std::uint8_t>;

inline constexpr std::uint8_t kRecordDeleted = 1;

// The constant descriptors of the system fields "RecordID" (integer at 5)
// and "RecordHash" (16 bytes at 9). They have no NullFlag.
const FieldDescriptor& RecordIdDescriptor();
const FieldDescriptor& RecordHashDescriptor();
bool IsSystemField(const FieldDescriptor& field);

// A BLOB field's value: the first block of its chain (0 = empty) and the
// revision of the value.
struct BlobReference {
  std::int32_t FirstBlock = 0;
  std::int32_t Revision = 0;
  bool operator==(const BlobReference&) const = default;
};

// NULL state. System fields are never NULL.
bool FieldIsNull(ConstRecordImage record, const FieldDescriptor& field);
// NullFlag 0 and the value bytes zeroed.
void SetFieldNull(RecordImage record, const FieldDescriptor& field);
// The value bytes (PhysicalSize bytes after the NullFlag).
ConstRecordImage FieldBytes(ConstRecordImage record, const FieldDescriptor& field);

// Strings: the characters up to the first zero byte. Writing zero-fills the
// slot, copies at most PhysicalSize - 1 bytes up to the first zero byte,
// removes trailing spaces (except for fixed-length strings), applies the
// field's character case through the collation, and stores an empty result
// as NULL.
//
// Wide strings (sub-type 32) hold UTF-16LE code units instead: at most
// (PhysicalSize - 1) / 2 of them, ending at the first zero unit, so the
// slot's last byte stays zero. ReadString and WriteString carry them as
// Windows-1252 text (a character without a byte reads as "?");
// WriteWideString takes the units themselves (and converts them into the
// text of a plain string field).
std::string ReadString(ConstRecordImage record, const FieldDescriptor& field);
void WriteString(RecordImage record, const FieldDescriptor& field, std::string_view text,
                 const Collation& collation);
void WriteWideString(RecordImage record, const FieldDescriptor& field, std::u16string_view text,
                     const Collation& collation);
// A wide value's bytes as code units, up to the first zero unit, and back
// (the units and a zero unit).
std::u16string WideUnitsOf(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> WideBytesOf(std::u16string_view units);

// Booleans are stored as 0 or 1.
bool ReadBoolean(ConstRecordImage record, const FieldDescriptor& field);
void WriteBoolean(RecordImage record, const FieldDescriptor& field, int value);

// Smallint, integer (and auto-increment, RecordID), word and largeint, by
// the field's type. A value outside the type's range is refused (false).
std::int64_t ReadInteger(ConstRecordImage record, const FieldDescriptor& field);
bool WriteInteger(RecordImage record, const FieldDescriptor& field, std::int64_t value);

// Floats and currency (a double either way).
double ReadFloat(ConstRecordImage record, const FieldDescriptor& field);
void WriteFloat(RecordImage record, const FieldDescriptor& field, double value);

// Dates, times and timestamps as date-time values (days since 1899-12-30).
// Stored: day number, milliseconds since midnight, milliseconds since
// 0001-01-01. A stored timestamp that is not a finite number reads as
// nullopt.
double ReadDate(ConstRecordImage record, const FieldDescriptor& field);
void WriteDate(RecordImage record, const FieldDescriptor& field, double dateTime);
double ReadTime(ConstRecordImage record, const FieldDescriptor& field);
void WriteTime(RecordImage record, const FieldDescriptor& field, double dateTime);
std::optional<double> ReadTimestamp(ConstRecordImage record, const FieldDescriptor& field);
void WriteTimestamp(RecordImage record, const FieldDescriptor& field, double dateTime);

// BCD values, written with precision 32 and the field's declared decimals;
// nullopt for a damaged value, false for a value that does not fit.
std::optional<Currency> ReadBcd(ConstRecordImage record, const FieldDescriptor& field);
bool WriteBcd(RecordImage record, const FieldDescriptor& field, Currency value);

// Fixed and variable bytes: PhysicalSize bytes, a shorter input zero-padded.
void WriteBytes(RecordImage record, const FieldDescriptor& field,
                std::span<const std::uint8_t> bytes);

// A value in the stored encoding of the field's type, as a field set takes
// it: a string up to its first zero byte (through WriteString), a boolean as
// 0 or 1, any other type as PhysicalSize bytes (a shorter value zero-padded)
// with the NullFlag set. Not for BLOB and system fields.
void WriteFieldBytes(RecordImage record, const FieldDescriptor& field,
                     std::span<const std::uint8_t> value, const Collation& collation);

// BLOB references; the NullFlag is 1 exactly when the first block is not 0.
BlobReference ReadBlobReference(ConstRecordImage record, const FieldDescriptor& field);
void WriteBlobReference(RecordImage record, const FieldDescriptor& field,
                        const BlobReference& reference);
// The first block alone, the revision and the NullFlag left as they are
// (cursors keep an open value's negated handle there).
void WriteBlobFirstBlock(RecordImage record, const FieldDescriptor& field, std::int32_t first);

// MD5 over bytes 25 to the end of the record, the slots of BLOB fields
// (NullFlag and reference) taken as zero.
Md5Digest ComputeRecordHash(ConstRecordImage record, std::span<const FieldDescriptor> fields);

}  // namespace strata
