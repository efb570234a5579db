#include "engine/locale/windows1252.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace strata {
namespace {

// The characters of bytes 80-9F; the undefined bytes map to themselves.
constexpr char16_t kHighBlock[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr std::array<char16_t, 256> MakeToUtf16() {
  std::array<char16_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    table[b] = (b >= 0x80 && b < 0xA0) ? kHighBlock[b - 0x80] : static_cast<char16_t>(b);
  }
  return table;
}

// (code unit, byte) for the 80-9F block, sorted by code unit.
constexpr std::array<std::pair<char16_t, unsigned char>, 32> MakeHighReverse() {
  std::array<std::pair<char16_t, unsigned char>, 32> table{};
  for (int i = 0; i < 32; ++i) {
    table[i] = {kHighBlock[i], static_cast<unsigned char>(0x80 + i)};
  }
  std::sort(table.begin(), table.end());
  return table;
}

constexpr bool HasUpper(int b) {
  return (b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7) || b == 0x9A ||
         b == 0x9C || b == 0x9E || b == 0xFF;
}

constexpr int UpperOf(int b) {
  if (b == 0xFF) return 0x9F;
  if (b >= 0x9A && b <= 0x9E) return b - 0x10;
  return b - 0x20;
}

constexpr std::array<unsigned char, 256> MakeUpper() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(HasUpper(b) ? UpperOf(b) : b);
  return table;
}

constexpr std::array<unsigned char, 256> MakeLower() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
  for (int b = 0; b < 256; ++b) {
    if (HasUpper(b)) table[UpperOf(b)] = static_cast<unsigned char>(b);
  }
  return table;
}

constexpr auto kHighReverse = MakeHighReverse();


// Decodes one UTF-8 sequence at text[pos], advancing pos. Returns nullopt for
// a malformed sequence (overlong forms, surrogates and values above U+10FFFF
// included); pos then moves past the lead byte and its valid continuations.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra;
  char32_t c;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, c = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  for (int i = 0; i < extra; ++i) {
    if (pos >= text.size()) return std::nullopt;
    const auto next = static_cast<unsigned char>(text[pos]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
    ++pos;
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return c;
}

}  // namespace

const std::array<char16_t, 256> kWindows1252ToUtf16 = MakeToUtf16();
const std::array<unsigned char, 256> kWindows1252Upper = MakeUpper();
const std::array<unsigned char, 256> kWindows1252Lower = MakeLower();

std::optional<char> UnicodeToWindows1252(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<char>(codePoint);
  }
  if (codePoint > 0xFFFF) return std::nullopt;
  const auto unit = static_cast<char16_t>(codePoint);
  const auto it = std::lower_bound(kHighReverse.begin(), kHighReverse.end(), unit,
                                   [](const auto& entry, char16_t u) { return entry.first < u; });
  if (it == kHighReverse.end() || it->first != unit) return std::nullopt;
  return static_cast<char>(it->second);
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char byte : text) AppendUtf8(out, Windows1252ToUnicode(byte));
  return out;
}

std::string Utf8ToWindows1252(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto c = DecodeUtf8(text, pos);
    const auto byte = c ? UnicodeToWindows1252(*c) : std::nullopt;
    out += byte ? *byte : replacement;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string Windows1252ToUtf16(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  std::transform(text.begin(), text.end(), out.begin(), Windows1252ToUnicode);
  return out;
}

std::string Utf16ToWindows1252(std::u16string_view text, char replacement, bool* lossless) {
  std::string out;
  out.reserve(text.size());
  bool exact = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    const auto byte = pair ? std::nullopt : UnicodeToWindows1252(unit);
    if (pair) ++i;
    exact = exact && byte.has_value();
    out += byte ? *byte : replacement;
  }
  if (lossless != nullptr) *lossless = exact;
  return out;
}

}  // namespace strata
