// The row formats of `strata export`: each writes a header (the selected
// field names), then one record at a time, then an end, to an OutputSink.
//
// CSV follows RFC 4180: a header line of field names, CRLF line ends, a
// field quoted when it holds a comma, a quote, CR, LF or NUL (quotes
// doubled); NULL is the NULL text unquoted (empty unless given; it must
// hold no comma, quote, CR or LF), and a value that would read the same is
// quoted (an empty text is ""); booleans true/false, binary values base64. JSON is one array of objects, JSON lines one object
// per line; each object has the field names as keys in field order; BCD
// values are strings of their exact digits, binary values base64, NULL
// null. SQL is the dialect's CREATE TABLE, the INSERT statements and the
// CREATE INDEX statements in one transaction.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/export_value.h"
#include "tools/output_sink.h"
#include "tools/schema_sql.h"
#include "tools/table_report.h"

namespace strata::tools {

class RowWriter {
 public:
  virtual ~RowWriter() = default;
  // names: the selected fields' names, UTF-8.
  virtual void Begin(std::span<const std::string> names) = 0;
  virtual void Row(std::span<const ExportValue* const> values) = 0;
  virtual void End() = 0;
};

std::unique_ptr<RowWriter> MakeCsvWriter(OutputSink& sink, std::optional<std::string> nullText);
std::unique_ptr<RowWriter> MakeJsonWriter(OutputSink& sink, bool oneObjectPerLine);
// table holds only the selected fields; the writer keeps a copy.
std::unique_ptr<RowWriter> MakeSqlWriter(OutputSink& sink, const TableReport& table,
                                         SqlDialect dialect);

}  // namespace strata::tools
