// The full-text parameters a table gets when it is created or restructured:
// the current ones (the engine defaults for a new table) with the caller's
// replacements. A stop word list given replaces the list (an empty list means
// no stop words); a space or include character set replaces its set unless
// it is empty. The stop words are kept sorted in the table's collation,
// duplicates (without regard to letter case) dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/full_text_params.h"

namespace strata {

FullTextParams ReplaceFullTextParams(const FullTextParams& current, std::uint32_t localeId,
                                     const std::optional<std::vector<std::string>>& stopWords,
                                     const CharacterSet& spaceChars,
                                     const CharacterSet& includeChars);

inline FullTextParams NewTableFullTextParams(
    std::uint32_t localeId, const std::optional<std::vector<std::string>>& stopWords,
    const CharacterSet& spaceChars, const CharacterSet& includeChars) {
  return ReplaceFullTextParams(FullTextParams::Defaults(), localeId, stopWords, spaceChars,
                               includeChars);
}

}  // namespace strata
