// Options and key compression of an index definition.
#pragma once

#include <cstdint>

#include "components/flag_set.h"

namespace strata {

// Bit values as stored in a definition's option byte.
enum TIndexOption : std::uint8_t {
  ixPrimary = 1 << 0,
  ixUnique = 1 << 1,
  ixDescending = 1 << 2,
  ixCaseInsensitive = 1 << 3,
  ixExpression = 1 << 4,
  ixNonMaintained = 1 << 5,
};
using TIndexOptions = FlagSet<TIndexOption>;

enum TIndexCompression : std::uint8_t {
  icNone = 0,
  icDuplicateByte = 1,
  icTrailingByte = 2,
  icFull = 3,
};

}  // namespace strata
