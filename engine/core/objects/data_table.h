// TDataTable: one table opened in a directory. It owns the table's data,
// index and BLOB files (the BLOB file only when the table has BLOB fields)
// and answers their questions as their TableFileOwner. It keeps the open
// count, the table's lock entry in the lock file, its record, table and
// semaphore locks on the data file, and its part in a transaction.
//
// Sharing. A shared table takes the table read lock (one byte of its window
// in the lock file) to read and the write lock (the whole window) to write;
// on taking either it compares the data file's ChangeCount with its own and,
// when another user changed the table, drops its caches. A writer flushes
// before it unlocks, and a flush always writes the data header when any file
// of the table changed, so every committed change shows as a new ChangeCount.
// An exclusive table takes none of these locks and writes when it is flushed
// or closed. In a read-only database every lock succeeds without locking.
//
// Opening a table whose index file is missing or cannot be read fails with
// STRATA_OSENOENT or STRATA_READERR naming the index file: its index definitions exist nowhere
// else, so the table is never used as if it had none. Only a repair opens it
// with rebuildLostIndex: an unreadable file is first kept aside as
// "<index file>.damaged~" (a number added when that name is taken), then a
// fresh index file with the default primary index, made whole and synced
// under "<index file>.repair~", takes its place by a rename that is synced;
// LostIndex says what happened and IndexRecreated is set, and the cursor
// that opens the table rebuilds the index contents.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "engine/core/locking/data_table_locks.h"
#include "engine/core/schema/lost_index_file.h"
#include "engine/core/schema/table_structure.h"
#include "engine/formats/blob_file.h"
#include "engine/formats/data_file.h"
#include "engine/formats/index_file.h"
#include "engine/formats/table_file_owner.h"

namespace strata {

class TDataDirectory;
class TDataSession;
class TDataEngine;

// Which headers a flush writes even when nothing else of their file changed.
struct FlushHeaders {
  bool Data = false;
  bool Index = false;
  bool Blob = false;
};

enum class TableFileKind { Data, Index, Blob };

class TDataTable final : public TableFileOwner {
 public:
  TDataTable(TDataDirectory& directory, std::string name, std::string displayName, bool exclusive,
             bool temporary, bool readOnly);
  // Closes the table, dropping any failure.
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // A counted open increases OpenCount; an open table only counts. Any
  // failure leaves the table closed. A table that another program holds
  // (its files' share locks refuse this open, or, in a read-only database,
  // it is in the middle of a change that the program's journal records) is
  // tried again for as long as the session waits for a lock
  // (LockRetryCount tries, LockWaitTime apart); the last failure is then
  // raised as it was met (STRATA_OSEACCES naming the file, or the journal).
  // In a read-only database a table whose change was interrupted is
  // refused at once with STRATA_OSEACCES naming its journal.
  void Open(bool uncounted = false, bool verifyHeaders = false, bool rebuildLostIndex = false);
  // A counted close decreases OpenCount. The table stays open inside a
  // transaction, while counted opens remain, or (counted close, shared table)
  // when the directory keeps tables open. An exclusive, writable table is
  // written out first (a temporary one is dropped instead).
  void Close(bool forceOsFlush = false, bool uncounted = false);
  // Creates the files exclusively from a checked structure and leaves the
  // table open, exclusive and counted; a BLOB file of the same name left by
  // an earlier table goes when the new one has no BLOB fields. A failure
  // deletes every file again.
  void CreateFiles(const TableStructure& structure);
  // Deletes the data file and, when they exist, the index and BLOB files.
  void DeleteFiles();
  // Moves each existing file to newName in targetDirectory (backup
  // extensions with toBackup, replacing an existing backup).
  void RenameFiles(std::string_view targetDirectory, std::string_view newName, bool toBackup);
  // Truncates every open file to its header and drops all buffers.
  void EmptyFiles();

  // Called first by every flush (not inside a transaction): the cursor that
  // holds index keys of this exclusive table puts them into the trees.
  std::function<void()> BeforeFlush;

