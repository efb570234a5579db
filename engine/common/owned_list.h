// Lists that own their objects (std::vector<std::unique_ptr<T>>): whether an
// object is in one, and taking it out. TakeOwned hands the object to the
// caller instead of destroying it in place, so that its destructor runs where
// the caller chooses: after a lock on the list is released, and never while
// the list is half changed.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

namespace strata {

template <typename T>
bool HoldsOwned(const std::vector<std::unique_ptr<T>>& list, const T& item) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::unique_ptr<T>& held) { return held.get() == &item; });
}

// The object, now owned by the caller; null when the list does not hold it.
template <typename T>
std::unique_ptr<T> TakeOwned(std::vector<std::unique_ptr<T>>& list, const T& item) {
  const auto it = std::find_if(list.begin(), list.end(),
                               [&](const std::unique_ptr<T>& held) { return held.get() == &item; });
  if (it == list.end()) return nullptr;
  std::unique_ptr<T> taken = std::move(*it);
  list.erase(it);
  return taken;
}

}  // namespace strata
