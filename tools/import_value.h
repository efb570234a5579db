// ValueImporter: a value of an import's input put into a field of a record
// buffer of the table a cursor has open. It reads back every form the
// exports write (export_value.h), and what JSON and SQLite give directly:
//
//   strings, memos  the text (UTF-8; a number or boolean as its text),
//                   converted to the table's Windows-1252 (UTF-16 for wide
//                   strings); trailing blanks go as the engine drops them
//   integers        a decimal integer (a JSON number, a SQLite integer, or
//                   a SQLite real that is whole)
//   floats          a decimal number ("." as the point, an exponent allowed)
//   BCD             an exact decimal number, no more places than the field
//                   keeps (and than the engine's four)
//   booleans        true/false in any letter case, 0/1, a JSON boolean
//   dates, times    YYYY-MM-DD, HH:MM[:SS[.mmm]] and their engine text
//                   forms; timestamps the two separated by "T" or a blank
//   binary BLOBs,   base64 (or a SQLite blob)
//   bytes
//
// An empty text, JSON null and SQL NULL are NULL (the engine keeps no empty
// string either). A value that does not convert, or does not fit the field,
// is refused rather than cut or wrapped: a text longer than the field, a
// character outside the code page, a NUL in a string, a number beyond the
// type's range, more bytes than a byte field holds. Set then returns false
// and the reason (UTF-8, about the value only; the caller adds row and
// field), and the field is left as it was.
//
// BLOB values are opened on the cursor; the caller inserts the record or
// frees them (TDataCursor::FreeBlobs).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/import_source.h"

namespace strata {
class TDataCursor;
struct FieldDescriptor;
}  // namespace strata

namespace strata::tools {

class ValueImporter {
 public:
  explicit ValueImporter(TDataCursor& cursor);

  // position: the field's position in the table, from 1.
  bool Set(std::span<std::uint8_t> record, std::uint16_t position, const SourceValue& value,
           std::string& reason);

  // The value as a message quotes it (UTF-8, long texts cut).
  static std::string Shown(const SourceValue& value);

 private:
  bool SetText(std::span<std::uint8_t> record, std::uint16_t position, const FieldDescriptor& field,
               const SourceValue& value, std::string& reason);
  bool SetBytes(std::span<std::uint8_t> record, std::uint16_t position,
                const FieldDescriptor& field, const SourceValue& value, std::string& reason);
  bool SetInteger(std::span<std::uint8_t> record, std::uint16_t position,
                  const FieldDescriptor& field, const SourceValue& value, std::string& reason);
  bool SetBoolean(std::span<std::uint8_t> record, std::uint16_t position, const SourceValue& value,
                  std::string& reason);
  bool SetFloat(std::span<std::uint8_t> record, std::uint16_t position, const SourceValue& value,
                std::string& reason);
  bool SetDecimal(std::span<std::uint8_t> record, std::uint16_t position,
                  const FieldDescriptor& field, const SourceValue& value, std::string& reason);
  bool SetMoment(std::span<std::uint8_t> record, std::uint16_t position,
                 const FieldDescriptor& field, const SourceValue& value, std::string& reason);
  void Store(std::span<std::uint8_t> record, std::uint16_t position, std::size_t size);

  TDataCursor& cursor_;
  std::vector<FieldDescriptor> fields_;
  std::vector<std::uint8_t> bytes_;
  std::string text_;
};

}  // namespace strata::tools
