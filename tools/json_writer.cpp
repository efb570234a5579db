#include "tools/json_writer.h"

namespace strata::tools {

std::string JsonQuoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\b': quoted += "\\b"; break;
      case '\f': quoted += "\\f"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (byte < 0x20) {
          quoted += "\\u00";
          quoted += kHex[byte >> 4];
          quoted += kHex[byte & 0x0F];
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

void JsonWriter::NewLine(std::size_t depth) {
  out_ << '\n' << std::string(2 * depth, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (!levels_.back().empty) out_ << ',';
  levels_.back().empty = false;
  NewLine(levels_.size());
}

void JsonWriter::Open(char opener) {
  BeforeValue();
  out_ << opener;
  levels_.push_back({opener == '{' ? '}' : ']'});
}

void JsonWriter::Close() {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.empty) NewLine(levels_.size());
  out_ << level.closer;
  if (levels_.empty()) out_ << '\n';
}

void JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ << JsonQuoted(name) << ": ";
  afterKey_ = true;
}

void JsonWriter::String(std::string_view utf8) {
  BeforeValue();
  out_ << JsonQuoted(utf8);
}

void JsonWriter::Number(std::int64_t value) {
  BeforeValue();
  out_ << value;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
}

}  // namespace strata::tools
