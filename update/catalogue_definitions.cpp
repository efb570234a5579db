#include "update/catalogue_definitions.h"

namespace strata {

void TakeCatalogueDefinitions(TStrataTable& table, const CatalogueEntry& entry) {
  table.FieldDefs().Clear();
  for (const CatalogueField& f : entry.Fields) {
    table.FieldDefs().Add(f.Name, f.DataType, f.Size, f.Required, f.DefaultValue, "", "", "",
                          f.CharCase, 0);
  }
  table.IndexDefs().Clear();
  for (const CatalogueIndex& x : entry.Indexes) {
    table.IndexDefs().Add(x.Name, x.Fields, x.Options, x.DescFields, x.Compression);
  }
}

}  // namespace strata
