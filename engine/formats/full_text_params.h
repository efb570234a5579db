// The parameters of a table's full-text index: the stop words (words never
// indexed) and two character sets, SpaceChars (characters that end a word)
// and IncludeChars (characters kept in a word). A set is 32 bytes: bit n of
// byte n div 8, least significant bit first, stands for character n.
//
// They are stored as a stream in a chain of parameter pages (type 4) that
// starts at the auxiliary page of the full-text slot: int32 count of stop
// words; each stop word as int32 length and its characters; int32 32 and
// SpaceChars; int32 32 and IncludeChars. No value is split across pages: a
// value that does not fit into the rest of a page starts the next page of
// the chain. Without a chain the defaults apply.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace strata {

class TIndexFile;
class TDataCursor;

using CharacterSet = std::array<std::uint8_t, 32>;

struct FullTextParams {
  std::vector<std::string> StopWords;
  CharacterSet SpaceChars{};
  CharacterSet IncludeChars{};

  // The engine's defaults: 22 common English words, the control characters,
  // blank and punctuation as spaces, letters, digits, "_" and 128 to 254 as
  // word characters.
  static FullTextParams Defaults();

  bool operator==(const FullTextParams&) const = default;
};

inline bool InCharacterSet(const CharacterSet& set, unsigned char c) {
  return (set[c / 8] >> (c % 8) & 1) != 0;
}
inline void AddToCharacterSet(CharacterSet& set, unsigned char c) {
  set[c / 8] = static_cast<std::uint8_t>(set[c / 8] | (1u << (c % 8)));
}

// Reads the chain of the full-text slot; the defaults when it has none.
// A chain that ends early, leaves the file, meets a page of another type or
// holds a length that cannot be raises STRATA_INDEXCORRUPT.
FullTextParams ReadFullTextParams(TIndexFile& file, TDataCursor* cursor = nullptr);

// Writes the parameters into the chain (reusing its pages, appending pages
// as needed, freeing pages left over) and makes it the full-text slot's
// auxiliary page. Stop words longer than a page's payload are cut to it.
void WriteFullTextParams(TIndexFile& file, const FullTextParams& params,
                         TDataCursor* cursor = nullptr);

}  // namespace strata
