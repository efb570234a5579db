#include "engine/core/objects/data_directory.h"

#include <algorithm>

#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/journal/table_journal.h"
#include "engine/core/schema/table_names.h"
#include "engine/core/journal/table_recovery.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "platform/file_system.h"

namespace strata {

TDataDirectory::TDataDirectory(TDataSession& session, std::string databaseName, std::string path,
                               bool keepTablesOpen, bool inMemory, bool forReading)
    : session_(session),
      databaseName_(std::move(databaseName)),
      path_(std::move(path)),
      inMemory_(inMemory),
      keepTablesOpen_(keepTablesOpen) {
  const DataEngineOptions& options = Engine().Options();
  locks_ = std::make_unique<TDataDirectoryLocks>(
      Engine().Registry(), path_, ErrorDatabaseName(), Engine().Offsets(), options.TableLocks,
      options.LockFileName, inMemory_, options.TableDataExtension, options.LockFile);
  if (forReading) {
    locks_->OpenLockFileForReading();
  } else {
    locks_->OpenLockFile();
  }
  readOnlyDatabase_ = forReading || locks_->Disabled();
}

TDataDirectory::~TDataDirectory() {
  SetAsideError("rolling back in a destructor; the tables go anyway", [&] { Rollback(); });
  transactionTables_.clear();
  // Tables hold entries of the lock manager: they go first.
  while (!tables_.empty()) tables_.pop_back();
  locks_.reset();
}

TDataEngine& TDataDirectory::Engine() const { return session_.Engine(); }

std::string TDataDirectory::ErrorDatabaseName() const { return DatabaseNameOfPath(path_); }

std::string TDataDirectory::TableNameFor(std::string_view given) const {
  return TableNameOf(given, Engine().Options().TableDataExtension);
}

void TDataDirectory::RaiseTableError(std::uint16_t code, std::string_view table) const {
  strata::RaiseTableError(code, table, ErrorDatabaseName());
}

std::vector<std::unique_ptr<TDataTable>>::iterator TDataDirectory::Find(std::string_view name) {
  const auto it = std::lower_bound(
      tables_.begin(), tables_.end(), name,
      [](const auto& table, std::string_view key) { return CompareTableNames(table->Name(), key) < 0; });
  return it != tables_.end() && SameTableName((*it)->Name(), name) ? it : tables_.end();
}

TDataTable* TDataDirectory::FindTable(std::string_view name) const {
  const std::string key = TableNameFor(name);
  for (const auto& table : tables_) {
    if (SameTableName(table->Name(), key)) return table.get();
  }
  return nullptr;
}

void TDataDirectory::Insert(std::unique_ptr<TDataTable> table) {
  const auto at = std::lower_bound(tables_.begin(), tables_.end(), table->Name(),
                                   [](const auto& t, const std::string& key) {
                                     return CompareTableNames(t->Name(), key) < 0;
                                   });
  tables_.insert(at, std::move(table));
}

void TDataDirectory::Remove(TDataTable& table) {
  std::erase(transactionTables_, &table);
  const auto it = std::find_if(tables_.begin(), tables_.end(),
                               [&](const auto& t) { return t.get() == &table; });
  if (it != tables_.end()) tables_.erase(it);
}

// ---------------------------------------------------------------------------
// Opening and closing tables

TDataTable& TDataDirectory::OpenTable(std::string_view name, std::string_view displayName,
                                      const TableOpenRequest& request) {
  const std::string tableName = TableNameFor(name);
  TDataTable* table = nullptr;
  const auto found = Find(tableName);
  if (found == tables_.end()) RecoverTable(tableName);
  if (found != tables_.end()) {
    table = found->get();
    if (table->IsOpen()) {
      // Counted open, in a transaction, or kept open.
      if ((table->Exclusive() || request.Exclusive) &&
          (table->OpenCount() > 0 || !table->InTransaction())) {
        RaiseTableError(STRATA_OSEACCES, tableName);
      }
      table->Open(request.Uncounted, request.VerifyHeaders, request.RebuildLostIndex);
      table->CountCursor();
      return *table;
    }
    table->SetOpenMode(request.Exclusive, request.Temporary);
    table->Open(request.Uncounted, request.VerifyHeaders, request.RebuildLostIndex);
  } else {
    auto created = std::make_unique<TDataTable>(*this, tableName, std::string(displayName),
                                                request.Exclusive, request.Temporary,
                                                readOnlyDatabase_);
    created->Open(request.Uncounted, request.VerifyHeaders, request.RebuildLostIndex);
    table = created.get();
    Insert(std::move(created));
  }
  table->CountCursor();
  if (inTransaction_ && !restrictedTransaction_ && !table->InTransaction()) {
    table->BeginTableTransaction(false);
    if (table->InTransaction()) transactionTables_.push_back(table);
  }
  return *table;
}

void TDataDirectory::CloseTable(TDataTable& table, bool forceOsFlush, bool uncounted) {
  const auto it = std::find_if(tables_.begin(), tables_.end(),
                               [&](const auto& t) { return t.get() == &table; });
  if (it == tables_.end()) RaiseTableError(STRATA_OSENOENT, table.ErrorTableName());
  std::exception_ptr failure;
  KeepFirstError(failure, [&] { table.Close(forceOsFlush, uncounted); });
  table.UncountCursor();
  if (!table.IsOpen() && !table.InTransaction()) Remove(table);
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::ReleaseIfUnused(TDataTable& table) {
  if (table.InTransaction() || table.OpenCount() > 0) return;
  if (table.IsOpen() && keepTablesOpen_ && !table.Exclusive()) return;
  SetAsideError("releasing an unused table; one that stays open stays listed",
                [&] { table.Close(false, true); });
  if (!table.IsOpen()) Remove(table);
}

// ---------------------------------------------------------------------------
// Creating, deleting and renaming tables

TDataTable& TDataDirectory::CreateTable(std::string_view name, std::string_view displayName,
                                        bool temporary, const TableStructure& structure) {
  const std::string tableName = TableNameFor(name);
  if (readOnlyDatabase_) RaiseTableError(STRATA_OSEACCES, tableName);
  if (const auto found = Find(tableName); found != tables_.end()) {
    if ((*found)->IsOpen() || (*found)->InTransaction()) RaiseTableError(STRATA_OSEACCES, tableName);
    tables_.erase(found);
  }
  // Never over the remains of an interrupted change: they are recovered.
  RecoverTable(tableName);
  auto created = std::make_unique<TDataTable>(*this, tableName, std::string(displayName), true,
                                              temporary, false);
  created->CreateFiles(structure);
  TDataTable& table = *created;
  Insert(std::move(created));
  table.CountCursor();
  return table;
}

std::string TDataDirectory::ReleaseForFileChange(std::string_view name) {
  const std::string tableName = TableNameFor(name);
  if (readOnlyDatabase_) RaiseTableError(STRATA_OSEACCES, tableName);
  if (const auto found = Find(tableName); found != tables_.end()) {
    TDataTable& table = **found;
    if (table.OpenCount() > 0 || table.InTransaction()) RaiseTableError(STRATA_OSEACCES, tableName);
    table.Close(false, true);
    Remove(table);
  }
  RecoverTable(tableName);
  return tableName;
}

void TDataDirectory::DeleteTable(std::string_view name) {
  const std::string tableName = ReleaseForFileChange(name);
  TDataTable(*this, tableName, tableName, false, false, false).DeleteFiles();
}

void TDataDirectory::RenameTable(std::string_view name, std::string_view targetDirectory,
                                 bool toBackup, std::string_view newName) {
  const std::string tableName = ReleaseForFileChange(name);
  TDataTable(*this, tableName, tableName, false, false, false)
      .RenameFiles(targetDirectory, TableNameFor(newName), toBackup);
}

bool TDataDirectory::TableExists(std::string_view name, bool temporary) {
  if (!temporary && FindTable(name) == nullptr) RecoverTable(name);
  const DataEngineOptions& options = Engine().Options();
  const std::string file =
      TableFileName(TableNameFor(name), options.TableDataExtension,
                    temporary ? options.TableDataTempExtension : options.TableDataExtension);
  return Engine().Registry().FileExists(path_ + file, inMemory_);
}

std::string TDataDirectory::JournalPath(std::string_view name) const {
  const std::string& dataExtension = Engine().Options().TableDataExtension;
  return path_ + TableFileName(TableNameFor(name), dataExtension, TableJournal::kExtension);
}

void TDataDirectory::SetJournalInUse(std::string_view name, bool inUse) {
  const std::string tableName = TableNameFor(name);
  const auto found = std::find_if(journalsInUse_.begin(), journalsInUse_.end(),
                                  [&](const std::string& n) { return SameTableName(n, tableName); });
  if (inUse && found == journalsInUse_.end()) journalsInUse_.push_back(tableName);
  if (!inUse && found != journalsInUse_.end()) journalsInUse_.erase(found);
}

void TDataDirectory::RecoverTable(std::string_view name) {
  if (inMemory_) return;
  const std::string tableName = TableNameFor(name);
  if (std::any_of(journalsInUse_.begin(), journalsInUse_.end(),
                  [&](const std::string& n) { return SameTableName(n, tableName); })) {
    return;
  }
  const std::string path = JournalPath(name);
  // A read-only database cannot finish or undo the change: the table's
  // open refuses the table while the journal records one.
  if (readOnlyDatabase_ || !Engine().Files().FileExists(path)) return;
  std::optional<TableJournal> journal =
      TableJournal::OpenLeftover(Engine().Files(), path, session_.LockRetryCount(), session_.LockWaitTime());
  if (journal) RecoverTableJournal(*journal, Engine().Registry());
}

JournalState TDataDirectory::ChangeState(std::string_view name) const {
  if (inMemory_) return JournalState::None;
  const std::string tableName = TableNameFor(name);
  if (std::any_of(journalsInUse_.begin(), journalsInUse_.end(),
                  [&](const std::string& n) { return SameTableName(n, tableName); })) {
    return JournalState::None;
  }
  return TableJournal::Inspect(Engine().Files(), JournalPath(name));
}

void TDataDirectory::RecoverTables() {
  for (const std::string& table : TablesWithJournals()) RecoverTable(table);
}

std::vector<std::string> TDataDirectory::TablesWithJournals() {
  std::vector<std::string> tables;
  if (inMemory_) return tables;
  const std::string pattern = std::string("*") + TableJournal::kExtension;
  if (!Engine().Files().ListFiles(path_, pattern, tables)) {
    RaiseTableError(RecordOsError(), ErrorDatabaseName());
  }
  const std::size_t extension = std::string_view(TableJournal::kExtension).size();
  for (std::string& table : tables) table.resize(table.size() - extension);
  return tables;
}

std::vector<std::string> TDataDirectory::ListTables() {
  const std::string& extension = Engine().Options().TableDataExtension;
  std::vector<std::string> tables =
      Engine().Registry().ListFiles(inMemory_, path_ + "*" + extension, true);
  for (std::string& table : tables) table = TableNameOf(table, extension);
  return tables;
}

std::string TDataDirectory::MakeTempTableName() {
  const std::string path = Engine().Registry().MakeUniqueFileName(
      path_, Engine().Options().TableDataExtension, inMemory_);
  return path.substr(path_.size());
}

// ---------------------------------------------------------------------------
// Transactions

void TDataDirectory::StartTransaction(std::optional<std::span<const std::string>> tables) {
  if (readOnlyDatabase_ || inTransaction_) return;
  restrictedTransaction_ = tables.has_value();
  inTransaction_ = true;
  try {
    if (!restrictedTransaction_) {
      locks_->LockAllTransactions();
      for (const auto& table : tables_) {
        if (!table->IsOpen()) continue;
        table->BeginTableTransaction(false);
        if (table->InTransaction()) transactionTables_.push_back(table.get());
      }
    } else {
      for (const std::string& name : *tables) {
        TDataTable* table = FindTable(name);
        if (table == nullptr || !table->IsOpen()) {
          table = &OpenTable(name, name, TableOpenRequest{.Uncounted = true});
          table->UncountCursor();
        }
        if (table->InTransaction()) continue;
        table->BeginTableTransaction(true);
        if (table->InTransaction()) transactionTables_.push_back(table);
      }
    }
  } catch (...) {
    SetAsideError("cleanup after a failure; the first error wins", [&] { Rollback(); });
    throw;
  }
}

void TDataDirectory::Commit(bool forceFlush, bool end) {
  if (!inTransaction_) return;
  if (!restrictedTransaction_) {
    locks_->WriteLockAllTables();
    try {
      for (TDataTable* table : transactionTables_) table->CommitTable(false, end, forceFlush);
    } catch (...) {
      SetAsideError("a release after a failure; the failure is what the caller sees",
                    [&] { locks_->WriteUnlockAllTables(); });
      throw;
    }
    locks_->WriteUnlockAllTables();
    if (end) locks_->UnlockAllTransactions();
  } else {
    for (TDataTable* table : transactionTables_) table->CommitTable(true, end, forceFlush);
  }
  if (end) EndTransaction();
}

void TDataDirectory::Rollback() {
  if (!inTransaction_) return;
  std::exception_ptr failure;
  for (TDataTable* table : transactionTables_) {
    KeepFirstError(failure, [&] { table->RollbackTable(restrictedTransaction_); });
  }
  if (!restrictedTransaction_) {
    KeepFirstError(failure, [&] { locks_->UnlockAllTransactions(); });
  }
  EndTransaction();
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::EndTransaction() {
  inTransaction_ = false;
  restrictedTransaction_ = false;
  const std::vector<TDataTable*> ended = std::move(transactionTables_);
  transactionTables_.clear();
  // Tables that were closed during the transaction (or opened for it) close
  // now.
  for (TDataTable* table : ended) ReleaseIfUnused(*table);
}

}  // namespace strata
