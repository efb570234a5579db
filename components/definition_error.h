// Failures of the definition collections, raised as the framework's
// database error with the fixed message texts, and the name comparison
// the collections use (ASCII letters without regard to case).
#pragma once

#include <string>
#include <string_view>

#include "engine/errors/engine_error.h"

namespace strata {

[[noreturn]] inline void RaiseDatabaseError(std::string message) {
  throw EDatabaseError(std::move(message));
}

// "<prefix><name><suffix>", the shape of every message that names something.
[[noreturn]] inline void RaiseNamedDatabaseError(std::string_view prefix, std::string_view name,
                                                 std::string_view suffix) {
  std::string message;
  message.reserve(prefix.size() + name.size() + suffix.size());
  message.append(prefix).append(name).append(suffix);
  throw EDatabaseError(std::move(message));
}

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

constexpr bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace strata
