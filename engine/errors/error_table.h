// Lookup in the fixed table of engine error codes.
#pragma once

#include <array>
#include <cstdint>

#include "engine/errors/error_codes.h"

namespace strata {

// A value of the error context that fills one placeholder of a template.
enum class ErrorArg : std::uint8_t {
  kServer,
  kUser,
  kDatabase,
  kTable,
  kField,
  kIndex,
  kDetail,
  kProcedure,
  kEvent,
  kLine,
  kColumn,
  kOsError,
};

struct ErrorTableEntry {
  ErrorCode code;
  const char* name;      // "" when the code has no constant name
  const char* message;   // nullptr when the code has no template
  std::uint8_t arg_count;
  std::array<ErrorArg, 4> args;  // the first arg_count are used, in order
};

// The entry of a code, or nullptr for a code the table does not list.
const ErrorTableEntry* FindErrorTableEntry(ErrorCode code);

}  // namespace strata
