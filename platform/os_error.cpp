#include "platform/os_error.h"

#include <cerrno>

namespace strata::platform {

int LastErrorNumber() { return errno; }

void SetLastErrorNumber(int error) { errno = error; }

}  // namespace strata::platform
