// ImportSource: the rows of the input of `strata import`, read one at a time
// in the order of the input, in one of the forms the exports write:
//
//   CSV        RFC 4180 with a header row naming the columns; CRLF or LF
//              line ends, quoted fields with doubled quotes, a UTF-8 byte
//              order mark skipped, empty lines skipped. Every field is a
//              text; an empty field, and an unquoted field equal to the
//              NULL text when one is given, is NULL.
//   JSON       an array of objects; JSON lines: one object a line (empty
//              lines skipped). A member is a string (a text), a number (its
//              JSON text as written), true/false or null; each object names
//              its own members.
//   SQLite     one table of a SQLite database read through the SQLite
//              library, each value of its storage class.
//
// A row that cannot be read as a row (a CSV record with another number of
// fields than the header, a line of JSON lines that is no object, an object
// member holding an object or array) comes back with Problem set; the rest
// of the input is still read. Input that cannot be read at all (a missing
// file, a JSON array that breaks off, a SQLite file without the table)
// raises ImportError naming the file and, for text input, the line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace strata::tools {

class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SourceValue {
  enum class Kind { Null, Text, Number, Integer, Real, Boolean, Bytes };
  Kind Type = Kind::Null;
  // Text: UTF-8; Number: the JSON number as written; Bytes: the bytes.
  std::string_view Text;
  std::int64_t Integer = 0;
  double Real = 0;
  bool Boolean = false;
};

struct SourceRow {
  // 1 for the first row of the input (the header does not count).
  std::int64_t Ordinal = 0;
  // The line the row starts on; 0 for a SQLite row.
  std::int64_t Line = 0;
  // JSON: the names of the object's members; otherwise empty (the columns
  // are the source's Columns()).
  std::vector<std::string_view> Names;
  std::vector<SourceValue> Values;
  // The row as it stands in a text input (a CSV record without its line
  // end, a JSON object), for a rejects file; empty for SQLite.
  std::string_view Raw;
  // Why the row could not be read; empty when it was.
  std::string Problem;
  // Raw is not a row of the format at all (a JSON lines line that is no
  // object).
  bool Unreadable = false;
};

enum class ImportFormat { Csv, Json, JsonLines, Sqlite };

class ImportSource {
 public:
  virtual ~ImportSource() = default;
  virtual ImportFormat Format() const = 0;
  // The column names, UTF-8 (the CSV header, the SQLite table's columns);
  // empty for JSON.
  virtual const std::vector<std::string>& Columns() const = 0;
  // The SQLite table read; empty otherwise.
  virtual const std::string& TableName() const = 0;
  // The next row; false at the end. The row's views stay valid until the
  // next call.
  virtual bool Next(SourceRow& row) = 0;
  // The share of the input read so far, 0 to 100.
  virtual std::uint16_t Percent() const = 0;

  // "line 12" for a text input, "row 12" for SQLite.
  static std::string Where(const SourceRow& row) {
    return row.Line > 0 ? "line " + std::to_string(row.Line) : "row " + std::to_string(row.Ordinal);
  }
};

std::unique_ptr<ImportSource> OpenCsvSource(const std::string& path,
                                            std::optional<std::string> nullText);
std::unique_ptr<ImportSource> OpenJsonSource(const std::string& path, bool oneObjectPerLine);
std::unique_ptr<ImportSource> OpenSqliteSource(const std::string& path, const std::string& table);

}  // namespace strata::tools
