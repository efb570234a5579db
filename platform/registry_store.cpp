#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace strata::platform {

namespace {

constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr std::size_t kHexLineWidth = 77;  // wrap hex data like the export does

// ---- Text encodings -------------------------------------------------------

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point at text[i] and advances i; a malformed sequence
// gives U+FFFD and advances by one byte.
char32_t NextUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int length = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + length > text.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += length;
  return cp;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextUtf8(text, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string LittleEndianUnits(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

std::u16string LittleEndianUnits(const std::vector<std::uint8_t>& data) {
  return LittleEndianUnits(
      std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void AppendLittleEndian(std::vector<std::uint8_t>& out, std::u16string_view units) {
  for (const char16_t unit : units) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
}

// ---- Names ------------------------------------------------------------------

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// True when `path` names `key` or a key below it.
bool IsAtOrBelow(std::string_view path, std::string_view key) {
  if (path.size() < key.size() || !SameName(path.substr(0, key.size()), key)) return false;
  return path.size() == key.size() || path[key.size()] == '\\';
}

bool ValidKeyPath(std::string_view path) {
  if (path.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    if (end == start || start == path.size()) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool IsRootKey(std::string_view path) { return path.find('\\') == std::string_view::npos; }

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::string Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// ---- The document ------------------------------------------------------------

// One logical line: a value (possibly spread over several physical lines),
// or a blank or comment line kept as it is.
struct Entry {
  std::vector<std::string> raw;  // the physical lines as read; empty once changed
  bool isValue = false;
  std::string name;
  RegistryValue value;

  bool IsBlank() const { return !isValue && raw.size() == 1 && Trim(raw[0]).empty(); }
};

struct Section {
  std::string rawHeader;  // the line as read; empty for a new section
  std::string path;
  std::vector<Entry> entries;
};

enum class Encoding { Utf8, Utf8WithMark, Utf16 };

struct Document {
  Encoding encoding = Encoding::Utf8;
  bool crlf = false;
  std::string header{kHeaderVersion5};
  std::vector<Entry> preamble;  // lines between the header and the first section
  std::vector<Section> sections;
};

class Parser {
 public:
  Parser(const std::string& file, std::vector<std::string> lines)
      : file_(file), lines_(std::move(lines)) {}

  void ParseInto(Document& doc) {
    if (lines_.empty()) return;
    const std::string_view header = Trim(lines_[0]);
    if (header != kHeaderVersion5 && header != kHeaderVersion4) {
      Fail(1, "the first line is not \"" + std::string(kHeaderVersion5) + "\" or \"" +
                  std::string(kHeaderVersion4) + "\"");
    }
    doc.header = lines_[0];
    for (std::size_t i = 1; i < lines_.size(); ++i) {
      const int lineNumber = static_cast<int>(i) + 1;
      const std::string_view text = Trim(lines_[i]);
      std::vector<Entry>& entries =
          doc.sections.empty() ? doc.preamble : doc.sections.back().entries;
      if (text.empty() || text.front() == ';') {
        entries.push_back(Entry{{lines_[i]}, false, {}, {}});
      } else if (text.front() == '[') {
        if (text.back() != ']') Fail(lineNumber, "a key line must end with ']'");
        const std::string_view path = text.substr(1, text.size() - 2);
        if (!path.empty() && path.front() == '-') {
          Fail(lineNumber, "key deletion lines are not supported");
        }
        if (!ValidKeyPath(path)) Fail(lineNumber, "invalid key path");
        doc.sections.push_back(Section{lines_[i], std::string(path), {}});
      } else if (text.front() == '"' || text.front() == '@') {
        if (doc.sections.empty()) Fail(lineNumber, "a value line before the first key");
        entries.push_back(ParseValue(i));
      } else {
        Fail(lineNumber, "unrecognised line");
      }
    }
  }

 private:
  [[noreturn]] void Fail(int line, const std::string& problem) const {
    throw RegistryFileError(file_, line, problem);
  }

  // Parses the quoted text starting at text[pos] (the opening quote) and
  // leaves pos after the closing quote.
  std::string QuotedText(std::string_view text, std::size_t& pos, int lineNumber) const {
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
      const char c = text[pos];
      if (c == '"') {
        ++pos;
        return out;
      }
      if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
        ++pos;
      }
      out += text[pos];
    }
    Fail(lineNumber, "missing closing quote");
  }

  // Parses the value starting at physical line `index`; hex data continued
  // over following lines advances `index` past them.
  Entry ParseValue(std::size_t& index) {
    const int lineNumber = static_cast<int>(index) + 1;
    Entry entry{{lines_[index]}, true, {}, {}};
    const std::string_view text = Trim(lines_[index]);
    std::size_t pos = 0;
    if (text.front() == '@') {
      pos = 1;
    } else {
      entry.name = QuotedText(text, pos, lineNumber);
    }
    std::string_view rest = Trim(text.substr(pos));
    if (rest.empty() || rest.front() != '=') Fail(lineNumber, "missing '=' after the value name");
    rest = Trim(rest.substr(1));

    if (!rest.empty() && rest.front() == '"') {
      std::size_t at = 0;
      const std::string value = QuotedText(rest, at, lineNumber);
      if (!Trim(rest.substr(at)).empty()) Fail(lineNumber, "text after the closing quote");
      entry.value = RegistryValue::String(value);
    } else if (StartsWithFolded(rest, "dword:")) {
      const auto number = ParseHexNumber(Trim(rest.substr(6)), 8);
      if (!number) Fail(lineNumber, "a dword value needs 1 to 8 hexadecimal digits");
      entry.value = RegistryValue::DWord(*number);
    } else if (StartsWithFolded(rest, "hex")) {
      std::uint32_t type = kRegBinary;
      std::size_t at = 3;
      if (at < rest.size() && rest[at] == '(') {
        const std::size_t close = rest.find(')', at);
        const auto number = close == std::string_view::npos
                                ? std::nullopt
                                : ParseHexNumber(rest.substr(at + 1, close - at - 1), 8);
        if (!number) Fail(lineNumber, "invalid type in hex(...)");
        type = *number;
        at = close + 1;
      }
      if (at >= rest.size() || rest[at] != ':') Fail(lineNumber, "missing ':' after hex");
      std::string bytes(rest.substr(at + 1));
      while (!Trim(bytes).empty() && Trim(bytes).back() == '\\') {
        bytes = std::string(Trim(bytes));
        bytes.pop_back();
        if (index + 1 >= lines_.size()) {
          Fail(static_cast<int>(index) + 1, "hex data continues past the end of the file");
        }
        ++index;
        entry.raw.push_back(lines_[index]);
        bytes += Trim(lines_[index]);
      }
      entry.value.type = type;
      entry.value.data = HexBytes(bytes, lineNumber);
    } else {
      Fail(lineNumber, "unrecognised value data");
    }
    return entry;
  }

  std::vector<std::uint8_t> HexBytes(std::string_view text, int lineNumber) const {
    std::vector<std::uint8_t> out;
    text = Trim(text);
    if (text.empty()) return out;
    while (true) {
      const std::size_t comma = text.find(',');
      const auto byte = ParseHexNumber(Trim(text.substr(0, comma)), 2);
      if (!byte) Fail(lineNumber, "invalid hex byte");
      out.push_back(static_cast<std::uint8_t>(*byte));
      if (comma == std::string_view::npos) return out;
      text.remove_prefix(comma + 1);
    }
  }

  const std::string& file_;
  std::vector<std::string> lines_;
};

std::vector<std::string> SplitLines(std::string_view text, bool& crlf) {
  std::vector<std::string> lines;
  crlf = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      crlf = true;
    }
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

Document ParseDocument(const std::string& file, std::string_view bytes) {
  Document doc;
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) throw RegistryFileError(file, 0, "truncated UTF-16 text");
    doc.encoding = Encoding::Utf16;
    text = Utf16ToUtf8(LittleEndianUnits(bytes.substr(2)));
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    throw RegistryFileError(file, 0, "big-endian UTF-16 is not supported");
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.encoding = Encoding::Utf8WithMark;
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  std::vector<std::string> lines = SplitLines(text, doc.crlf);
  const bool blank = std::all_of(lines.begin(), lines.end(),
                                 [](const std::string& line) { return Trim(line).empty(); });
  if (blank) return doc;  // an empty file is an empty registry
  Parser(file, std::move(lines)).ParseInto(doc);
  return doc;
}

// The lines of a changed or new value.
std::vector<std::string> FormatValue(const std::string& name, const RegistryValue& value) {
  const std::string head = name.empty() ? "@=" : "\"" + Escape(name) + "\"=";
  if (value.type == kRegString) {
    const std::string text = value.Text();
    const bool plain = text.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos &&
                       RegistryValue::String(text) == value;
    if (plain) return {head + "\"" + Escape(text) + "\""};
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  if (value.type == kRegDWord && value.data.size() == 4) {
    std::string line = head + "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) line += kDigits[(value.Number() >> shift) & 0xF];
    return {line};
  }
  std::string line = head + "hex";
  if (value.type != kRegBinary) {
    std::string type;
    for (std::uint32_t t = value.type; t != 0 || type.empty(); t >>= 4) {
      type.insert(type.begin(), kDigits[t & 0xF]);
    }
    line += "(" + type + ")";
  }
  line += ":";
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    std::string piece{kDigits[value.data[i] >> 4], kDigits[value.data[i] & 0xF]};
    if (i + 1 < value.data.size()) piece += ',';
    if (line.size() + piece.size() > kHexLineWidth && line.back() == ',') {
      lines.push_back(line + "\\");
      line = "  ";
    }
    line += piece;
  }
  lines.push_back(line);
  return lines;
}

std::string Serialize(const Document& doc) {
  const std::string_view newline = doc.crlf ? "\r\n" : "\n";
  std::string text = doc.header;
  text += newline;
  const auto writeEntries = [&](const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
      for (const std::string& line :
           entry.raw.empty() ? FormatValue(entry.name, entry.value) : entry.raw) {
        text += line;
        text += newline;
      }
    }
  };
  writeEntries(doc.preamble);
  for (const Section& section : doc.sections) {
    text += section.rawHeader.empty() ? "[" + section.path + "]" : section.rawHeader;
    text += newline;
    writeEntries(section.entries);
  }
  switch (doc.encoding) {
    case Encoding::Utf8:
      return text;
    case Encoding::Utf8WithMark:
      return "\xEF\xBB\xBF" + text;
    case Encoding::Utf16: {
      std::vector<std::uint8_t> bytes{0xFF, 0xFE};
      AppendLittleEndian(bytes, Utf8ToUtf16(text));
      return std::string(bytes.begin(), bytes.end());
    }
  }
  return text;
}

bool KeyExistsIn(const Document& doc, std::string_view key) {
  if (IsRootKey(key)) return true;
  for (const Section& section : doc.sections) {
    if (IsAtOrBelow(section.path, key)) return true;
  }
  return false;
}

Entry* FindValue(Document& doc, std::string_view key, std::string_view name) {
  Entry* found = nullptr;  // a repeated value: the last one counts
  for (Section& section : doc.sections) {
    if (!SameName(section.path, key)) continue;
    for (Entry& entry : section.entries) {
      if (entry.isValue && SameName(entry.name, name)) found = &entry;
    }
  }
  return found;
}

Section& AddSection(Document& doc, std::string_view key) {
  // A blank line separates sections, as in an exported file.
  std::vector<Entry>& last = doc.sections.empty() ? doc.preamble : doc.sections.back().entries;
  if (last.empty() || !last.back().IsBlank()) last.push_back(Entry{{""}, false, {}, {}});
  doc.sections.push_back(Section{"", std::string(key), {Entry{{""}, false, {}, {}}}});
  return doc.sections.back();
}

void PutValue(Document& doc, std::string_view key, std::string_view name,
              const RegistryValue& value) {
  if (Entry* entry = FindValue(doc, key, name)) {
    if (entry->value == value) return;
    entry->value = value;
    entry->raw.clear();
    return;
  }
  Section* section = nullptr;
  for (Section& candidate : doc.sections) {
    if (SameName(candidate.path, key)) section = &candidate;
  }
  if (section == nullptr) section = &AddSection(doc, key);
  auto at = section->entries.end();
  while (at != section->entries.begin() && std::prev(at)->IsBlank()) --at;
  section->entries.insert(at, Entry{{}, true, std::string(name), value});
}

// ---- Files -------------------------------------------------------------------

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string ParentDirectory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void MakeDirectories(const std::string& directory) {
  for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    ::mkdir(directory.substr(0, slash).c_str(), 0700);  // an existing one is fine
    if (slash == std::string::npos) return;
  }
}

// Reads the whole file; nullopt when it does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw RegistryFileError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
  }
  std::string bytes;
  char buffer[8192];
  while (true) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw RegistryFileError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

Document LoadDocument(const std::string& path) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  return bytes ? ParseDocument(path, *bytes) : Document{};
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
  return true;
}

