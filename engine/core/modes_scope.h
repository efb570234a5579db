// ModesScope: gives a cursor other modes for the length of a scope and puts
// the earlier ones back when it ends, also when an error unwinds it.
// SequentialScan also makes the table's BLOB file read ahead as far as half
// its cache, the values of the records that follow being stored after one
// another.
#pragma once

#include <algorithm>

#include "engine/core/data_cursor.h"
#include "engine/formats/blob_file.h"

namespace strata {

class ModesScope {
 public:
  ModesScope(CursorModes& modes, CursorModes during, TBlobFile* blobs = nullptr)
      : modes_(modes), saved_(modes), blobs_(during.SequentialScan ? blobs : nullptr) {
    modes_ = during;
    if (blobs_ != nullptr) blobs_->SetScanAhead(std::max(1, blobs_->CacheCapacity() / 2));
  }
  ~ModesScope() {
    modes_ = saved_;
    if (blobs_ != nullptr) blobs_->SetScanAhead(0);
  }
  ModesScope(const ModesScope&) = delete;
  ModesScope& operator=(const ModesScope&) = delete;

 private:
  CursorModes& modes_;
  CursorModes saved_;
  TBlobFile* blobs_;
};

}  // namespace strata
