// Test helper: the message of the EDatabaseError a call raises.
#pragma once

#include <string>

#include "engine/errors/engine_error.h"

namespace strata {

// Runs fn and returns the message of the EDatabaseError it raises, or ""
// when it raises none.
template <typename Fn>
std::string DatabaseErrorOf(Fn fn) {
  try {
    fn();
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

}  // namespace strata
