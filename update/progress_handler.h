// TProgressHandler: turns the table component's restructure progress (whole
// percent) into the position of the restructure bar of the current run.
//
// AlterProgress sets the position to Maximum * (PercentDone / 100), worked
// out in extended precision and passed through its general-format text
// (15 significant digits) and back through integer parsing. For a bar of
// range 0..100 that is PercentDone itself; a product with a fraction (a bar
// of another maximum) fails the parse with EConvertError
// "'<text>' is not a valid integer value", which the caller sees as the
// failure of the restructure that reported the progress.
#pragma once

#include <cstdint>

#include "update/progress.h"

namespace strata {

// The restructure bar of the run in progress (not owned), set at the start
// of every run and never cleared; null when the run was given no bar.
extern ProgressDisplay* RestructureBar;

class TProgressHandler {
 public:
  // `sender` is the component that reports; it is not used.
  void AlterProgress(const void* sender, std::uint16_t percentDone);
};

}  // namespace strata
