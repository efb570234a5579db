#include "tools/table_rows.h"

#include <stdexcept>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/locale/windows1252.h"

namespace strata::tools {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::size_t> SelectFields(const TableReport& report,
                                      std::span<const std::string> names) {
  std::vector<std::size_t> selected;
  if (names.empty()) {
    for (std::size_t i = 0; i < report.Fields.size(); ++i) selected.push_back(i);
    return selected;
  }
  for (const std::string& name : names) {
    std::size_t i = 0;
    while (i < report.Fields.size() && !SameName(Windows1252ToUtf8(report.Fields[i].Name), name)) ++i;
    if (i == report.Fields.size()) {
      throw std::invalid_argument("table '" + Windows1252ToUtf8(report.Table) +
                                  "' has no field '" + name + "'");
    }
    selected.push_back(i);
  }
  return selected;
}

TableReport SelectedReport(const TableReport& report, const std::vector<std::size_t>& selected) {
  TableReport reduced = report;
  reduced.Fields.clear();
  for (const std::size_t i : selected) reduced.Fields.push_back(report.Fields[i]);
  std::erase_if(reduced.Indexes, [&](const IndexReport& index) {
    for (const KeyFieldReport& key : index.KeyFields) {
      if (key.Number == kRecordIdFieldNumber || key.Number == kRecordHashFieldNumber) continue;
      bool found = false;
      for (const FieldDescriptor& field : reduced.Fields) found |= field.FieldNumber == key.Number;
      if (!found) return true;
    }
    return false;
  });
  return reduced;
}

}  // namespace

void ReadTableRows(TDataDirectory& directory, std::string_view table,
                   std::span<const std::string> fields, const RowCallbacks& callbacks) {
  // The cursor first: while it holds the table no other program changes it,
  // so the report read next describes the records it reads.
  TDataCursor cursor(directory, directory.TableNameFor(table),
                     CursorModes{.ReadOnly = true, .SequentialScan = true});
  try {
    cursor.Open(true);
  } catch (const std::exception&) {
    // The report says in words of its own what it finds wrong.
    static_cast<void>(ReadTableReport(directory, table));
    throw;
  }
  const TableReport report = ReadTableReport(directory, table);
  const std::vector<std::size_t> selected = SelectFields(report, fields);
  const TableReport reduced = SelectedReport(report, selected);
  std::vector<std::string> names;
  for (const FieldDescriptor& field : reduced.Fields) names.push_back(Windows1252ToUtf8(field.Name));

  RecordValueReader reader(cursor, report.Table);
  if (callbacks.Begin) callbacks.Begin(reduced, names);
  std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
  std::vector<ExportValue> values;
  std::vector<const ExportValue*> row(selected.size());
  std::uint16_t shown = 0;
  const std::int32_t total = cursor.PhysicalRecordCount();
  for (std::int32_t n = 1; n <= total; ++n) {
    if (cursor.ReadRecord(n, record)) {
      reader.Read(record, n, values);
      for (std::size_t i = 0; i < selected.size(); ++i) row[i] = &values[selected[i]];
      callbacks.Row(n, row);
    }
    if (callbacks.Progress) {
      const auto percent = static_cast<std::uint16_t>(std::int64_t{n} * 100 / total);
      if (percent != shown) callbacks.Progress(shown = percent);
    }
  }
  cursor.Close();
}

}  // namespace strata::tools
