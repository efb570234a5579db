// The current user's registry, kept as a text file in the registry export
// format: a header line ("Windows Registry Editor Version 5.00" or
// "REGEDIT4"), then sections named by full key paths in brackets
// ("[HKEY_CURRENT_USER\Software\Hearthbook]"), each followed by value lines:
//   "Name"="text"          string (escapes \\ and \")
//   "Name"=dword:0000002a  32-bit number
//   "Name"=hex:01,02       binary; hex(N): any registry type N with its raw
//                          bytes (hex(2) expandable string and hex(7)
//                          multi-string as UTF-16LE, hex(b) 64-bit number)
//   @=...                  the key's default (unnamed) value
// Hex data may continue over lines ending in "\". Lines starting with ";"
// are comments. The file may be UTF-8 or UTF-16LE with a byte-order mark.
//
// Every call reads the file afresh; a missing file is an empty registry.
// A change (creating a key, setting a value) takes an exclusive flock on
// "<file>.lock", reads the file again, and replaces it atomically: a
// temporary file in the same directory, flushed, then renamed over it, so
// other programs never see a half-written file. The rewrite keeps the
// file's encoding and line ends, and writes every line it did not change
// back as it was read (comments, values of types it does not interpret).
//
// A file that cannot be parsed raises RegistryFileError naming the file and
// the line; such a file is never rewritten.
//
// Key paths are full paths from a root key, components separated by "\"
// ("HKEY_CURRENT_USER\Software\Hearthbook"); an empty component makes the
// path invalid. Key and value names compare without regard to ASCII letter
// case. A key exists when it is a root key, or when a section names it or a
// key below it.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace strata::platform {

// Registry type numbers.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegString = 1;
inline constexpr std::uint32_t kRegExpandString = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDWord = 4;
inline constexpr std::uint32_t kRegMultiString = 7;
inline constexpr std::uint32_t kRegQWord = 11;

enum class RegistryValueKind {
  None,
  String,
  ExpandString,
  Binary,
  DWord,
  QWord,
  MultiString,
  Other,
};

// A value as the registry holds it: a type number and raw bytes. Texts are
// UTF-16LE with a terminating NUL, numbers little-endian.
struct RegistryValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;

  static RegistryValue String(std::string_view utf8, std::uint32_t type = kRegString);
  static RegistryValue DWord(std::uint32_t number);
  static RegistryValue QWord(std::uint64_t number);
  static RegistryValue MultiString(const std::vector<std::string>& utf8);

  // The kind of the type number (Other for any type not listed).
  RegistryValueKind Kind() const;
  // The data as UTF-16LE text in UTF-8, without the one terminating NUL;
  // embedded NULs are kept.
  std::string Text() const;
  // The strings of a multi-string (the empty string ends the list).
  std::vector<std::string> Strings() const;
  // The data as a little-endian number (at most the first 8 bytes).
  std::uint64_t Number() const;

  bool operator==(const RegistryValue&) const = default;
};

class RegistryFileError : public std::runtime_error {
 public:
  RegistryFileError(const std::string& file, int line, const std::string& problem);
  const std::string& File() const { return file_; }
  int Line() const { return line_; }

 private:
  std::string file_;
  int line_;
};

class RegistryStore {
 public:
  explicit RegistryStore(std::string filePath);

  // $HEARTHBOOK_REGISTRY when set, else
  // ${XDG_CONFIG_HOME:-$HOME/.config}/hearthbook/registry.reg.
  static std::string DefaultPath();

  const std::string& FilePath() const { return path_; }

  bool KeyExists(std::string_view keyPath) const;

  // Adds the key when it is missing (the directory of the file is created
  // as needed). True when the key exists afterwards; false for an invalid
  // path or when the file cannot be written.
  bool CreateKey(std::string_view keyPath);

  // nullopt when the key or the value is missing. An empty name is the
  // default value.
  std::optional<RegistryValue> ReadValue(std::string_view keyPath, std::string_view name) const;

  // Adds or replaces a value, creating its key. False for an invalid path
  // or when the file cannot be written.
  bool SetValue(std::string_view keyPath, std::string_view name, const RegistryValue& value);
  bool SetString(std::string_view keyPath, std::string_view name, std::string_view utf8) {
    return SetValue(keyPath, name, RegistryValue::String(utf8));
  }

 private:
  std::string path_;
};

}  // namespace strata::platform
