// ModesScope: gives a cursor other modes for the length of a scope and puts
// the earlier ones back when it ends, also when an error unwinds it.
// SequentialScan also makes the table's BLOB file read ahead as far as half
// its cache, the values of the records that follow being stored after one
// another.
#pragma once

#include <algorithm>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/blob_file.h"

namespace strata {

class ModesScope {
 public:
  // cursor: the cursor whose table's BLOB file reads ahead (none: no BLOB
  // file does).
  ModesScope(CursorModes& modes, CursorModes during, TDataCursor* cursor = nullptr)
      : modes_(modes), saved_(modes) {
    modes_ = during;
    if (during.SequentialScan && cursor != nullptr && cursor->Table() != nullptr) {
      cursor_ = cursor;
      blobs_ = cursor->Table()->BlobFile();
    }
    if (blobs_ != nullptr) blobs_->SetScanAhead(std::max(1, blobs_->CacheCapacity() / 2));
  }
  ~ModesScope() {
    modes_ = saved_;
    // The table may have been closed (and its files freed) meanwhile.
    if (blobs_ != nullptr && cursor_->Table() != nullptr && cursor_->Table()->BlobFile() == blobs_) {
      blobs_->SetScanAhead(0);
    }
  }
  ModesScope(const ModesScope&) = delete;
  ModesScope& operator=(const ModesScope&) = delete;

 private:
  CursorModes& modes_;
  CursorModes saved_;
  TDataCursor* cursor_ = nullptr;
  TBlobFile* blobs_ = nullptr;
};

}  // namespace strata
