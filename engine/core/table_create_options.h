// TableCreateOptions: the values a table is created with besides its field
// and index descriptors: the header values, the full-text parameters that
// replace the engine defaults, and whether an existing table is replaced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/full_text_params.h"

namespace strata {

struct TableCreateOptions {
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
  // The initial LastAutoIncValue; -1 stores 0.
  std::int32_t LastAutoIncValue = -1;
  // None keeps the default stop words; a list given (even an empty one)
  // replaces them. An empty character set keeps the default set.
  std::optional<std::vector<std::string>> StopWords;
  CharacterSet SpaceChars{};
  CharacterSet IncludeChars{};
  bool OverwriteExisting = false;
};

}  // namespace strata
