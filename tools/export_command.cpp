#include "tools/export_command.h"

#include <memory>
#include <stdexcept>

#include "engine/locale/windows1252.h"
#include "tools/directory_reference.h"
#include "tools/progress_line.h"
#include "tools/row_writer.h"
#include "tools/table_rows.h"

namespace strata::tools {

void RunExport(TDataSession& session, const ExportRequest& request, std::ostream& out,
               std::ostream* progress) {
  const std::string& format = request.Format;
  if (format != "csv" && format != "json" && format != "jsonl" && format != "sql") {
    throw std::invalid_argument("unknown format '" + format + "' (csv, json, jsonl or sql)");
  }
  const SqlDialect dialect = SqlDialectNamed(request.Dialect);
  DirectoryReference reference(session, request.Folder);
  std::unique_ptr<OutputSink> sink = request.Output
                                         ? std::make_unique<OutputSink>(*request.Output, out)
                                         : std::make_unique<OutputSink>(out);
  std::unique_ptr<RowWriter> writer;
  ProgressLine line(progress);
  const std::string shown = Windows1252ToUtf8(request.Table);
  RowCallbacks callbacks;
  callbacks.Begin = [&](const TableReport& table, std::span<const std::string> names) {
    if (format == "csv") {
      writer = MakeCsvWriter(*sink, request.NullText);
    } else if (format == "sql") {
      writer = MakeSqlWriter(*sink, table, dialect);
    } else {
      writer = MakeJsonWriter(*sink, format == "jsonl");
    }
    writer->Begin(names);
  };
  callbacks.Row = [&](std::span<const ExportValue* const> values) { writer->Row(values); };
  callbacks.Progress = [&](std::uint16_t percent) { line.Show(shown, percent); };
  ReadTableRows(*reference, request.Table, request.Fields, callbacks);
  writer->End();
  sink->Commit();
}

}  // namespace strata::tools
