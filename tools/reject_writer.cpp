// The CSV and JSON rejects files (see reject_writer.h).
#include "tools/reject_writer.h"

#include "tools/json_writer.h"
#include "tools/output_sink.h"

namespace strata::tools {

namespace {

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

class CsvRejectWriter final : public RejectWriter {
 public:
  CsvRejectWriter(const std::string& path, const ImportSource& source, std::ostream& standardOutput)
      : sink_(path, standardOutput) {
    std::string& out = sink_.Buffer();
    for (const std::string& column : source.Columns()) {
      AppendCsvField(out, column);
      out += ',';
    }
    out += kRejectReasonColumn;
    out += "\r\n";
  }

  void Row(const SourceRow& row, std::string_view reason) override {
    std::string& out = sink_.Buffer();
    out += row.Raw;
    out += ',';
    AppendCsvField(out, reason);
    out += "\r\n";
    sink_.MaybeFlush();
  }

  void Commit() override { sink_.Commit(); }

 private:
  OutputSink sink_;
};

class JsonRejectWriter final : public RejectWriter {
 public:
  JsonRejectWriter(const std::string& path, bool oneObjectPerLine, std::ostream& standardOutput)
      : sink_(path, standardOutput), lines_(oneObjectPerLine) {}

  void Row(const SourceRow& row, std::string_view reason) override {
    std::string& out = sink_.Buffer();
    if (!lines_) out += first_ ? "[\n" : ",\n";
    first_ = false;
    const std::string member = JsonQuoted(kRejectReasonColumn) + ":" + JsonQuoted(reason);
    std::string_view object = row.Raw;
    if (row.Unreadable || object.empty() || object.back() != '}') {
      out += "{" + member + "," + JsonQuoted("reject_text") + ":" + JsonQuoted(row.Raw) + "}";
    } else {
      object.remove_suffix(1);
      out += object;
      // After the last member, or alone in an empty object.
      const std::size_t last = object.find_last_not_of(" \t\r\n");
      out += object[last] == '{' ? "" : ",";
      out += member + "}";
    }
    if (lines_) out += '\n';
    sink_.MaybeFlush();
  }

  void Commit() override {
    if (!lines_) sink_.Append(first_ ? "[]\n" : "\n]\n");
    sink_.Commit();
  }

 private:
  OutputSink sink_;
  bool lines_;
  bool first_ = true;
};

}  // namespace

std::unique_ptr<RejectWriter> MakeRejectWriter(const std::string& path, const ImportSource& source,
                                               std::ostream& standardOutput) {
  switch (source.Format()) {
    case ImportFormat::Csv: return std::make_unique<CsvRejectWriter>(path, source, standardOutput);
    case ImportFormat::Json:
      return std::make_unique<JsonRejectWriter>(path, false, standardOutput);
    case ImportFormat::JsonLines:
      return std::make_unique<JsonRejectWriter>(path, true, standardOutput);
    case ImportFormat::Sqlite: return MakeSqliteRejectWriter(path, source);
  }
  return nullptr;
}

}  // namespace strata::tools
