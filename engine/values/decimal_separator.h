// The system's decimal separator as the value conversions see it. Every use
// in this library goes through SystemDecimalSeparator(), which answers the
// process's numeric locale unless a ScopedDecimalSeparator is alive (tests
// use it to run under a "," separator without such a locale installed).
#pragma once

namespace strata {

char SystemDecimalSeparator();

// Overrides the separator for its lifetime and restores the previous state
// on destruction. Meant for tests; not for concurrent use with other
// overrides.
class ScopedDecimalSeparator {
 public:
  explicit ScopedDecimalSeparator(char separator);
  ~ScopedDecimalSeparator();
  ScopedDecimalSeparator(const ScopedDecimalSeparator&) = delete;
  ScopedDecimalSeparator& operator=(const ScopedDecimalSeparator&) = delete;

 private:
  char previous_;
};

}  // namespace strata
