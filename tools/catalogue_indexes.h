// The index definitions of a Hearthbook table as its catalogue entry gives
// them, for a table whose index file was lost: verify names them, and
// repair puts them back on the table as it stands (an index-only rebuild of
// its current fields), since the table itself no longer holds them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strata {

class TDataDirectory;
struct CatalogueEntry;

namespace tools {

// The catalogue entry of a table name (letter case and the data extension
// ignored); nullptr for a table the catalogue does not hold.
const CatalogueEntry* CatalogueEntryOf(std::string_view table);

// "primary index (ID), ByName (Name;Title)": each definition with its fields.
std::string DescribeCatalogueIndexes(const CatalogueEntry& entry);

struct RestoredIndexes {
  std::vector<std::string> Restored;  // "primary index", then index names
  std::vector<std::string> Skipped;   // definitions naming a field the table lacks
};

// Gives the table (closed, not encrypted) the catalogue's index definitions
// over the fields it has; a definition naming a field the table lacks is
// skipped. Raises what the restructure raises.
RestoredIndexes RestoreCatalogueIndexes(TDataDirectory& directory, std::string_view table,
                                        const CatalogueEntry& entry);

}  // namespace tools
}  // namespace strata
