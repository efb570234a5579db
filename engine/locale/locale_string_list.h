// A sorted list of Windows-1252 texts in the collation of one locale
// identifier, compared without regard to letter case over whole texts. The
// engine keeps the stop words of a full-text index and the words of a record
// in such lists.
//
// Find is a binary search. On equality it stops at the entry it hit, except
// when duplicates are accepted: it then goes on to the left, so the position
// is that of the first equal entry. When nothing is equal the position is
// where the text would be inserted. FindPrefix compares only the first
// `length` characters of both texts; FindWildcard treats an entry ending in
// "*" as matching every text that begins with the entry's characters before
// the "*" (a lone "*" matches every text); a matching wildcard entry is
// found even when other entries sort between it and the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/locale/collation.h"

namespace strata {

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// Adding a text that is already present to a list that refuses duplicates.
class EStringListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StringListFind {
  bool Found = false;
  std::size_t Index = 0;
};

class TLocaleStringList {
 public:
  explicit TLocaleStringList(std::uint32_t localeId = kAnsiLocaleId,
                             TDuplicates duplicates = TDuplicates::dupIgnore);

  std::uint32_t LocaleId() const { return collation_.Id(); }
  TDuplicates Duplicates() const { return duplicates_; }

  // Inserts `text` at its sorted place and returns that position. An equal
  // text already present: with dupIgnore nothing is added and its position
  // is returned; with dupError EStringListError is thrown; with dupAccept
  // the new text goes before the equal ones.
  std::size_t Add(std::string text);

  StringListFind Find(std::string_view text) const;
  StringListFind FindPrefix(std::string_view text, std::size_t length) const;
  StringListFind FindWildcard(std::string_view text) const;

  std::size_t Count() const { return strings_.size(); }
  const std::string& operator[](std::size_t index) const { return strings_[index]; }
  const std::vector<std::string>& Strings() const { return strings_; }
  void Delete(std::size_t index);
  void Clear();

 private:
  template <typename Compare>
  StringListFind Search(Compare compare) const;

  Collation collation_;
  TDuplicates duplicates_;
  std::vector<std::string> strings_;
  std::size_t wildcards_ = 0;  // entries ending in "*"
};

}  // namespace strata
