// Splitting texts into the words of the full-text index.
//
// A character in SpaceChars ends the current word; any other character in
// IncludeChars is appended while the word is shorter than 61 characters (the
// rest of a longer word is dropped); any other character is skipped without
// ending the word. A phrase searched for is split the same way except that
// "*" always stays in its word as a wildcard.
//
// Before splitting, the whole text is offered to the text filter, which may
// replace it; each word is then offered to the token filter, which may
// replace it or leave it out. An exception from either keeps the text or the
// word as it was. The words are collected once each and stop words are left
// out, both compared with the table's collation without regard to letter
// case; the result is sorted in that collation.
//
// A FullTextWordSplitter is built once per table (its stop word list is
// sorted then) and is only read afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/full_text_params.h"
#include "engine/locale/locale_string_list.h"

namespace strata {

// What a text being indexed belongs to, for the filters.
struct TextIndexContext {
  std::string_view TableName;
  std::string_view FieldName;
};

// May replace the text.
using TextIndexFilter = std::function<void(const TextIndexContext&, std::string& text)>;
// May replace the word; false leaves it out.
using TextIndexTokenFilter = std::function<bool(const TextIndexContext&, std::string& word)>;

struct TextIndexHooks {
  TextIndexFilter OnTextIndexFilter;
  TextIndexTokenFilter OnTextIndexTokenFilter;
};

class FullTextWordSplitter {
 public:
  FullTextWordSplitter(const FullTextParams& params, std::uint32_t localeId);

  // The distinct words of a text to index, stop words left out.
  TLocaleStringList Words(std::string_view text, const TextIndexHooks& hooks = {},
                          const TextIndexContext& context = {}) const;
  // The same for a phrase searched for: "*" is kept inside its word.
  TLocaleStringList PhraseWords(std::string_view phrase, const TextIndexHooks& hooks = {},
                                const TextIndexContext& context = {}) const;

  bool IsStopWord(std::string_view word) const { return stopWords_.Find(word).Found; }
  std::uint32_t LocaleId() const { return stopWords_.LocaleId(); }

 private:
  TLocaleStringList Split(std::string_view text, bool phrase, const TextIndexHooks& hooks,
                          const TextIndexContext& context) const;

  TLocaleStringList stopWords_;
  CharacterSet spaceChars_;
  CharacterSet includeChars_;
};

// The full-text keys to change when a record's text changes: the words of
// the old list missing from the new one, and the words of the new list
// missing from the old one, each in list order. Both lists are in the same
// collation.
struct WordListChanges {
  std::vector<std::string> Deleted;
  std::vector<std::string> Inserted;
};

WordListChanges CompareWordLists(const TLocaleStringList& oldWords,
                                 const TLocaleStringList& newWords);

}  // namespace strata
