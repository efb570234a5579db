// FileModes: how a file is asked to be opened or created. An engine file
// carries its user's request; the shared store of a path keeps the modes its
// OS file is open with. After opening, ReadOnly gives the effective mode and
// ForcedReadOnly whether the file itself could only be opened for reading.
#pragma once

namespace strata {

struct FileModes {
  bool Exclusive = false;
  bool ReadOnly = false;
  bool ForcedReadOnly = false;
  // Deleted when its last handle closes.
  bool Temporary = false;
  bool Hidden = false;
  // CreateNew refuses an existing file (STRATA_OSEACCES) instead of emptying it.
  bool FailIfExists = false;
};

}  // namespace strata
