// ModesScope: gives a cursor other modes for the length of a scope and puts
// the earlier ones back when it ends, also when an error unwinds it.
#pragma once

#include "engine/core/data_cursor.h"

namespace strata {

class ModesScope {
 public:
  ModesScope(CursorModes& modes, CursorModes during) : modes_(modes), saved_(modes) {
    modes_ = during;
  }
  ~ModesScope() { modes_ = saved_; }
  ModesScope(const ModesScope&) = delete;
  ModesScope& operator=(const ModesScope&) = delete;

 private:
  CursorModes& modes_;
  CursorModes saved_;
};

}  // namespace strata
