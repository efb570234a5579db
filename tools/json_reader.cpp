// The JSON and JSON lines input of `strata import` (see import_source.h).
// The input is read as a stream, one object at a time, whatever its size:
// a hand-written reader of the flat objects the exports write, which keeps
// each number's text as written (so that a 64-bit integer or a decimal
// value arrives exact) and each object's line for the rejects.
#include <cstring>

#include "engine/locale/windows1252.h"
#include "tools/import_source.h"
#include "tools/input_buffer.h"

namespace strata::tools {

namespace {

using Kind = SourceValue::Kind;

// The buffer ended inside an object while the file goes on.
struct NeedMore {};

// Malformed JSON: what was expected, at a line relative to the object's.
struct SyntaxError {
  std::string What;
  std::int64_t Lines = 0;
};

class JsonSource final : public ImportSource {
 public:
  JsonSource(const std::string& path, bool oneObjectPerLine)
      : input_(path), lines_(oneObjectPerLine) {
    pos_ = input_.Start();
    if (input_.End() - pos_ >= 3 && std::memcmp(pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
  }

  ImportFormat Format() const override {
    return lines_ ? ImportFormat::JsonLines : ImportFormat::Json;
  }
  const std::vector<std::string>& Columns() const override { return columns_; }
  const std::string& TableName() const override { return tableName_; }
  std::uint16_t Percent() const override { return input_.Percent(pos_); }

  bool Next(SourceRow& row) override {
    for (;;) {
      try {
        return lines_ ? NextLine(row) : NextInArray(row);
      } catch (const NeedMore&) {
        pos_ = input_.More(pos_);
      }
    }
  }

 private:
  struct Member {
    std::size_t NameOffset = 0;
    std::size_t NameLength = 0;
    Kind Type = Kind::Null;
    std::size_t TextOffset = 0;  // a string in store_
    std::size_t TextLength = 0;
    const char* Number = nullptr;  // a number in the input
    bool Boolean = false;
  };

  // The parse of one object, from p_ on; everything it finds is committed
  // only when the object is complete.
  bool NextInArray(SourceRow& row) {
    if (finished_) return false;
    p_ = pos_;
    linesSeen_ = 0;
    SkipSpace();
    if (!started_) {
      if (Peek() != '[')
        Fail("the file does not start with '[': a JSON export is an array of objects");
      ++p_;
      SkipSpace();
      if (Peek() == ']') {
        ++p_;
        Finish();
        return false;
      }
    }
    const std::int64_t startLine = line_ + linesSeen_;
    const char* start = p_;
    if (Peek() != '{') Fail("expected an object");
    ParseObject();
    const char* stop = p_;
    SkipSpace();
    const char separator = Peek();
    if (separator != ',' && separator != ']') Fail("expected ',' or ']' after an object");
    ++p_;
    started_ = true;
    if (separator == ']') Finish();
    Commit(row, startLine, start, stop);
    return true;
  }

  bool NextLine(SourceRow& row) {
    p_ = pos_;
    linesSeen_ = 0;
    SkipSpace();
    if (p_ == input_.End()) {
      if (!input_.AtEndOfFile()) throw NeedMore();
      pos_ = p_;
      return false;
    }
    const std::int64_t startLine = line_ + linesSeen_;
    const char* start = p_;
    std::string problem;
    try {
      if (Peek() != '{') Fail("expected an object");
      ParseObject();
      const char* stop = p_;
      while (p_ < input_.End() && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) ++p_;
      if (p_ == input_.End() && !input_.AtEndOfFile()) throw NeedMore();
      if (p_ < input_.End() && *p_ != '\n') Fail("expected the end of the line after an object");
      Commit(row, startLine, start, stop);
      return true;
    } catch (const SyntaxError& error) {
      problem = "not a JSON object: " + error.What;
    }
    // The rest of a line that is no object is that row's text.
    const char* end = static_cast<const char*>(
        std::memchr(start, '\n', static_cast<std::size_t>(input_.End() - start)));
    if (end == nullptr && !input_.AtEndOfFile()) throw NeedMore();
    p_ = end == nullptr ? input_.End() : end;
    const char* stop = p_;
    while (stop > start && stop[-1] == '\r') --stop;
    linesSeen_ = startLine - line_;
    members_.clear();
    Commit(row, startLine, start, stop);
    row.Problem = std::move(problem);
    row.Unreadable = true;
    return true;
  }

  void Finish() {
    SkipSpace();
    if (p_ != input_.End()) Fail("the file goes on after the array ends");
    if (!input_.AtEndOfFile()) throw NeedMore();
    finished_ = true;
  }

  void Commit(SourceRow& row, std::int64_t startLine, const char* start, const char* stop) {
    row.Ordinal = ++ordinal_;
    row.Line = startLine;
    row.Raw = std::string_view(start, static_cast<std::size_t>(stop - start));
    row.Problem = nestedProblem_;
    row.Unreadable = false;
    row.Names.resize(members_.size());
    row.Values.resize(members_.size());
    for (std::size_t i = 0; i < members_.size(); ++i) {
      const Member& member = members_[i];
      row.Names[i] = std::string_view(store_).substr(member.NameOffset, member.NameLength);
      SourceValue& value = row.Values[i];
      value.Type = member.Type;
      value.Boolean = member.Boolean;
      if (member.Type == Kind::Number) {
        value.Text = std::string_view(member.Number, member.TextLength);
      } else {
        value.Text = std::string_view(store_).substr(member.TextOffset, member.TextLength);
      }
    }
    pos_ = p_;
    line_ += linesSeen_;
  }

  [[noreturn]] void Fail(const std::string& what) {
    if (p_ == input_.End() && !input_.AtEndOfFile()) throw NeedMore();
    if (lines_) throw SyntaxError{what, linesSeen_};
    throw ImportError("'" + input_.Path() + "', line " + std::to_string(line_ + linesSeen_) + ": " +
                      what);
  }

  // The byte at p_; NeedMore, or a syntax error at the end of the file.
  char Peek() {
    if (p_ < input_.End()) return *p_;
    if (!input_.AtEndOfFile()) throw NeedMore();
    Fail("the file ends inside the JSON");
  }

  void SkipSpace() {
    for (;;) {
      while (p_ < input_.End()) {
        const char c = *p_;
        if (c == '\n') {
          ++linesSeen_;
        } else if (c != ' ' && c != '\t' && c != '\r') {
          return;
        }
        ++p_;
      }
      if (input_.AtEndOfFile()) return;
      throw NeedMore();
    }
  }

  void Expect(char c, const char* what) {
    if (Peek() != c) Fail(what);
    ++p_;
  }

  void ParseObject() {
    members_.clear();
    store_.clear();
    nestedProblem_.clear();
    Expect('{', "expected an object");
    SkipSpace();
    if (Peek() == '}') {
      ++p_;
      return;
    }
    for (;;) {
      SkipSpace();
      Member member;
      if (Peek() != '"') Fail("expected a member name in quotes");
      ParseString(member.NameOffset, member.NameLength);
      SkipSpace();
      Expect(':', "expected ':' after a member name");
      SkipSpace();
      ParseValue(member);
      members_.push_back(member);
      SkipSpace();
      const char c = Peek();
      ++p_;
      if (c == '}') return;
      if (c != ',') Fail("expected ',' or '}' in an object");
    }
  }

  void ParseValue(Member& member) {
    const char c = Peek();
    if (c == '"') {
      member.Type = Kind::Text;
      ParseString(member.TextOffset, member.TextLength);
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      member.Type = Kind::Number;
      member.Number = p_;
      ParseNumber();
      member.TextLength = static_cast<std::size_t>(p_ - member.Number);
    } else if (c == 't') {
      Keyword("true");
      member.Type = Kind::Boolean;
      member.Boolean = true;
    } else if (c == 'f') {
      Keyword("false");
      member.Type = Kind::Boolean;
    } else if (c == 'n') {
      Keyword("null");
    } else if (c == '{' || c == '[') {
      SkipNested();
      if (nestedProblem_.empty()) {
        nestedProblem_ = "member '" + store_.substr(member.NameOffset, member.NameLength) +
                         "' holds an object or an array, which no field takes";
      }
    } else {
      Fail("expected a value");
    }
  }

  void Keyword(const char* word) {
    for (const char* w = word; *w != '\0'; ++w) {
      if (Peek() != *w) Fail(std::string("expected '") + word + "'");
      ++p_;
    }
  }

  void Digits() {
    if (Peek() < '0' || Peek() > '9') Fail("expected a digit in a number");
    while (p_ < input_.End() && *p_ >= '0' && *p_ <= '9') ++p_;
    if (p_ == input_.End() && !input_.AtEndOfFile()) throw NeedMore();
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  void ParseNumber() {
    if (Peek() == '-') ++p_;
    if (Peek() == '0') {
      ++p_;
    } else {
      Digits();
    }
    if (p_ == input_.End() && !input_.AtEndOfFile()) throw NeedMore();
    if (p_ < input_.End() && *p_ == '.') {
      ++p_;
      Digits();
    }
    if (p_ < input_.End() && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (Peek() == '+' || Peek() == '-') ++p_;
      Digits();
    }
  }

  unsigned HexDigit() {
    const char c = Peek();
    ++p_;
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    Fail("expected four hexadecimal digits after \\u");
  }

  unsigned CodeUnit() {
    unsigned unit = 0;
    for (int i = 0; i < 4; ++i) unit = unit << 4 | HexDigit();
    return unit;
  }

  // A string from its opening quote on, unescaped into store_.
  void ParseString(std::size_t& offset, std::size_t& length) {
    offset = store_.size();
    ++p_;
    for (;;) {
      const char* run = p_;
      while (p_ < input_.End() && *p_ != '"' && *p_ != '\\') ++p_;
      store_.append(run, p_);
      const char c = Peek();
      ++p_;
      if (c == '"') break;
      const char escape = Peek();
      ++p_;
      switch (escape) {
        case '"': store_ += '"'; break;
        case '\\': store_ += '\\'; break;
        case '/': store_ += '/'; break;
        case 'b': store_ += '\b'; break;
        case 'f': store_ += '\f'; break;
        case 'n': store_ += '\n'; break;
        case 'r': store_ += '\r'; break;
        case 't': store_ += '\t'; break;
        case 'u': {
          char32_t point = CodeUnit();
          const bool high = point >= 0xD800 && point < 0xDC00;
          if (high && input_.End() - p_ < 2 && !input_.AtEndOfFile()) throw NeedMore();
          if (high && input_.End() - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u') {
            const char* back = p_;
            p_ += 2;
            const unsigned low = CodeUnit();
            if (low >= 0xDC00 && low < 0xE000) {
              point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
            } else {
              p_ = back;
            }
          }
          // An unpaired surrogate is no character.
          if (point >= 0xD800 && point < 0xE000) point = 0xFFFD;
          AppendUtf8(store_, point);
          break;
        }
        default: Fail(std::string("unknown escape '\\") + escape + "' in a string");
      }
    }
    length = store_.size() - offset;
  }

  // An object or array as a member's value: skipped whole.
  void SkipNested() {
    int depth = 0;
    do {
      const char c = Peek();
      if (c == '"') {
        std::size_t offset = 0;
        std::size_t length = 0;
        ParseString(offset, length);
        store_.resize(offset);
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') --depth;
      if (c == '\n') ++linesSeen_;
      ++p_;
    } while (depth > 0);
  }

  InputBuffer input_;
  bool lines_;
  const char* pos_ = nullptr;
  const char* p_ = nullptr;
  std::int64_t line_ = 1;
  std::int64_t linesSeen_ = 0;
  std::int64_t ordinal_ = 0;
  bool started_ = false;
  bool finished_ = false;
  std::vector<std::string> columns_;
  std::string tableName_;
  std::vector<Member> members_;
  std::string store_;
  std::string nestedProblem_;
};

}  // namespace

std::unique_ptr<ImportSource> OpenJsonSource(const std::string& path, bool oneObjectPerLine) {
  return std::make_unique<JsonSource>(path, oneObjectPerLine);
}

}  // namespace strata::tools