  // Writes what changed: per file the dirty units, then the header when
  // forced or when units were written; the data header also whenever the
  // index or BLOB header was written. Inside a transaction the forced
  // headers are only marked. Nothing for a read-only table.
  void Flush(bool trim = false, FlushHeaders force = {}, bool forceOsFlush = false);
  // Drops every buffer without writing; optionally trims and re-reads the
  // headers.
  void DropCaches(bool trim = false, bool rereadHeaders = false);
  // Syncs the table's files together, and with them the directories given
  // (one wait on the disk; STRATA_WRITEERR naming what failed).
  void FlushOs(std::span<const std::string> directories = {});
  // FlushOs for the files this table object wrote to since it opened them
  // or last flushed them: a change of an open table that touched only some
  // of its files.
  void FlushOsWritten();
  // Re-reads the data header; when its ChangeCount moved, drops the buffers
  // of every file and re-reads the index and BLOB headers. True then.
  bool CheckForChanges();

  // Record locks (byte L - r of the data file). LockRecord raises STRATA_RECLOCKFAILED for
  // record 0, a record this table holds, or a lock still refused after the
  // session's retries; true when taking the table read lock on the way
  // found the table changed. That read lock stays with the caller's
  // operation, which releases it. UnlockRecord raises STRATA_UNLOCKFAILED for a record not
  // held (inside a transaction the byte stays locked until its end).
  bool LockRecord(std::int32_t record);
  void UnlockRecord(std::int32_t record);
  // Releases the records (and then the table lock), or with transactionHeld
  // the records held for the transaction (and then a deferred table unlock).
  void UnlockAllRecords(bool transactionHeld);
  bool RecordLocked(std::int32_t record) const;
  // The whole-table lock on the data file: STRATA_LOCKED when held already, when the
  // table holds record locks, or when refused after the retries. Inside a
  // transaction UnlockTable only defers the release to its end.
  bool LockTable();
  void UnlockTable();
  // Semaphores 1 to 1024; false outside that range or when refused.
  bool LockSemaphore(std::int32_t semaphore);
  bool UnlockSemaphore(std::int32_t semaphore);
  // Table read and write locks in the lock file; true when taking the lock
  // found the table changed by another user.
  bool ReadLockTable();
  void ReadUnlockTable();
  bool WriteLockTable();
  void WriteUnlockTable();

  // A table's steps in its directory's transaction (restricted: over a list
  // of tables, each with its own transaction byte).
  void BeginTableTransaction(bool restricted);
  void CommitTable(bool restricted, bool end, bool forceOsFlush);
  void RollbackTable(bool restricted);

