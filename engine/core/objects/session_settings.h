// SessionSettings: what a session's tables and cursors follow — progress
// steps, forced OS flushing, strict change detection, how often a refused
// record, table or semaphore lock is retried and how long to wait between
// tries, and the lock protocol.
#pragma once

#include <cstdint>

namespace strata {

enum TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

struct SessionSettings {
  std::int32_t ProgressSteps = 20;
  bool ForceBufferFlush = false;
  bool StrictChangeDetection = false;
  std::int32_t LockRetryCount = 15;
  std::uint32_t LockWaitTime = 100;  // milliseconds
  TLockProtocol LockProtocol = lpPessimistic;
};

}  // namespace strata
