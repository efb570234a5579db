// WriteLocks: releases what a shared insert, delete or index recovery locked
// (the table's write lock and one record lock), also on failure. A release
// that fails is dropped: the operation's own outcome is what the caller sees.
#pragma once

#include <cstdint>

#include "engine/core/objects/data_table.h"
#include "engine/errors/set_aside.h"

namespace strata {

class WriteLocks {
 public:
  explicit WriteLocks(TDataTable& table) : table_(table) {}
  ~WriteLocks() {
    if (record_ != 0) {
      SetAsideError("a release at the end of a write; the write's outcome is what counts",
                    [&] { table_.UnlockRecord(record_); });
    }
    if (tableLocked_) {
      SetAsideError("a release at the end of a write; the write's outcome is what counts",
                    [&] { table_.WriteUnlockTable(); });
    }
  }
  WriteLocks(const WriteLocks&) = delete;
  WriteLocks& operator=(const WriteLocks&) = delete;

  // Whether LockTable was called: the table is shared with other users.
  bool TableLocked() const { return tableLocked_; }
  // True when another user changed the table.
  bool LockTable() {
    tableLocked_ = true;
    return table_.WriteLockTable();
  }
  void LockRecord(std::int32_t record) {
    table_.LockRecord(record);
    record_ = record;
  }

 private:
  TDataTable& table_;
  bool tableLocked_ = false;
  std::int32_t record_ = 0;
};

}  // namespace strata
