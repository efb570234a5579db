#include "tools/catalogue_indexes.h"

#include <array>
#include <stdexcept>

#include "components/definition_descriptors.h"
#include "components/field_defs.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_names.h"
#include "update/catalogue.h"

namespace strata::tools {

namespace {

std::string NameOf(const CatalogueIndex& index) {
  return *index.Name == '\0' ? std::string("primary index") : std::string(index.Name);
}

const CatalogueField* CatalogueFieldNamed(const CatalogueEntry& entry, std::string_view name) {
  for (const CatalogueField& field : entry.Fields) {
    if (SameTableName(field.Name, name)) return &field;
  }
  return nullptr;
}

}  // namespace

const CatalogueEntry* CatalogueEntryOf(std::string_view table) {
  const std::string name = TableNameOf(table, ".dat");
  for (const CatalogueEntry& entry : Catalogue()) {
    if (SameTableName(TableNameOf(entry.FileName, ".dat"), name)) return &entry;
  }
  return nullptr;
}

std::string DescribeCatalogueIndexes(const CatalogueEntry& entry) {
  std::string text;
  for (const CatalogueIndex& index : entry.Indexes) {
    if (!text.empty()) text += ", ";
    text += NameOf(index) + " (" + index.Fields + ")";
  }
  return text;
}

RestoredIndexes RestoreCatalogueIndexes(TDataDirectory& directory, std::string_view table,
                                        const CatalogueEntry& entry) {
  std::vector<FieldDescriptor> fields;
  RestructureOptions options;
  {
    TDataCursor reader(directory, table, CursorModes{.Exclusive = true, .ReadOnly = true});
    reader.Open();
    fields.assign(reader.Fields().begin(), reader.Fields().end());
    const DataFileHeader& header = reader.Table()->DataFile()->Header();
    if (header.Encrypted != 0) {
      throw std::runtime_error("the table is encrypted; its indexes are left to the update");
    }
    options.LocaleID = static_cast<std::int32_t>(header.LocaleID);
    options.UserMajorVersion = header.UserMajorVersion;
    options.UserMinorVersion = header.UserMinorVersion;
    options.Description = header.Description;
    options.IndexPageSize = header.IndexPageSize;
    options.BlobBlockSize = header.BlobBlockSize;
    // The index file replaced holds only the default primary index the
    // repair made: nothing worth a backup.
    options.SuppressBackups = true;
  }
  // The table's fields under the catalogue's types, numbered as stored, so
  // that the definitions resolve to the table's own field numbers.
  TStrataFieldDefs defs;
  for (const FieldDescriptor& field : fields) {
    if (const CatalogueField* known = CatalogueFieldNamed(entry, field.Name)) {
      defs.Add(field.FieldNumber, field.Name, known->DataType, known->Size);
    }
  }
  RestoredIndexes result;
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  indexes[0] = TIndexFile::DefaultPrimaryDescriptor();
  indexes[kFullTextSlot] = TIndexFile::EmptyTextDescriptor();
  int secondary = 0;
  for (const CatalogueIndex& index : entry.Indexes) {
    IndexDescriptor descriptor;
    try {
      descriptor = BuildIndexDescriptor(defs, *index.Name == '\0' ? "" : index.Name, index.Fields,
                                        index.Options, index.DescFields, index.Compression, false);
    } catch (const std::exception&) {
      result.Skipped.push_back(NameOf(index));
      continue;
    }
    if (*index.Name == '\0') {
      descriptor.Unique = 1;
      indexes[0] = descriptor;
    } else if (secondary < static_cast<int>(kMaxSecondaryIndexes)) {
      indexes[static_cast<std::size_t>(++secondary)] = descriptor;
    } else {
      result.Skipped.push_back(NameOf(index));
      continue;
    }
    result.Restored.push_back(NameOf(index));
  }
  TDataCursor cursor(directory, table, CursorModes{.Exclusive = true});
  cursor.RestructureTable(options, {fields, indexes, secondary});
  return result;
}

}  // namespace strata::tools
