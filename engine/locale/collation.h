// Collation and case mapping of Windows-1252 texts under a locale identifier
// (a table's LocaleID).
//
// Identifier 0, "ANSI Standard", compares bytes as unsigned values and maps
// case through the code page's own tables (kWindows1252Upper/Lower). Any
// other identifier is a Windows LCID served by an ICU collator for the
// locale ICU gives that LCID: strength PRIMARY (accents ignored), case level
// ON (letter case decides between otherwise equal texts; a < A) and
// punctuation not ignorable (co-op < coop). Ignoring case turns the case
// level off. Upper and lower casing map each character through ICU's full
// case mapping for the locale and keep a byte whose result is not a single
// Windows-1252 character (ß stays ß).
//
// Lengths. `length` 0 compares the whole views; a positive length compares
// the first `length` bytes of each view (all of a shorter view). For a
// non-zero identifier a text then ends at its first zero byte, if any. For
// identifier 0 with length 0 a text also ends at its first zero byte and a
// text that is a prefix of the other sorts first; with a positive length
// exactly `length` bytes are compared, a shorter view reading as padded with
// zero bytes.
//
// Collators are built once per identifier, on first use, in a process-wide
// cache that is never emptied, and are only read afterwards; ICU allows
// concurrent comparisons on a collator that is no longer modified. Every
// function here is safe to call from any thread. Comparing under an
// identifier that is not available raises STRATA_CANNOTLOADLDDRV
// without a table name: callers test LocaleAvailable first and raise with
// the table's name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace strata {

inline constexpr std::uint32_t kAnsiLocaleId = 0;

namespace detail {
struct CollationData;
}

// True for 0, and for an LCID that ICU maps to a locale (and back to the same
// LCID) whose collator has tailoring data of its own, or whose locale ICU
// holds data for and sorts by the root collation (Basque, Maori, Tatar, ...).
bool LocaleAvailable(std::uint32_t id);

// A handle to the collation of one identifier. Cheap to copy; a table or a
// cursor keeps one so that a comparison needs no lookup. Valid for the life
// of the process.
class Collation {
 public:
  Collation();  // identifier 0
  static Collation For(std::uint32_t id);

  std::uint32_t Id() const;
  bool Available() const;

  // -1, 0 or 1; see the length rules above.
  int Compare(std::string_view a, std::string_view b, bool ignoreCase,
              std::size_t length = 0) const;
  int CompareChar(char c1, char c2) const;  // letter case significant

  void Upper(std::span<char> text) const;  // in place, every byte of the span
  void Lower(std::span<char> text) const;

  // UTF-16 texts (wide string values). A character with a Windows-1252
  // byte is cased as that byte is; any other stays as it is. Comparing
  // follows the rules above for whole texts, in code unit order for
  // identifier 0.
  void UpperWide(std::span<char16_t> text) const;
  void LowerWide(std::span<char16_t> text) const;
  int CompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) const;

  // The byte codes in collation order: 0 to 30 in place, 31 to 255 ordered
  // by CompareChar (equal characters in code order). Computed on first use;
  // the identity for identifier 0 and for an identifier that is not available.
  const std::array<unsigned char, 256>& CharacterOrder() const;

 private:
  explicit Collation(const detail::CollationData* data) : data_(data) {}
  const detail::CollationData* data_;
};

int CollateCompare(std::uint32_t id, std::string_view a, std::string_view b, bool ignoreCase,
                   std::size_t length = 0);
int CollateCompareChar(std::uint32_t id, char c1, char c2);
void CollateUpper(std::uint32_t id, std::span<char> text);
void CollateLower(std::uint32_t id, std::span<char> text);

}  // namespace strata
