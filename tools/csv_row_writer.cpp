#include "tools/row_writer.h"

namespace strata::tools {

namespace {

using Kind = ExportValue::Kind;

class CsvWriter final : public RowWriter {
 public:
  CsvWriter(OutputSink& sink, std::optional<std::string> nullText)
      : sink_(sink), nullText_(std::move(nullText).value_or("")) {}

  void Begin(std::span<const std::string> names) override {
    std::string& out = sink_.Buffer();
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ',';
      AppendText(out, names[i]);
    }
    out += "\r\n";
    sink_.MaybeFlush();
  }

  void Row(std::span<const ExportValue* const> values) override {
    std::string& out = sink_.Buffer();
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += ',';
      const ExportValue& value = *values[i];
      if (value.Type == Kind::Null) {
        out += nullText_;
        continue;
      }
      const std::size_t start = out.size();
      switch (value.Type) {
        case Kind::Integer:
        case Kind::Float: AppendNumber(out, value); break;
        case Kind::Boolean: out += value.Boolean ? "true" : "false"; break;
        case Kind::Binary: out += Base64(value.Text); break;
        case Kind::Text: AppendText(out, value.Text); break;
        default: out += value.Text; break;  // digits, dates and times need no quotes
      }
      // A value that reads like NULL is quoted (the NULL text never holds
      // a character that needs quotes, so a quoted value never reads so).
      if (std::string_view(out).substr(start) == nullText_) {
        out.insert(start, 1, '"');
        out += '"';
      }
    }
    out += "\r\n";
    sink_.MaybeFlush();
  }

  void End() override {}

 private:
  static void AppendText(std::string& out, std::string_view text) {
    if (text.find_first_of(std::string_view(",\"\r\n\0", 5)) == std::string_view::npos) {
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

  OutputSink& sink_;
  std::string nullText_;
};

}  // namespace

std::unique_ptr<RowWriter> MakeCsvWriter(OutputSink& sink, std::optional<std::string> nullText) {
  return std::make_unique<CsvWriter>(sink, std::move(nullText));
}

}  // namespace strata::tools
