// The table properties that creation and restructure take besides the field
// and index descriptors: the header values and the full-text parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/full_text_params.h"

namespace strata {

struct TableProperties {
  // 0: the engine's built-in locale.
  std::int32_t LocaleID = 0;
  std::uint16_t UserMajorVersion = 1;
  std::uint16_t UserMinorVersion = 0;
  bool Encrypted = false;
  std::string Password;
  // Stored cut to 100 characters.
  std::string Description;
  // Both rounded up to a multiple of 8 before they are checked.
  std::int32_t IndexPageSize = 4096;
  std::int32_t BlobBlockSize = 512;
  // Creation: the initial LastAutoIncValue, -1 storing 0. Restructure: -1
  // keeps the table's value.
  std::int32_t LastAutoIncValue = -1;
  // None keeps the current (for a new table the default) stop words; a list
  // given, even an empty one, replaces them. An empty character set keeps
  // the current set.
  std::optional<std::vector<std::string>> StopWords;
  CharacterSet SpaceChars{};
  CharacterSet IncludeChars{};
};

// Creation also says whether an existing table is replaced.
struct TableCreateOptions : TableProperties {
  bool OverwriteExisting = false;
  // A crash during the creation leaves no table rather than a partial one:
  // the new files are named in the table's journal until they are complete
  // on the disk. A rebuild turns it off for the table it builds in its
  // temporary directory, which the rebuild's own journal covers.
  bool CrashSafe = true;
};

}  // namespace strata
