// The increments of the counters kept in table file headers.
#pragma once

#include <cstdint>
#include <limits>

namespace strata {

// RecordIDs, auto-increment values and BLOB revisions: 2147483647 is
// followed by 1.
inline std::int32_t NextCounterValue(std::int32_t value) {
  return value == std::numeric_limits<std::int32_t>::max() ? 1 : value + 1;
}

// ChangeCount: other users only compare it for inequality, so it simply
// wraps around the 32-bit range.
inline std::int32_t NextChangeCount(std::int32_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) + 1u);
}

}  // namespace strata
