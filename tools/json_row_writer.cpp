#include "tools/json_writer.h"
#include "tools/row_writer.h"

namespace strata::tools {

namespace {

using Kind = ExportValue::Kind;

class JsonRowWriter final : public RowWriter {
 public:
  JsonRowWriter(OutputSink& sink, bool oneObjectPerLine)
      : sink_(sink), lines_(oneObjectPerLine) {}

  void Begin(std::span<const std::string> names) override {
    keys_.clear();
    for (const std::string& name : names) keys_.push_back(JsonQuoted(name) + ':');
    if (!lines_) sink_.Append('[');
  }

  void Row(std::span<const ExportValue* const> values) override {
    std::string& out = sink_.Buffer();
    if (!lines_) out += first_ ? "\n" : ",\n";
    first_ = false;
    out += '{';
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += ',';
      out += keys_[i];
      const ExportValue& value = *values[i];
      switch (value.Type) {
        case Kind::Null: out += "null"; break;
        case Kind::Integer:
        case Kind::Float: AppendNumber(out, value); break;
        case Kind::Boolean: out += value.Boolean ? "true" : "false"; break;
        case Kind::Binary: out += '"' + Base64(value.Text) + '"'; break;
        default: out += JsonQuoted(value.Text); break;
      }
    }
    out += lines_ ? "}\n" : "}";
    sink_.MaybeFlush();
  }

  void End() override {
    if (!lines_) sink_.Append(first_ ? "]\n" : "\n]\n");
  }

 private:
  OutputSink& sink_;
  bool lines_;
  bool first_ = true;
  std::vector<std::string> keys_;
};

}  // namespace

std::unique_ptr<RowWriter> MakeJsonWriter(OutputSink& sink, bool oneObjectPerLine) {
  return std::make_unique<JsonRowWriter>(sink, oneObjectPerLine);
}

}  // namespace strata::tools
