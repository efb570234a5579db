// What the update run hands the table component for one catalogue entry:
// the entry's field and index definitions, and the table operations'
// fixed arguments. The run and its preview take them from here alike.
#pragma once

#include <cstdint>

#include "components/strata_table.h"
#include "update/catalogue.h"

namespace strata {

inline constexpr std::int32_t kIndexPageSize = 4096;
inline constexpr std::int32_t kBlobBlockSize = 512;
inline constexpr std::int32_t kNoAutoIncValue = -1;

// Replaces the component's definitions with the entry's, in catalogue order.
void TakeCatalogueDefinitions(TStrataTable& table, const CatalogueEntry& entry);

}  // namespace strata