  TDataDirectory& Directory() const { return directory_; }
  TDataSession& Session() const;
  TDataEngine& Engine() const;
  const std::string& Name() const { return name_; }
  const std::string& DisplayName() const { return displayName_; }
  std::uint16_t OpenCount() const { return openCount_; }
  std::uint16_t CursorCount() const { return cursorCount_; }
  bool IsOpen() const { return isOpen_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  bool ForcedReadOnly() const { return forcedReadOnly_; }
  bool Temporary() const { return temporary_; }
  bool IndexRecreated() const { return indexRecreated_; }
  // Set by an open with rebuildLostIndex that replaced the index file; the
  // unreadable file's new name (empty for a missing file).
  LostIndexFile LostIndex() const { return lostIndex_; }
  const std::string& LostIndexKeptAs() const { return lostIndexKeptAs_; }
  // The cursor that rebuilt the recreated index file's contents says so.
  void IndexRecovered() { indexRecreated_ = false; }
  bool Modified() const { return modified_; }
  bool TableLocked() const { return tableLocked_; }
  bool UnlockDeferred() const { return unlockDeferred_; }
  TDataTableLocks* LockEntry() const { return lockEntry_; }
  bool HasBlobFields() const { return data_ && data_->BlobFieldCount() > 0; }
  // The files while open (the BLOB file only with BLOB fields).
  TDataFile* DataFile() const { return data_.get(); }
  TIndexFile* IndexFile() const { return index_.get(); }
  TBlobFile* BlobFile() const { return blob_.get(); }
  // The path of one of the table's files in its directory.
  std::string FilePath(TableFileKind kind) const;

  // TableFileOwner.
  bool InTransaction() const override { return inTransaction_; }
  bool ModifiedSinceOpen() const override { return modified_; }
  void MarkModified() override { modified_ = true; }
  bool ForceBufferFlush() const override;
  bool StrictChangeDetection() const override;
  bool ReadLockForCacheMiss(TDataCursor* cursor) override;
  std::string ErrorTableName() const override;
  std::string ErrorDatabaseName() const override;
  const EngineLimits& Limits() const override;
  const Digest& SignatureDigest() const override;
  const UnitCipher* Cipher() const override { return cipher_ ? &*cipher_ : nullptr; }
  const CompressionHooks& Compression() const override;

 private:
  friend class TDataDirectory;

  [[noreturn]] void Raise(std::uint16_t code) const;
  bool InMemory() const;
  bool LocksDisabled() const;
  std::string Extension(TableFileKind kind, bool backup) const;
  void OpenOnce(bool verifyHeaders, bool rebuildLostIndex);
  // Read-only database: STRATA_OSEACCES naming the journal of a change under
  // way or interrupted.
  void RefuseChangedTable() const;
  // Whether the failure of an open may be another program's doing that
  // ends: a change under way, or a share lock that refuses this open.
  bool HeldByAnotherUser() const;
  void OpenFiles(bool verifyHeaders, bool rebuildLostIndex);
  // Without the header checks (verification and repair) the index and BLOB
  // files are opened even when the header's page or block size is not
  // usable: the index with the default page size; the BLOB file with the
  // block size its length and block count bear out when the header's size
  // is out of range, or disagrees with them and reads fewer values (else
  // the header's, or the default).
  void OpenIndexFile(bool verifyHeaders, bool rebuildLostIndex);
  void OpenBlobFile(bool verifyHeaders);
  // How many of the first BLOB values of the records (at most 16) have a
  // first block of their revision, read with the BLOB file as it is open.
  int FirstBlocksThatMatch();
  void KeepLostIndexAside(const std::string& path);
  void RecreateIndexFile();
  void ReadHeaders(bool verifyHeaders);
  void CheckPassword(const DataFileHeader& header);
  void UsePassword(CipherContext& context);
  void CloseFiles();
  void ReleaseLocks() noexcept;
  void DeleteFilesQuietly() noexcept;
  bool TryDataLock(std::int64_t length, std::int64_t offset);
  // Set by the directory when it reuses a closed table object.
  void SetOpenMode(bool exclusive, bool temporary);
  void CountCursor() { ++cursorCount_; }
  void UncountCursor() {
    if (cursorCount_ > 0) --cursorCount_;
  }
  // Closes whatever the counts say (the directory ends the table).
  void CloseForGood() noexcept;

  TDataDirectory& directory_;
  std::string name_;
  std::string displayName_;
  std::uint16_t openCount_ = 0;
  std::uint16_t cursorCount_ = 0;
  bool isOpen_ = false;
  bool exclusive_;
  bool readOnly_;
  bool requestReadOnly_;
  bool forcedReadOnly_ = false;
  bool temporary_;
  TDataTableLocks* lockEntry_ = nullptr;
  std::set<std::int32_t> lockedRecords_;
  std::set<std::int32_t> transactionRecords_;
  bool tableLocked_ = false;
  bool unlockDeferred_ = false;
  std::bitset<1025> lockedSemaphores_;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  bool indexRecreated_ = false;
  LostIndexFile lostIndex_ = LostIndexFile::None;
  std::string lostIndexKeptAs_;
  bool inTransaction_ = false;
  bool modified_ = false;
  std::optional<UnitCipher> cipher_;
};

}  // namespace strata
