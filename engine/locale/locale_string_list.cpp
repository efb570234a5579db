#include "engine/locale/locale_string_list.h"

#include <iterator>
#include <utility>

namespace strata {
namespace {

bool IsWildcard(std::string_view entry) { return !entry.empty() && entry.back() == '*'; }

}  // namespace

TLocaleStringList::TLocaleStringList(std::uint32_t localeId, TDuplicates duplicates)
    : collation_(Collation::For(localeId)), duplicates_(duplicates) {}

// `compare(entry)` orders an entry against the text searched for.
template <typename Compare>
StringListFind TLocaleStringList::Search(Compare compare) const {
  StringListFind result;
  std::size_t low = 0;
  std::size_t high = strings_.size();  // one past the last candidate
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const int order = compare(strings_[middle]);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
      if (order == 0) {
        result.Found = true;
        if (duplicates_ != TDuplicates::dupAccept) low = middle;
      }
    }
  }
  result.Index = low;
  return result;
}

StringListFind TLocaleStringList::Find(std::string_view text) const {
  return Search([&](const std::string& entry) { return collation_.Compare(entry, text, true); });
}

StringListFind TLocaleStringList::FindPrefix(std::string_view text, std::size_t length) const {
  if (length == 0) return Search([](const std::string&) { return 0; });
  return Search(
      [&](const std::string& entry) { return collation_.Compare(entry, text, true, length); });
}

StringListFind TLocaleStringList::FindWildcard(std::string_view text) const {
  const auto result = Search([&](const std::string& entry) {
    if (!IsWildcard(entry)) return collation_.Compare(entry, text, true);
    const std::size_t stem = entry.size() - 1;
    return stem == 0 ? 0 : collation_.Compare(entry, text, true, stem);
  });
  if (result.Found || wildcards_ == 0) return result;
  // The search above can step past a matching "stem*" entry when other
  // entries sort between it and the text (with "ther*" and "therapy" listed,
  // "there" lands right of "therapy"). Look each prefix of the text up as a
  // wildcard entry of its own.
  std::string probe;
  for (std::size_t k = 0; k <= text.size(); ++k) {
    probe.assign(text.substr(0, k));
    probe += '*';
    const auto hit = Find(probe);
    if (hit.Found) return hit;
  }
  return result;
}

std::size_t TLocaleStringList::Add(std::string text) {
  const auto found = Find(text);
  if (found.Found) {
    if (duplicates_ == TDuplicates::dupIgnore) return found.Index;
    if (duplicates_ == TDuplicates::dupError) {
      throw EStringListError("String list does not allow duplicates");
    }
  }
  if (IsWildcard(text)) ++wildcards_;
  strings_.insert(strings_.begin() + static_cast<std::ptrdiff_t>(found.Index), std::move(text));
  return found.Index;
}

void TLocaleStringList::Delete(std::size_t index) {
  if (IsWildcard(strings_[index])) --wildcards_;
  strings_.erase(strings_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TLocaleStringList::Clear() {
  strings_.clear();
  wildcards_ = 0;
}

}  // namespace strata
