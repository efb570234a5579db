// BufferedFileTable: what a buffered file needs to know about the table that
// owns it. The table object implements it; tests use small fakes.
#pragma once

#include <string>

#include "engine/files/engine_limits.h"

namespace strata {

class TDataCursor;  // the cursor on whose behalf a unit is requested

class BufferedFileTable {
 public:
  virtual ~BufferedFileTable() = default;

  // Inside a transaction: dirty buffers are not written on eviction.
  virtual bool InTransaction() const = 0;
  // Whether any file of the table was written since the table opened, and
  // the mark that every write-back sets.
  virtual bool ModifiedSinceOpen() const = 0;
  virtual void MarkModified() = 0;
  // The session flushes the OS buffers after writing.
  virtual bool ForceBufferFlush() const = 0;
  // The session reads under the table read lock already; a cache miss then
  // takes no lock of its own.
  virtual bool StrictChangeDetection() const = 0;
  // Takes the table read lock for a cache miss. False when that showed the
  // table was changed by another user: its caches were dropped and the
  // caller must restart.
  virtual bool ReadLockForCacheMiss(TDataCursor* cursor) = 0;
  // The names that the table's errors carry.
  virtual std::string ErrorTableName() const = 0;
  virtual std::string ErrorDatabaseName() const = 0;
  virtual const EngineLimits& Limits() const = 0;
};

}  // namespace strata
