#include "engine/core/schema/table_full_text_params.h"

#include <algorithm>

#include "engine/locale/locale_string_list.h"

namespace strata {

namespace {

bool IsEmptySet(const CharacterSet& set) {
  return std::all_of(set.begin(), set.end(), [](std::uint8_t byte) { return byte == 0; });
}

}  // namespace

FullTextParams ReplaceFullTextParams(const FullTextParams& current, std::uint32_t localeId,
                                     const std::optional<std::vector<std::string>>& stopWords,
                                     const CharacterSet& spaceChars,
                                     const CharacterSet& includeChars) {
  FullTextParams params;
  TLocaleStringList sorted(localeId, TDuplicates::dupIgnore);
  for (const std::string& word : stopWords ? *stopWords : current.StopWords) sorted.Add(word);
  params.StopWords = sorted.Strings();
  params.SpaceChars = IsEmptySet(spaceChars) ? current.SpaceChars : spaceChars;
  params.IncludeChars = IsEmptySet(includeChars) ? current.IncludeChars : includeChars;
  return params;
}

}  // namespace strata
