// What opening a table for a repair found of its index file: present, or
// missing or unreadable and therefore replaced by a fresh one (see
// TDataTable). The lost file held every index definition of the table.
//
// LosesIndexFile tells which errors of opening the index file make it
// lost: STRATA_OSENOENT (missing), STRATA_READERR (cut short), and a header
// this engine does not read at all (STRATA_OLDVERSION, STRATA_BADSIGNATURE:
// a zeroed version or signature, or a file of another engine). Damage
// inside a header it reads is the repair's to fix in place.
#pragma once

#include "engine/errors/error_codes.h"

namespace strata {

enum class LostIndexFile { None, Missing, Unreadable };

constexpr bool LosesIndexFile(ErrorCode code) {
  return code == STRATA_OSENOENT || code == STRATA_READERR || code == STRATA_OLDVERSION ||
         code == STRATA_BADSIGNATURE;
}

}  // namespace strata
