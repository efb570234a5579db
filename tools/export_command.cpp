#include "tools/export_command.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

#include "engine/locale/windows1252.h"
#include "tools/directory_reference.h"
#include "tools/progress_line.h"
#include "tools/row_writer.h"
#include "tools/table_rows.h"

namespace strata::tools {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool HoldsNul(const ExportValue& value) {
  return value.Type == ExportValue::Kind::Text && value.Text.find('\0') != std::string::npos;
}

// The texts of a record with every NUL replaced, or an error naming the
// record and field where the format cannot hold one.
class NulPolicy {
 public:
  NulPolicy(const ExportRequest& request, bool postgresql)
      : table_(Windows1252ToUtf8(request.Table)), substitute_(request.NulAs),
        refuse_(postgresql && !request.NulAs) {}

  void SetNames(std::span<const std::string> names) { names_.assign(names.begin(), names.end()); }

  // The values to write: `values` itself, or copies without NUL bytes.
  std::span<const ExportValue* const> Apply(std::int32_t record,
                                            std::span<const ExportValue* const> values) {
    if (!substitute_ && !refuse_) return values;
    if (std::none_of(values.begin(), values.end(), [](const ExportValue* v) { return HoldsNul(*v); })) {
      return values;
    }
    copies_.assign(values.size(), ExportValue{});
    pointers_.assign(values.begin(), values.end());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!HoldsNul(*values[i])) continue;
      if (refuse_) {
        throw ExportValueError("table '" + table_ + "', record " + std::to_string(record) +
                               ", field '" + names_[i] +
                               "': the text holds a NUL byte, which PostgreSQL cannot store; "
                               "--nul-as TEXT writes TEXT in its place");
      }
      copies_[i] = *values[i];
      std::string& text = copies_[i].Text;
      for (std::size_t at = text.find('\0'); at != std::string::npos;
           at = text.find('\0', at + substitute_->size())) {
        text.replace(at, 1, *substitute_);
      }
      pointers_[i] = &copies_[i];
    }
    return pointers_;
  }

 private:
  std::string table_;
  std::optional<std::string> substitute_;
  bool refuse_;
  std::vector<std::string> names_;
  std::vector<ExportValue> copies_;
  std::vector<const ExportValue*> pointers_;
};

}  // namespace

void RunExport(TDataSession& session, const ExportRequest& request, std::ostream& out,
               std::ostream* progress) {
  const std::string format = Lower(request.Format);
  if (format != "csv" && format != "json" && format != "jsonl" && format != "sql") {
    throw std::invalid_argument("unknown format '" + request.Format + "' (csv, json, jsonl or sql)");
  }
  const SqlDialect dialect = SqlDialectNamed(request.Dialect);
  if (request.NullText && request.NullText->find_first_of(",\"\r\n") != std::string::npos) {
    throw std::invalid_argument("the --null text may hold no comma, quote, CR or LF");
  }
  if (request.NulAs && request.NulAs->find('\0') != std::string::npos) {
    throw std::invalid_argument("the --nul-as text may hold no NUL");
  }
  NulPolicy nul(request, format == "sql" && dialect == SqlDialect::Postgresql);
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
    nul.SetNames(names);
    writer->Begin(names);
  };
  callbacks.Row = [&](std::int32_t record, std::span<const ExportValue* const> values) {
    writer->Row(nul.Apply(record, values));
  };
  callbacks.Progress = [&](std::uint16_t percent) { line.Show(shown, percent); };
  ReadTableRows(*reference, request.Table, request.Fields, callbacks);
  writer->End();
  sink->Commit();
}

}  // namespace strata::tools
