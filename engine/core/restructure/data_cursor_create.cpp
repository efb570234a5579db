// TDataCursor: creating the files of the table a cursor names.
#include <algorithm>
#include <stdexcept>

#include "engine/core/restructure/change_journal.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_full_text_params.h"
#include "engine/core/schema/table_names.h"
#include "engine/core/schema/table_structure.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/full_text_params.h"

namespace strata {

TDataCursor::StructureSizes TDataCursor::ValidateNewStructure(
    const TableProperties& properties, const TableDefinition& definition) const {
  const auto pageSize = static_cast<std::int32_t>(RoundUpTo8(properties.IndexPageSize));
  const auto blockSize = static_cast<std::int32_t>(RoundUpTo8(properties.BlobBlockSize));
  ValidateStructure(properties.LocaleID, properties.Encrypted, properties.Password, pageSize,
                    blockSize, definition, {displayName_, directory_.ErrorDatabaseName()});
  return {pageSize, blockSize};
}

void TDataCursor::CreateTableFiles(const TableCreateOptions& options,
                                   const TableDefinition& definition) {
  if (table_ != nullptr) throw std::logic_error("the cursor's table is open");
  if (directory_.InTransaction()) directory_.Commit(true);
  if (!modes_.Exclusive) Raise(STRATA_NEEDEXCLACCESS);
  if (modes_.ReadOnly) Raise(STRATA_OSEACCES);

  const auto [pageSize, blockSize] = ValidateNewStructure(options, definition);

  const bool exists = directory_.FindTable(tableName_) != nullptr ||
                      directory_.TableExists(tableName_, modes_.Temporary);
  if (exists && !options.OverwriteExisting) Raise(STRATA_TABLEEXISTS);

  TableStructure structure;
  structure.Fields.assign(definition.Fields.begin(), definition.Fields.end());
  std::copy(definition.Indexes.begin(), definition.Indexes.end(), structure.Indexes.begin());
  structure.SecondaryIndexCount = definition.SecondaryIndexCount;
  structure.Info = HeaderValuesOf(options, options.LastAutoIncValue, pageSize, blockSize);
  structure.Password = options.Password;

  std::optional<ChangeJournal> journal;
  if (options.CrashSafe) {
    journal.emplace(directory_, tableName_);
    const DataEngineOptions& engineOptions = Session().Engine().Options();
    std::vector<JournalEntry> parts;
    for (const std::string* extension :
         {&engineOptions.TableDataExtension, &engineOptions.TableIndexExtension,
          &engineOptions.TableBlobExtension}) {
      parts.push_back(JournalRemoveFile{
          directory_.Path() +
          TableFileName(tableName_, engineOptions.TableDataExtension, *extension)});
    }
    try {
      journal->Add(parts);
    } catch (...) {
      journal->RecoverQuietly();
      throw;
    }
  }
  TDataTable* created = nullptr;
  try {
    TDataTable& table =
        directory_.CreateTable(tableName_, displayName_, modes_.Temporary, structure);
    created = &table;
    // The parameters are written with the table, the defaults too.
    WriteFullTextParams(*table.IndexFile(),
                        NewTableFullTextParams(structure.Info.LocaleID, options.StopWords,
                                               options.SpaceChars, options.IncludeChars));
    if (journal) {
      // The journal goes once the new files' bytes and names are durable:
      // emptied first, it would otherwise leave a power cut free to keep
      // one file of the table and lose another. Nothing orders the bytes
      // and the names among themselves, so they are synced in one wait.
      table.Flush();
      const std::string folder = directory_.Path();
      table.FlushOs(std::span(&folder, 1));
    }
    directory_.CloseTable(table);
    created = nullptr;
    if (journal) journal->Commit();
  } catch (...) {
    if (created != nullptr && directory_.FindTable(tableName_) == created) {
      SetAsideError("cleanup after a failure; the first error wins",
                    [&] { directory_.CloseTable(*created); });
    }
    if (journal) journal->RecoverQuietly();
    SetAsideError("cleanup after a failure; the first error wins",
                  [&] { directory_.DeleteTable(tableName_); });
    throw;
  }
}

}  // namespace strata
