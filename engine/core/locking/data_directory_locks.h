// TDataDirectoryLocks: a database directory's lock file and its table
// entries. The lock file lists the directory's tables; the position of a
// table in the list (its slot, from 1) places its lock ranges in the file
// (see LockOffsets). Layout, little-endian: int32 change stamp (1 after
// creation, +1 on every rewrite, 2147483647 followed by 1), int32 Len
// (4 + the length of all entries), then per slot a length byte and the
// table name. Slots are only ever appended; at most 4096.
//
// OpenLockFile creates the file (one entry per data file of the directory,
// in listing order) or opens the existing one and reads it. Creation never
// replaces an existing file, so of two users creating the file at the same
// moment one writes the list and the other reads it. A directory
// whose lock file cannot be created or opened, or carries the read-only
// attribute, is a read-only database: Disabled is set and every lock then
// succeeds at once without locking anything. A list that cannot be read
// (damaged) is written anew, as for a new file, when no other user has the
// lock file open; when one has, OpenLockFile raises STRATA_HEADERCORRUPT naming the lock
// file and what is wrong with it.
//
// OpenLockFileForReading serves a directory opened for reading only: it
// never creates the lock file and never rewrites it. Without a lock file no
// program has the directory open (each one that opens it creates the file),
// so the manager is Disabled. An existing file is opened as usual and its
// byte-range locks are taken, so readers wait for writers of other programs;
// a table the list does not name yet gets an entry held apart that locks
// nothing (no other user has it open shared).
//
// The lock file's own locks (a random read byte of its window, or the whole
// window) guard reading and rewriting the list; their retries are fixed
// (LockFileTiming). A damaged list found later raises STRATA_HEADERCORRUPT naming the lock
// file and the damage, and is never read beyond its end. For reading, a
// damaged list makes the directory Disabled at once. Used by one thread at
// a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/locking/data_table_locks.h"
#include "engine/core/locking/lock_offsets.h"
#include "engine/core/locking/lock_settings.h"
#include "engine/files/engine_file.h"
#include "engine/files/file_registry.h"

namespace strata {

class TDataDirectoryLocks {
 public:
  static constexpr const char* kDefaultLockFileName = "strata.lck";

  // path: the directory with its trailing "/" (empty for the in-memory
  // database); databaseName: the name errors carry; dataExtension: the data
  // files listed into a new lock file.
  TDataDirectoryLocks(FileRegistry& registry, std::string path, std::string databaseName,
                      const LockOffsets& offsets, const TableLockSettings& settings,
                      std::string lockFileName = kDefaultLockFileName, bool inMemory = false,
                      std::string dataExtension = ".dat", LockFileTiming timing = {});
  ~TDataDirectoryLocks();
  TDataDirectoryLocks(const TDataDirectoryLocks&) = delete;
  TDataDirectoryLocks& operator=(const TDataDirectoryLocks&) = delete;

  // Raises only for a damaged list that another user's open keeps (see
  // above); every other failure ends in Disabled.
  void OpenLockFile();
  // As OpenLockFile, for reading only (see above). Never raises.
  void OpenLockFileForReading();
  // Gives back every lock still held through this object, then closes the
  // file. The entries are dropped: references from EntryFor end here.
  void CloseLockFile();

  // The table's entry (name compared without regard to letter case), appended
  // with the next slot when missing; STRATA_DATABASEFULL past 4096 tables. The reference
  // stays valid until CloseLockFile.
  TDataTableLocks& EntryFor(std::string_view tableName);

  void ReadLockLockFile();     // STRATA_LOCKREADLOCK
  void ReadUnlockLockFile();   // STRATA_LOCKREADUNLOCK
  void WriteLockLockFile();    // STRATA_LOCKWRITELOCK
  void WriteUnlockLockFile();  // STRATA_LOCKWRITEUNLOCK

  // The caller holds a lock-file lock. Refresh reads the list only when the
  // stamp changed; known entries keep their objects. Write rewrites it.
  void RefreshEntries();
  void WriteEntries();

  // Transactions over all tables: the range of all transaction bytes
  // (STRATA_TRANSLOCK / STRATA_TRANSUNLOCK) and the range of all table windows
  // (STRATA_TRANSLOCK / STRATA_TRANSUNLOCK).
  void LockAllTransactions();
  void UnlockAllTransactions();
  void WriteLockAllTables();
  void WriteUnlockAllTables();

  // Primitives; all succeed at once when Disabled. TryReadByte locks one
  // random byte b (1..65534) at windowOffset + b - 1 and returns b (0 when
  // Disabled). A refused lock is retried retryCount times, wait ms apart.
  std::optional<std::uint16_t> TryReadByte(std::int32_t retryCount, std::uint32_t wait,
                                           std::int64_t windowOffset);
  bool ReleaseReadByte(std::int64_t windowOffset, std::uint16_t byte);
  bool TryRange(std::int32_t retryCount, std::uint32_t wait, std::int64_t length,
                std::int64_t offset);
  bool ReleaseRange(std::int64_t length, std::int64_t offset);

  bool Disabled() const { return disabled_; }
  std::int32_t CachedStamp() const { return cachedStamp_; }
  const std::vector<std::unique_ptr<TDataTableLocks>>& Entries() const { return entries_; }
  const std::string& DatabaseName() const { return databaseName_; }
  const std::string& LockFilePath() const { return lockFile_.Path(); }
  const LockOffsets& Offsets() const { return offsets_; }
  const TableLockSettings& Settings() const { return settings_; }

 private:
  [[noreturn]] void Raise(std::uint16_t code) const;
  [[noreturn]] void RaiseDamaged(const std::string& problem) const;
  bool CreateLockFile();
  // The table names of the directory's data files, in listing order.
  std::vector<std::string> TablesOfDirectory();
  // Writes the list of a damaged lock file anew when no other user has it
  // open; raises STRATA_HEADERCORRUPT naming the finding otherwise.
  void RebuildDamagedLockFile(const std::string& finding);
  void ReadEntriesShared();
  TDataTableLocks* Find(std::string_view name) const;
  // For reading: the listed entry, else one from unlisted_.
  TDataTableLocks& ListedOrUnlisted(std::string_view name);
  TDataTableLocks& Append(std::string_view name);
  void CloseQuietly() noexcept;

  std::string path_;
  std::string databaseName_;
  std::string dataExtension_;
  LockOffsets offsets_;
  TableLockSettings settings_;
  LockFileTiming timing_;
  TEngineFile lockFile_;
  std::vector<std::uint8_t> buffer_;
  std::int32_t cachedStamp_ = 0;
  std::uint16_t readLockByte_ = 0;  // held read byte of the lock-file window
  bool writeLocked_ = false;
  bool allTransactionsLocked_ = false;
  bool allTablesLocked_ = false;
  std::vector<std::unique_ptr<TDataTableLocks>> entries_;
  bool disabled_ = false;
  bool forReading_ = false;
  // For reading only: the entries of tables the list does not name, in a
  // disabled manager of their own.
  std::unique_ptr<TDataDirectoryLocks> unlisted_;
  std::minstd_rand random_;
};

}  // namespace strata
