// Lock timings. TableLockSettings are the engine's settings for table read,
// write and transaction locks (how often a refused lock is retried and how
// long to pause between tries). LockFileTiming holds the fixed timings of
// the lock file's own locks and of opening it; only tests change them.
#pragma once

#include <cstdint>

namespace strata {

struct TableLockSettings {
  std::uint32_t TableReadLockWaitTime = 3;  // milliseconds
  std::int32_t TableReadLockRetryCount = 32768;
  std::uint32_t TableWriteLockWaitTime = 3;
  std::int32_t TableWriteLockRetryCount = 32768;
  std::uint32_t TableTransLockWaitTime = 3;
  std::int32_t TableTransLockRetryCount = 32768;
};

struct LockFileTiming {
  std::int32_t RetryCount = 32768;  // lock-file read and write locks
  std::uint32_t WaitTime = 3;       // milliseconds
  std::int32_t OpenAttempts = 11;   // opening an existing lock file
  std::uint32_t OpenWaitTime = 100;
};

}  // namespace strata
