#include "engine/core/schema/full_text_words.h"

#include <exception>
#include <utility>

#include "engine/formats/index_key.h"

namespace strata {

FullTextWordSplitter::FullTextWordSplitter(const FullTextParams& params, std::uint32_t localeId)
    : stopWords_(localeId, TDuplicates::dupIgnore),
      spaceChars_(params.SpaceChars),
      includeChars_(params.IncludeChars) {
  for (const std::string& word : params.StopWords) stopWords_.Add(word);
}

TLocaleStringList FullTextWordSplitter::Words(std::string_view text, const TextIndexHooks& hooks,
                                              const TextIndexContext& context) const {
  return Split(text, false, hooks, context);
}

TLocaleStringList FullTextWordSplitter::PhraseWords(std::string_view phrase,
                                                    const TextIndexHooks& hooks,
                                                    const TextIndexContext& context) const {
  return Split(phrase, true, hooks, context);
}

TLocaleStringList FullTextWordSplitter::Split(std::string_view text, bool phrase,
                                              const TextIndexHooks& hooks,
                                              const TextIndexContext& context) const {
  std::string source(text);
  if (hooks.OnTextIndexFilter) {
    std::string replaced = source;
    try {
      hooks.OnTextIndexFilter(context, replaced);
      source = std::move(replaced);
    } catch (const std::exception&) {
      // A failing filter leaves the text as it was.
    }
  }

  TLocaleStringList words(stopWords_.LocaleId(), TDuplicates::dupIgnore);
  std::string word;
  const auto finishWord = [&] {
    if (word.empty()) return;
    std::string taken = std::move(word);
    word.clear();
    if (hooks.OnTextIndexTokenFilter) {
      std::string replaced = taken;
      try {
        if (!hooks.OnTextIndexTokenFilter(context, replaced)) return;
        taken = std::move(replaced);
      } catch (const std::exception&) {
        // A failing filter keeps the word.
      }
      // A key holds no more of a word than this.
      if (!phrase && taken.size() > kFullTextWordLength) taken.resize(kFullTextWordLength);
    }
    if (taken.empty() || IsStopWord(taken)) return;
    words.Add(std::move(taken));
  };

  for (const char c : source) {
    const auto code = static_cast<unsigned char>(c);
    if (phrase && c == '*') {
      word += c;
    } else if (InCharacterSet(spaceChars_, code)) {
      finishWord();
    } else if (InCharacterSet(includeChars_, code) && word.size() < kFullTextWordLength) {
      word += c;
    }
  }
  finishWord();
  return words;
}

WordListChanges CompareWordLists(const TLocaleStringList& oldWords,
                                 const TLocaleStringList& newWords) {
  WordListChanges changes;
  for (const std::string& word : oldWords.Strings()) {
    if (!newWords.Find(word).Found) changes.Deleted.push_back(word);
  }
  for (const std::string& word : newWords.Strings()) {
    if (!oldWords.Find(word).Found) changes.Inserted.push_back(word);
  }
  return changes;
}

}  // namespace strata
