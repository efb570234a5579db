// Setting aside the error of a step that must not reach the caller: cleanup
// while another error unwinds, a best-effort close in a destructor. Each
// call states why its error may go unreported.
//
// KeepFirstError serves a sequence of steps that all run although one fails:
// the first error is kept for the caller to rethrow, later ones are set aside.
#pragma once

#include <exception>
#include <string_view>
#include <utility>

namespace strata {

// Runs step; any exception it throws is set aside. `why` says at the call
// site why that error may go unreported; it is not used otherwise.
template <typename Step>
void SetAsideError([[maybe_unused]] std::string_view why, Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
  } catch (...) {
    // The one place an error is dropped on purpose; the caller said why.
  }
}

// Runs step; an exception it throws is stored in `first` unless that already
// holds an earlier one, which wins. The caller rethrows `first` when done.
template <typename Step>
void KeepFirstError(std::exception_ptr& first, Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
  } catch (...) {
    if (!first) first = std::current_exception();
  }
}

}  // namespace strata
