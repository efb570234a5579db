// The table catalogue: every table of the home-organiser's database with the
// field and index definitions, locale, user version and description it must
// have. The order of entries, of fields and of indexes is data: field
// positions become field numbers, and the engine carries rows over by field
// number.
#pragma once

#include <cstdint>
#include <span>

#include "components/field_type.h"
#include "components/index_options.h"

namespace strata {

struct CatalogueField {
  const char* Name;
  TFieldType DataType;
  std::int32_t Size;  // characters for ftString, decimal places for ftBCD, else 0
  bool Required;
  const char* DefaultValue;  // handed over as written; "" for none
  TFieldCharCase CharCase;
};

struct CatalogueIndex {
  const char* Name;  // "" for the primary index, always the first
  const char* Fields;
  TIndexOptions Options;
  const char* DescFields;
  TIndexCompression Compression;
};

struct CatalogueEntry {
  const char* FileName;  // also the text the window's table label shows
  std::span<const CatalogueField> Fields;
  std::span<const CatalogueIndex> Indexes;
  std::uint32_t LocaleId;          // 0 or 2057
  std::uint16_t UserMajorVersion;  // 0 or 1
  const char* Description;         // "" for none
};

// The 63 entries in visiting order.
std::span<const CatalogueEntry> Catalogue();

}  // namespace strata
