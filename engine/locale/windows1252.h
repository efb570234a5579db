// Windows-1252 text. Every table text in the engine is a string of
// Windows-1252 bytes held in std::string / std::string_view. This file maps
// those bytes to Unicode and back, and converts whole texts to and from UTF-8
// for display and to and from UTF-16 for wide string values.
//
// The five bytes the code page leaves undefined (81, 8D, 8F, 90, 9D) map to
// the control characters of the same value, so every byte survives a round
// trip through UTF-16 or UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace strata {

// Byte -> UTF-16 code unit (every Windows-1252 character is one code unit).
extern const std::array<char16_t, 256> kWindows1252ToUtf16;

inline char16_t Windows1252ToUnicode(char byte) {
  return kWindows1252ToUtf16[static_cast<unsigned char>(byte)];
}

// The byte of a Unicode code point, or nullopt when the code page has none.
std::optional<char> UnicodeToWindows1252(char32_t codePoint);

// Windows-1252 bytes -> UTF-8.
std::string Windows1252ToUtf8(std::string_view text);
// Appends the UTF-8 form of a code point (up to U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 -> Windows-1252 bytes. Characters without a byte, and malformed
// UTF-8 sequences, each become one `replacement` byte.
std::string Utf8ToWindows1252(std::string_view text, char replacement = '?');

// Windows-1252 bytes -> UTF-16, one code unit per byte.
std::u16string Windows1252ToUtf16(std::string_view text);

// UTF-16 -> Windows-1252 bytes. Characters without a byte (a surrogate pair
// counts as one character, an unpaired surrogate as one too) each become one
// `replacement` byte; `lossless`, when given, tells whether none did.
std::string Utf16ToWindows1252(std::u16string_view text, char replacement = '?',
                               bool* lossless = nullptr);

// The case mapping of the code page itself, used by the "ANSI Standard"
// collation: a-z, the accented letters E0-FE (but not F7) and the four
// letters of the 80-9F range (š œ ž ÿ) pair with their capitals; ß, µ and ƒ
// have no single-byte capital and stay as they are. Sixty bytes change
// each way.
extern const std::array<unsigned char, 256> kWindows1252Upper;
extern const std::array<unsigned char, 256> kWindows1252Lower;

}  // namespace strata
