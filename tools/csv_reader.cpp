// The CSV input of `strata import` (see import_source.h).
#include <cstring>

#include "tools/import_source.h"
#include "tools/input_buffer.h"

namespace strata::tools {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

class CsvSource final : public ImportSource {
 public:
  CsvSource(const std::string& path, std::optional<std::string> nullText)
      : input_(path), nullText_(std::move(nullText)) {
    pos_ = input_.Start();
    if (input_.End() - pos_ >= 3 && std::memcmp(pos_, kByteOrderMark, 3) == 0) pos_ += 3;
    SourceRow header;
    if (!ReadRecord(header)) {
      throw ImportError("'" + path +
                        "' is empty: a CSV file starts with a header row naming the "
                        "columns");
    }
    for (const Field& field : fields_) columns_.emplace_back(store_, field.Offset, field.Length);
  }

  ImportFormat Format() const override { return ImportFormat::Csv; }
  const std::vector<std::string>& Columns() const override { return columns_; }
  const std::string& TableName() const override { return tableName_; }
  std::uint16_t Percent() const override { return input_.Percent(pos_); }

  bool Next(SourceRow& row) override {
    if (!ReadRecord(row)) return false;
    row.Ordinal = ++ordinal_;
    row.Names.clear();
    row.Values.resize(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const Field& field = fields_[i];
      SourceValue& value = row.Values[i];
      value.Text = std::string_view(store_).substr(field.Offset, field.Length);
      const bool null =
          value.Text.empty() || (!field.Quoted && nullText_ && value.Text == *nullText_);
      value.Type = null ? SourceValue::Kind::Null : SourceValue::Kind::Text;
    }
    if (row.Problem.empty() && fields_.size() != columns_.size()) {
      row.Problem = std::to_string(fields_.size()) + (fields_.size() == 1 ? " field" : " fields") +
                    ", the header has " + std::to_string(columns_.size());
    }
    return true;
  }

 private:
  struct Field {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    bool Quoted = false;
  };
  enum class Parse { Record, NeedMore, End };

  // The next record that is not an empty line into fields_ and store_, with
  // its line, raw text and problem; false at the end of the file.
  bool ReadRecord(SourceRow& row) {
    for (;;) {
      const char* rawEnd = nullptr;
      const char* next = nullptr;
      std::int64_t lines = 0;
      bool unclosed = false;
      const Parse parse = ParseRecord(rawEnd, next, lines, unclosed);
      if (parse == Parse::NeedMore) {
        pos_ = input_.More(pos_);
        continue;
      }
      if (parse == Parse::End) return false;
      row.Line = line_;
      row.Raw = std::string_view(pos_, static_cast<std::size_t>(rawEnd - pos_));
      row.Problem = unclosed ? "a quoted field is not closed before the end of the file" : "";
      pos_ = next;
      line_ += lines;
      if (fields_.size() == 1 && fields_[0].Length == 0 && !fields_[0].Quoted) continue;
      return true;
    }
  }

  // Reads the record at pos_: rawEnd is where its line end starts, next
  // where the following record starts. NeedMore when the buffer ends before
  // the record does and the file goes on.
  Parse ParseRecord(const char*& rawEnd, const char*& next, std::int64_t& lines, bool& unclosed) {
    fields_.clear();
    store_.clear();
    const char* p = pos_;
    const char* const end = input_.End();
    const bool last = input_.AtEndOfFile();
    if (p == end) return last ? Parse::End : Parse::NeedMore;
    for (;;) {
      Field field{store_.size(), 0, false};
      if (p < end && *p == '"') {
        field.Quoted = true;
        ++p;
        for (;;) {
          if (p == end) {
            if (!last) return Parse::NeedMore;
            unclosed = true;
            break;
          }
          if (*p == '"') {
            if (p + 1 == end && !last) return Parse::NeedMore;
            if (p + 1 < end && p[1] == '"') {
              store_ += '"';
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          const char* run = p;
          while (p < end && *p != '"') {
            if (*p == '\n') ++lines;
            ++p;
          }
          store_.append(run, p);
        }
      }
      // Unquoted text, or what follows a closing quote, up to the
      // separator or the line end (CR LF or LF; a lone CR is text).
      const char* run = p;
      while (p < end) {
        const char c = *p;
        if (c == ',' || c == '\n') break;
        if (c == '\r') {
          if (p + 1 == end && !last) return Parse::NeedMore;
          if (p + 1 < end && p[1] == '\n') break;
        }
        ++p;
      }
      store_.append(run, p);
      field.Length = store_.size() - field.Offset;
      fields_.push_back(field);
      if (p == end) {
        if (!last) return Parse::NeedMore;
        rawEnd = next = p;
        return Parse::Record;
      }
      if (*p == ',') {
        ++p;
        continue;
      }
      rawEnd = p;
      next = p + (*p == '\r' ? 2 : 1);
      ++lines;
      return Parse::Record;
    }
  }

  InputBuffer input_;
  std::optional<std::string> nullText_;
  const char* pos_ = nullptr;
  std::int64_t line_ = 1;
  std::int64_t ordinal_ = 0;
  std::vector<std::string> columns_;
  std::string tableName_;
  std::vector<Field> fields_;
  std::string store_;
};

}  // namespace

std::unique_ptr<ImportSource> OpenCsvSource(const std::string& path,
                                            std::optional<std::string> nullText) {
  return std::make_unique<CsvSource>(path, std::move(nullText));
}

}  // namespace strata::tools
