// ExportValue: one field value of a record in the form the exports write
// it. Texts are UTF-8 (converted from the table's Windows-1252, or from
// UTF-16 for wide strings), integers exact, floats and currency as doubles,
// BCD values as exact decimal text ("-12.340", as many decimals as stored),
// dates "YYYY-MM-DD", times "HH:MM:SS.mmm", timestamps
// "YYYY-MM-DDTHH:MM:SS.mmm", memos as text, binary BLOBs and byte fields
// as their bytes.
//
// RecordValueReader reads every field of a record read through a cursor
// (BLOB contents through the cursor's BLOB operations). Fields of the codes
// reported as numbers without a stored value of their own (13 and 19) read
// as NULL. A stored value that
// has no such form (a day number outside the calendar, a damaged BCD
// value) raises ExportValueError naming the table, the field and the
// record, so that nothing is exported in a wrong form.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/formats/field_descriptor.h"

namespace strata {
class TDataCursor;
}

namespace strata::tools {

class ExportValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ExportValue {
  enum class Kind { Null, Text, Integer, Float, Decimal, Boolean, Date, Time, Timestamp, Binary };
  Kind Type = Kind::Null;
  // Text, Decimal, Date, Time and Timestamp: the text; Binary: the bytes.
  std::string Text;
  std::int64_t Integer = 0;
  double Float = 0;
  bool Boolean = false;
};

// The kind of value a field gives (Null never).
ExportValue::Kind ExportKindOf(const FieldDescriptor& field);

class RecordValueReader {
 public:
  // The cursor is open on the table; its fields are read in order.
  RecordValueReader(TDataCursor& cursor, std::string tableName);

  std::span<const FieldDescriptor> Fields() const { return fields_; }
  // Fills values (one per field) from a record the cursor read.
  void Read(std::span<std::uint8_t> record, std::int32_t recordNumber,
            std::vector<ExportValue>& values);

 private:
  [[noreturn]] void Fail(const FieldDescriptor& field, std::int32_t recordNumber,
                         const char* what) const;

  TDataCursor& cursor_;
  std::string tableName_;
  std::vector<FieldDescriptor> fields_;
};

// Text forms shared by the exports and the schema.
std::string DateText(std::int64_t dayNumber, bool& valid);
std::string TimeText(std::int64_t milliseconds, bool& valid);
// The shortest text that reads back as the same double ("nan"/"inf" never:
// the callers write non-finite values as NULL).
std::string ShortestDouble(double value);
std::string Base64(std::string_view bytes);
// Appends an Integer or Float value's digits (shortest form for floats).
void AppendNumber(std::string& out, const ExportValue& value);

}  // namespace strata::tools
