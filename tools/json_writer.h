// JsonWriter: writes one JSON value, indented by two spaces per level, to a
// stream. Strings are taken as UTF-8 and escaped (quote, backslash and the
// control characters below 0x20). The caller nests Begin/End calls
// correctly and gives a Key before each member of an object.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace strata::tools {

// The JSON string literal of a UTF-8 text, quotes included.
std::string JsonQuoted(std::string_view text);

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void BeginObject() { Open('{'); }
  void EndObject() { Close(); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(); }
  void Key(std::string_view name);

  void String(std::string_view utf8);
  void Number(std::int64_t value);
  void Bool(bool value);
  void Null();

  // Key followed by a value.
  void Member(std::string_view name, std::string_view utf8) { Key(name), String(utf8); }
  void Member(std::string_view name, const char* utf8) { Key(name), String(utf8); }
  void Member(std::string_view name, std::int64_t value) { Key(name), Number(value); }
  void Member(std::string_view name, bool value) { Key(name), Bool(value); }

 private:
  struct Level {
    char closer;
    bool empty = true;
  };
  void Open(char opener);
  void Close();
  // Separator and indentation before a value; nothing after a key.
  void BeforeValue();
  void NewLine(std::size_t depth);

  std::ostream& out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace strata::tools
