// RestructureOptions: the table properties a restructure brings a table to,
// besides its field and index descriptors. A LastAutoIncValue of -1 keeps the
// table's value; no StopWords and empty character sets keep the table's
// full-text parameters. SuppressBackups deletes the previous files of a full
// rebuild (and the index copy of an index-only rebuild) instead of keeping
// them under the backup extensions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/full_text_params.h"

namespace strata {

struct RestructureOptions {
  std::int32_t LocaleID = 0;
  std::uint16_t UserMajorVersion = 1;
  std::uint16_t UserMinorVersion = 0;
  bool Encrypted = false;
  std::string Password;
  std::string Description;
  std::int32_t IndexPageSize = 4096;
  std::int32_t BlobBlockSize = 512;
  std::int32_t LastAutoIncValue = -1;
  std::optional<std::vector<std::string>> StopWords;
  CharacterSet SpaceChars{};
  CharacterSet IncludeChars{};
  bool SuppressBackups = false;
};

}  // namespace strata
