// TProgressHandler: turns the table component's restructure progress (whole
// percent) into the position of the restructure bar it is given: the update
// run makes one for its bar and relays OnAlterProgress to it. Without a bar
// the progress goes nowhere.
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

class TProgressHandler {
 public:
  // The bar (not owned) must outlive the handler; null: no bar.
  explicit TProgressHandler(ProgressDisplay* restructureBar) : bar_(restructureBar) {}

  // `sender` is the component that reports; it is not used.
  void AlterProgress(const void* sender, std::uint16_t percentDone);

 private:
  ProgressDisplay* bar_;
};

}  // namespace strata
