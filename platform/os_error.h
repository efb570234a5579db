// The calling thread's last operating-system error number (errno).
#pragma once

namespace strata::platform {

int LastErrorNumber();
void SetLastErrorNumber(int error);

}  // namespace strata::platform