// Writes a temporary file next to `path`, flushes it and renames it over
// `path`, so that a reader sees either the old or the new file whole.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string temporary = path + ".XXXXXX";
  const int raw = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (raw < 0) return false;
  bool ok = false;
  {
    const Descriptor fd(raw);
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.get(), old.st_mode & 07777);
    ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  }
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return false;
  }
  const Descriptor directory(::open(ParentDirectory(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (directory.get() >= 0) ::fsync(directory.get());
  return true;
}

// Applies `change` to the file under the advisory lock; `change` returns
// false when it left the document as it was, and the file is then not
// rewritten.
bool ModifyFile(const std::string& path, const std::function<bool(Document&)>& change) {
  MakeDirectories(ParentDirectory(path));
  const std::string lockPath = path + ".lock";
  const Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return false;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  Document doc = LoadDocument(path);
  if (!change(doc)) return true;
  return ReplaceFile(path, Serialize(doc));
}

}  // namespace

// ---- RegistryValue -------------------------------------------------------------

RegistryValue RegistryValue::String(std::string_view utf8, std::uint32_t type) {
  RegistryValue value{type, {}};
  AppendLittleEndian(value.data, Utf8ToUtf16(utf8));
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

RegistryValue RegistryValue::DWord(std::uint32_t number) {
  RegistryValue value{kRegDWord, {}};
  for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
  return value;
}

RegistryValue RegistryValue::QWord(std::uint64_t number) {
  RegistryValue value{kRegQWord, {}};
  for (int i = 0; i < 8; ++i) value.data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
  return value;
}

RegistryValue RegistryValue::MultiString(const std::vector<std::string>& utf8) {
  RegistryValue value{kRegMultiString, {}};
  for (const std::string& text : utf8) {
    AppendLittleEndian(value.data, Utf8ToUtf16(text));
    value.data.insert(value.data.end(), {0, 0});
  }
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

RegistryValueKind RegistryValue::Kind() const {
  switch (type) {
    case kRegNone:
      return RegistryValueKind::None;
    case kRegString:
      return RegistryValueKind::String;
    case kRegExpandString:
      return RegistryValueKind::ExpandString;
    case kRegBinary:
      return RegistryValueKind::Binary;
    case kRegDWord:
      return RegistryValueKind::DWord;
    case kRegMultiString:
      return RegistryValueKind::MultiString;
    case kRegQWord:
      return RegistryValueKind::QWord;
    default:
      return RegistryValueKind::Other;
  }
}

std::string RegistryValue::Text() const {
  std::u16string units = LittleEndianUnits(data);
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  return Utf16ToUtf8(units);
}

std::vector<std::string> RegistryValue::Strings() const {
  std::vector<std::string> strings;
  const std::u16string units = LittleEndianUnits(data);
  std::size_t start = 0;
  while (start < units.size()) {
    std::size_t end = units.find(u'\0', start);
    if (end == std::u16string::npos) end = units.size();
    if (end == start) break;  // the empty string ends the list
    strings.push_back(Utf16ToUtf8(std::u16string_view(units).substr(start, end - start)));
    start = end + 1;
  }
  return strings;
}

std::uint64_t RegistryValue::Number() const {
  std::uint64_t number = 0;
  for (std::size_t i = 0; i < data.size() && i < 8; ++i) {
    number |= std::uint64_t{data[i]} << (8 * i);
  }
  return number;
}

// ---- RegistryFileError -----------------------------------------------------------

RegistryFileError::RegistryFileError(const std::string& file, int line, const std::string& problem)
    : std::runtime_error("Registry file '" + file + "'" +
                         (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " +
                         problem),
      file_(file),
      line_(line) {}

// ---- RegistryStore -----------------------------------------------------------------

RegistryStore::RegistryStore(std::string filePath) : path_(std::move(filePath)) {}

std::string RegistryStore::DefaultPath() {
  const auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  };
  if (std::string named = variable("HEARTHBOOK_REGISTRY"); !named.empty()) return named;
  std::string config = variable("XDG_CONFIG_HOME");
  if (config.empty() || config.front() != '/') {
    std::string home = variable("HOME");
    if (home.empty()) {
      if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) home = user->pw_dir;
    }
    config = home + "/.config";
  }
  return config + "/hearthbook/registry.reg";
}

bool RegistryStore::KeyExists(std::string_view keyPath) const {
  return ValidKeyPath(keyPath) && KeyExistsIn(LoadDocument(path_), keyPath);
}

bool RegistryStore::CreateKey(std::string_view keyPath) {
  if (!ValidKeyPath(keyPath)) return false;
  if (KeyExistsIn(LoadDocument(path_), keyPath)) return true;
  return ModifyFile(path_, [&](Document& doc) {
    if (KeyExistsIn(doc, keyPath)) return false;  // another program was quicker
    AddSection(doc, keyPath);
    return true;
  });
}

std::optional<RegistryValue> RegistryStore::ReadValue(std::string_view keyPath,
                                                      std::string_view name) const {
  if (!ValidKeyPath(keyPath)) return std::nullopt;
  Document doc = LoadDocument(path_);
  const Entry* entry = FindValue(doc, keyPath, name);
  if (entry == nullptr) return std::nullopt;
  return entry->value;
}

bool RegistryStore::SetValue(std::string_view keyPath, std::string_view name,
                             const RegistryValue& value) {
  if (!ValidKeyPath(keyPath)) return false;
  return ModifyFile(path_, [&](Document& doc) {
    const Entry* existing = FindValue(doc, keyPath, name);
    if (existing != nullptr && existing->value == value) return false;
    PutValue(doc, keyPath, name, value);
    return true;
  });
}

}  // namespace strata::platform
