// TDataDirectory: one database directory opened in a session. It owns the
// table objects opened in it (sorted by name, letter case ignored), the lock
// manager of its lock file and the state of its transaction.
//
// Table names given to it are reduced to table names (see table_names.h);
// the files of a table are Path + its file names, looked up without regard
// to letter case. A directory whose lock file cannot be used is a read-only
// database: its tables open read-only, every lock succeeds without locking,
// and creating, deleting and renaming tables fail with STRATA_OSEACCES. The database
// named "Memory" keeps its files in memory.
//
// Errors about its tables carry ErrorDatabaseName(): the path without its
// trailing "/".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/journal/table_journal.h"
#include "engine/core/locking/data_directory_locks.h"
#include "engine/core/schema/table_structure.h"

namespace strata {

class TDataEngine;
class TDataSession;
class TDataTable;

struct TableOpenRequest {
  // The header consistency checks (see TDataTable::Open); off only for
  // verification and repair.
  bool VerifyHeaders = true;
  // An uncounted open leaves OpenCount alone (internal opens).
  bool Uncounted = false;
  bool Temporary = false;
  bool Exclusive = false;
  // A repair's open: a missing or unreadable index file is replaced (see
  // TDataTable).
  bool RebuildLostIndex = false;
};

class TDataDirectory {
 public:
  static constexpr const char* kMemoryDatabase = "Memory";

  // Opens (or, unless forReading, creates) the lock file of a local
  // directory at once.
  TDataDirectory(TDataSession& session, std::string databaseName, std::string path,
                 bool keepTablesOpen, bool inMemory, bool forReading = false);
  // Rolls back a running transaction, closes and frees the tables and closes
  // the lock file.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return session_; }
  TDataEngine& Engine() const;
  const std::string& DatabaseName() const { return databaseName_; }
  const std::string& Path() const { return path_; }
  bool InMemory() const { return inMemory_; }
  bool ReadOnlyDatabase() const { return readOnlyDatabase_; }
  bool KeepTablesOpen() const { return keepTablesOpen_; }
  std::string ErrorDatabaseName() const;
  TDataDirectoryLocks* Locks() const { return locks_.get(); }
  std::int32_t ReferenceCount() const { return referenceCount_; }
  void AddReference() { ++referenceCount_; }
  std::int32_t ReleaseReference() { return --referenceCount_; }

  // Opens the table (counted unless asked otherwise) and counts a cursor on
  // it. STRATA_OSEACCES when the table or the request is exclusive and the table is
  // already counted open here.
  TDataTable& OpenTable(std::string_view name, std::string_view displayName,
                        const TableOpenRequest& request = {});
  // Closes it; a table that is then closed, outside a transaction and not
  // kept open is freed. STRATA_OSENOENT for a table this directory does not hold.
  // forceOsFlush asks for an OS flush of what an exclusive table writes out.
  void CloseTable(TDataTable& table, bool forceOsFlush = false, bool uncounted = false);
  // Creates the table's files from a checked structure and returns the table
  // open, exclusive and counted; the caller closes it. A failure leaves no
  // files behind. STRATA_OSEACCES in a read-only database or while the table is open
  // or in a transaction.
  TDataTable& CreateTable(std::string_view name, std::string_view displayName, bool temporary,
                          const TableStructure& structure);
  // Removes the data, index and BLOB file. STRATA_OSEACCES in a read-only database or
  // while the table is counted open; a table kept open is closed first.
  void DeleteTable(std::string_view name);
  // Moves each existing file of the table to newName in targetDirectory;
  // toBackup uses the backup extensions and replaces backups of that name.
  void RenameTable(std::string_view name, std::string_view targetDirectory, bool toBackup,
                   std::string_view newName);
  // Whether the table's data file exists (open in the process or on disk),
  // once an interrupted change of the table is recovered.
  bool TableExists(std::string_view name, bool temporary = false);

  // Crash recovery. A journal left next to a table by a process that died
  // (see table_journal.h) is recovered: the change it records is finished or
  // undone. Opening, creating, deleting or renaming a table and asking
  // whether it exists do this first. A journal that another user still holds
  // is waited for (the session's lock retries) and then refused with STRATA_OSEACCES.
  // A read-only database cannot recover a journal: it leaves it, and the
  // table's open waits for a change under way and refuses a table whose
  // change was interrupted (see TDataTable::Open and ChangeState). Nothing
  // happens for the in-memory database.
  void RecoverTable(std::string_view name);
  // What the table's journal says to a reader (see JournalState): None for
  // the in-memory database and for a journal of this directory's own change.
  JournalState ChangeState(std::string_view name) const;
  // RecoverTable for every journal of the directory.
  void RecoverTables();
  // The names of the tables that have a journal next to them.
  std::vector<std::string> TablesWithJournals();
  // The journal path of a table of this directory.
  std::string JournalPath(std::string_view name) const;
  // A change of this directory's own keeps the table's journal from the
  // start to the end of the change (see ChangeJournal); RecoverTable leaves
  // such a journal alone.
  void SetJournalInUse(std::string_view name, bool inUse);
  // The names of the directory's data files without extension.
  std::vector<std::string> ListTables();
  // The first name of the form <thread id, 5 characters><counter><data
  // extension> for which no table exists.
  std::string MakeTempTableName();

  // Transactions: over all open tables (no list) or over the listed tables
  // (restricted; tables not open are opened). Nothing happens in a read-only
  // database or when a transaction runs already.
  void StartTransaction(std::optional<std::span<const std::string>> tables = std::nullopt);
  // Writes the changes of the transaction's tables; with end the
  // transaction ends, else it goes on.
  void Commit(bool forceFlush = false, bool end = true);
  void Rollback();
  bool InTransaction() const { return inTransaction_; }
  bool RestrictedTransaction() const { return restrictedTransaction_; }

  TDataTable* FindTable(std::string_view name) const;
  std::size_t TableCount() const { return tables_.size(); }
  // The table name for what a caller gave.
  std::string TableNameFor(std::string_view given) const;

 private:
  [[noreturn]] void RaiseTableError(std::uint16_t code, std::string_view table) const;
  std::vector<std::unique_ptr<TDataTable>>::iterator Find(std::string_view name);
  void Insert(std::unique_ptr<TDataTable> table);
  void Remove(TDataTable& table);
  // Before a table's files are deleted or renamed: refused (STRATA_OSEACCES) in a
  // read-only database or while the table is open or in a transaction;
  // a table kept open is closed and forgotten. Returns the table name.
  std::string ReleaseForFileChange(std::string_view name);
  void ReleaseIfUnused(TDataTable& table);
  void EndTransaction();

  TDataSession& session_;
  std::string databaseName_;
  std::string path_;
  bool inMemory_;
  bool readOnlyDatabase_ = false;
  bool keepTablesOpen_;
  std::unique_ptr<TDataDirectoryLocks> locks_;
  std::vector<std::unique_ptr<TDataTable>> tables_;
  std::vector<TDataTable*> transactionTables_;
  std::vector<std::string> journalsInUse_;
  std::int32_t referenceCount_ = 1;
  bool inTransaction_ = false;
  bool restrictedTransaction_ = false;
};

}  // namespace strata
