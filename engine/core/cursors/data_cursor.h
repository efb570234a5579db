// TDataCursor: one user's view of a table for the length of an operation.
// It names a table in a directory, opens it through the directory (shared or
// exclusive, possibly read-only) and closes it again; it reads records by
// physical number, and gets and sets field values in record buffers of the
// table's record size. It carries the hooks its operations report through:
// progress in whole percent, data losses with the in-and-out StopAsking and
// Continue flags, and log lines.
//
// Writing: InsertRecord adds a record from a record buffer with every key,
// full-text word and BLOB value (see InsertRecord); CreateTableFiles creates
// the table the cursor names. A cursor opening a table whose index file had
// to be recreated rebuilds the primary index from the records first.
//
// BLOB values of record buffers are opened on the cursor. While a value is
// open, the first four bytes of its reference in the buffer hold the negated
// handle of the open value (never written to a file); the value is written
// when the record is inserted.
//
// Reading follows the change-detection protocol: with strict change
// detection an operation starts under the table read lock; otherwise the
// read lock is taken on the first cache miss, and a change found then makes
// the read start again. The read lock is released when the operation ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/indexing/sorted_index_build.h"
#include "engine/core/cursors/insert_options.h"
#include "engine/core/journal/table_journal.h"
#include "engine/core/schema/lost_index_file.h"
#include "engine/core/schema/restructure_options.h"
#include "engine/core/schema/restructure_plan.h"
#include "engine/core/schema/restructure_preview.h"
#include "engine/core/schema/structure_validation.h"
#include "engine/core/schema/table_create_options.h"
#include "engine/core/schema/table_definition.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/full_text_params.h"

namespace strata {

class TBlobBuffer;
class TDataDirectory;
class TDataSession;
class TDataTable;
class TableIndexWriter;
class WriteLocks;
struct CursorWriteState;

enum TDataLossCause : std::uint8_t {
  dlUnknown = 0,
  dlKeyViolation = 1,
  dlValidityCheckFail = 2,
  dlFieldDeletion = 3,
  dlFieldConversion = 4,
};

struct CursorModes {
  // No table or record locks; header writes wait for the flush or close.
  bool Exclusive = false;
  bool ReadOnly = false;
  bool Temporary = false;
  // Inserts keep the RecordID the buffer carries.
  bool KeepRecordIDs = false;
  // Insert triggers and the insert-error handler are not called.
  bool NoTriggers = false;
  // Field numbers name the descriptors' stored numbers, not positions.
  bool FieldsByNumber = false;
  // Records are read in ascending order: a cache miss reads ahead the
  // records after the one asked for, up to the file's read-ahead limit.
  bool SequentialScan = false;
};

using ProgressHook = std::function<void(std::uint16_t percent, std::string_view text)>;
using DataLossHook = std::function<void(TDataLossCause cause, std::string_view context,
                                        bool& stopAsking, bool& continueOperation)>;
using LogHook = std::function<void(std::string_view line)>;

class TDataCursor {
 public:
  TDataCursor(TDataDirectory& directory, std::string_view tableName, CursorModes modes = {});
  // Closes the table, dropping any failure.
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // Opens the table through the directory (STRATA_OSEACCES on an exclusive conflict;
  // STRATA_OSENOENT or STRATA_READERR naming the index file when that is missing or unreadable).
  // The headers are checked against each other and against the files
  // (STRATA_HEADERCORRUPT naming the table, STRATA_CANNOTLOADLDDRV for a locale that is not
  // installed): a header that disagrees with its file would lead reads and
  // writes to the wrong slots. Only verification and repair, which judge
  // and fix such a header themselves, open with verifyHeaders false.
  void Open(bool verifyHeaders = true);
  void Close();
  bool IsOpen() const { return table_ != nullptr; }

  TDataDirectory& Directory() const { return directory_; }
  TDataSession& Session() const;
  const std::string& TableName() const { return tableName_; }
  CursorModes& Modes() { return modes_; }
  const CursorModes& Modes() const { return modes_; }
  // The open table; nullptr while closed.
  TDataTable* Table() const { return table_; }
  // Read-only by request or because the table opened read-only.
  bool ReadOnly() const;

  // The table's fields and record size (the cursor must be open).
  std::span<const FieldDescriptor> Fields() const;
  std::int32_t RecordSize() const;
  std::vector<std::uint8_t> NewRecordBuffer() const;
  // Physical records 1 to the record count; STRATA_RECNOTFOUND for any other number.
  std::int32_t PhysicalRecordCount() const;

  // Copies slot `record` into buffer (at least RecordSize bytes); true when
  // the slot holds a record, false for a deleted one.
  bool ReadRecord(std::int32_t record, std::span<std::uint8_t> buffer);

  // The field of a number (position from 1, or stored number in
  // FieldsByNumber mode; 65535 RecordID and 65534 RecordHash); nullptr when
  // there is none.
  const FieldDescriptor* FieldByNumber(std::uint16_t number) const;
  // The value bytes of a field, nullopt for NULL. A BLOB field gives the
  // first 4 bytes of its reference. std::out_of_range for an unknown field.
  std::optional<std::vector<std::uint8_t>> GetField(std::span<const std::uint8_t> buffer,
                                                    std::uint16_t number) const;
  // Sets a field (nullopt: NULL). Strings take the text up to a zero byte
  // (wide strings their UTF-16LE code units up to a zero unit), lose
  // trailing blanks (except fixed-length strings), follow the field's
  // character case and store an empty text as NULL; booleans store 0 or 1;
  // other types copy the field's size. RecordID, RecordHash and computed
  // fields are left alone.
  void SetField(std::span<std::uint8_t> buffer, std::uint16_t number,
                std::optional<std::span<const std::uint8_t>> value) const;
  // A BLOB field's reference (its first 4 bytes). The NullFlag follows the
  // reference (set exactly when not 0), or, for the negative handle of an
  // open BLOB, the caller's flag.
  void SetBlobField(std::span<std::uint8_t> buffer, std::uint16_t number, std::int32_t reference,
                    bool hasValue) const;

  // Creates the table the cursor names, empty, from descriptors that are
  // checked and completed in place (ValidateStructure), and leaves it
  // closed. The cursor must be closed and exclusive (STRATA_NEEDEXCLACCESS) and not
  // read-only (STRATA_OSEACCES); an existing table gives STRATA_TABLEEXISTS unless
  // options.OverwriteExisting, and one that is open gives STRATA_OSEACCES. The
  // full-text parameters (the defaults with the options' replacements) are
  // written with the table. A failure leaves no files behind.
  void CreateTableFiles(const TableCreateOptions& options, const TableDefinition& definition);

  // Brings the table the cursor names to a new structure, keeping its
  // records, and returns the level of work done. The cursor must be closed
  // (STRATA_TABLEOPEN), exclusive (STRATA_NEEDEXCLACCESS) and writable (STRATA_OSEACCES, also for a
  // table that opens read-only); the descriptors are checked and completed in place
  // first. Records that cannot be carried over are reported to OnDataLost;
  // a report answered with Continue false ends the operation normally with
  // the table as it was. Progress goes to OnProgress (none for a header-only
  // update). Any other failure leaves the previous table in place.
  RestructureLevel RestructureTable(const RestructureOptions& options,
                                    const TableDefinition& definition);

  // What RestructureTable would do with the same arguments (see
  // restructure_preview.h), worked out without writing anything: the
  // descriptors are checked and completed in place, then the table is opened
  // shared and read-only, whatever the cursor's modes, and each record is
  // read once (progress to OnProgress). The cursor must be closed (STRATA_TABLEOPEN).
  RestructurePreview PreviewRestructure(const RestructureOptions& options,
                                        const TableDefinition& definition);

  // A new version of a table, built as a table of its own (usually in a
  // run's temporary folder) and then put in the table's place whole.
  //
  // CreateTableLike: creates the table this cursor names (closed, exclusive,
  // writable) empty, with the structure of the table `source` has open: its
  // fields, indexes, full-text parameters and header properties, enciphered
  // with the password that opened it. With keepCounters the new table goes
  // on from the source's LastAutoIncValue and LastRecordID; without, they
  // start at 0 as in an emptied table. Raises what CreateTableFiles raises.
  void CreateTableLike(TDataCursor& source, bool keepCounters);
  // CopyTableFilesFrom: the files of the table `source` has open, copied
  // byte for byte to the table this cursor names (closed), under the
  // source's table read lock so that no writer is halfway through; an
  // existing table of that name is replaced. Returns the source's
  // ChangeCount the copy was taken at.
  std::int32_t CopyTableFilesFrom(TDataCursor& source);
  // ReplaceTableFiles: the complete table `newTable` of `newDirectory`
  // (closed, every byte on the disk) takes the place of the table this
  // cursor names (closed), and the table's previous files are deleted. The
  // swap is the one a full rebuild ends with, through the table's journal:
  // a crash or a failure at any moment leaves the old table or the new one,
  // the next user of the table finishing or undoing the swap. STRATA_OSEACCES
  // when another change holds the table's journal, or when a file is held
  // open (the new table's files are deleted then).
  void ReplaceTableFiles(TDataDirectory& newDirectory, std::string_view newTable);

  // Checks the table the cursor names against its file formats and returns
  // true when nothing was found; with repair it also fixes what it finds
  // (true when nothing needed fixing) and, with forceIndexRebuild, rebuilds
  // every index. Each finding is a line to OnLog, the progress goes to
  // OnProgress with its text. The cursor must be closed (STRATA_TABLEOPEN) and
  // exclusive (STRATA_NEEDEXCLACCESS), and writable for a repair (STRATA_OSEACCES, also for a table
  // that opens read-only); the table is opened without the ordinary header
  // checks and closed again, a repair's changes written.
  //
  // A missing or unreadable index file is a finding: a verification logs it
  // and returns false at once; a repair keeps an unreadable file aside,
  // rebuilds the default primary index and the records' keys, and logs that
  // the table's own index definitions are lost. LostIndex tells the caller
  // afterwards (a caller that knows the definitions can restore them).
  bool VerifyOrRepairTable(bool repair, bool forceIndexRebuild = false);
  LostIndexFile LostIndex() const { return lostIndex_; }

  // Zeroes the buffer and stores every field's default value.
  void ApplyDefaults(std::span<std::uint8_t> record);
  // Required fields, minimums and maximums, fields in order: STRATA_REQDERR, STRATA_MINVALERR or
  // STRATA_MAXVALERR naming the first field that fails.
  void CheckConstraints(std::span<const std::uint8_t> record);

  // Adds the record in the buffer (at least RecordSize bytes) to the table:
  // AutoInc values for NULL AutoInc fields (unless SkipAutoInc), the
  // constraints, a new RecordID (unless the cursor keeps RecordIDs), the
  // RecordHash (with ComputeHash), the unique check (unless skipped; STRATA_KEYVIOL
  // naming the index), every key and full-text word, the changed BLOB values
  // the buffer holds, then the record itself in the first free slot (or a
  // new one). The buffer's link (offset 1) is cleared first unless KeepLink,
  // and holds the new record's number afterwards; its open BLOBs are
  // released and replaced by their stored references. An insert that fails
  // leaves the table as it was. A shared cursor holds the table write lock
  // and the slot's record lock for the insert and writes everything at
  // once; an exclusive one takes no locks and leaves the headers to the
  // flush or close. STRATA_OSEACCES for a read-only cursor.
  void InsertRecord(std::span<std::uint8_t> record, const InsertOptions& options = {});
  // While a build is given, InsertRecord hands the record's keys and words
  // to it once the record is stored, instead of inserting them, and checks
  // no unique index: the build sorts the keys, fills the trees and finds the
  // duplicates (see SortedIndexBuild). Null returns to the ordinary path.
  void DeferKeys(SortedIndexBuild* build) { deferredKeys_ = build; }
  // Sorts of an index build of this table: the engine's sort memory, the
  // runs where a restructure builds its temporary tables (the memory
  // database itself, the table's directory when temporary tables go into
  // the database, else the session's private directory).
  SortedBuildSettings SortSettingsHere() const;
  // Removes a record with its keys, words and BLOB chains and puts its slot
  // on the free chain. STRATA_RECNOTFOUND for a slot outside the table, STRATA_KEYORRECDELETED for
  // a slot that holds no record.
  void DeleteRecord(std::int32_t recordNumber);
  // The record the last insert stored (0: none).
  std::int32_t CurrentRecord() const { return currentRecord_; }

  // Index operations on the current index (a slot number; 255: none).
  void SetCurrentIndex(int slot) { currentIndex_ = slot; }
  int CurrentIndex() const { return currentIndex_; }
  // The key of a record for the current index, valid until the next key is
  // built.
  std::span<const std::uint8_t> BuildKey(std::span<const std::uint8_t> record);
  std::optional<std::int32_t> FindKey(std::span<const std::uint8_t> key);
  void InsertKey(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  void DeleteKey(std::span<const std::uint8_t> key);
  // The full-text words of a stored record (its string fields and the
  // stored content of its memos).
  // The texts of the full-text index of a record (strings, memo contents),
  // held in storage.
  std::vector<FieldText> RecordTexts(std::span<const std::uint8_t> record,
                                     std::int32_t recordNumber, std::vector<std::string>& storage);
  void AddRecordWords(std::span<const std::uint8_t> record, std::int32_t recordNumber);
  // The key maintenance of the open table (built on first use).
  TableIndexWriter& Indexes();

  // BLOB values. OpenBlob opens a field's value (reading the chain the
  // buffer names; an open field gains a reference) and returns its length:
  // STRATA_INVALIDBLOBOFFSET for a handle that names no open value, STRATA_OPENBLOBLIMIT beyond 128
  // open values.
  std::size_t OpenBlob(std::span<std::uint8_t> record, std::uint16_t number, int mode = 1);
  // The value of an open field (STRATA_INVALIDBLOBOFFSET when it is not open).
  std::span<const std::uint8_t> BlobValue(std::span<const std::uint8_t> record,
                                          std::uint16_t number) const;
  // Replaces a field's value, opening it for writing first when needed.
  void SetBlobValue(std::span<std::uint8_t> record, std::uint16_t number,
                    std::span<const std::uint8_t> bytes);
  // Drops a reference; the last one puts the stored reference back.
  void CloseBlob(std::span<std::uint8_t> record, std::uint16_t number);
  // Forgets every open value (their handles in buffers become invalid).
  void FreeBlobs();
  std::size_t OpenBlobCount() const;

  // Hooks, set by the creator of the cursor; each may be empty.
  ProgressHook OnProgress;
  DataLossHook OnDataLost;
  LogHook OnLog;

  // Progress of one operation over `total` units: a report whenever the
  // percentage has grown by the session's ProgressStep, and a final 100
  // unless that was reported already.
  void BeginProgress(std::string_view text = {});
  void StepProgress(std::int64_t done, std::int64_t total);
  void EndProgress();

  // Data-loss reports of one operation: StopAsking starts false and Continue
  // true; the hook is asked only while StopAsking is false (or when forced).
  // Returns Continue.
  void ResetDataLoss();
  bool ReportDataLoss(TDataLossCause cause, std::string_view context, bool evenWhenStopAsking = false);
  bool StopAsking() const { return stopAsking_; }
  bool ContinueOperation() const { return continue_; }

  // A log line, cut to 255 characters.
  void Log(std::string_view line) const;

 private:
  void RequireOpen() const;
  void OpenTable(bool verifyHeaders, bool rebuildLostIndex);
  // The index page and BLOB block sizes of a new structure, rounded up to
  // multiples of 8, once the whole structure has been validated with them.
  struct StructureSizes {
    std::int32_t PageSize;
    std::int32_t BlockSize;
  };
  StructureSizes ValidateNewStructure(const TableProperties& properties,
                                      const TableDefinition& definition) const;
  void FullRebuild(const RestructureOptions& options, std::int32_t lastAutoInc,
                   std::int32_t pageSize, std::int32_t blockSize,
                   const TableDefinition& definition);
  void IndexRebuild(bool suppressBackups, bool textParamsChanged,
                    const FullTextParams& wantedText, const TableDefinition& definition,
                    const std::function<void()>& writeHeader);
  // Closes the table without writing anything it changed.
  void CloseDiscardingChanges() noexcept;
  // Sorts of an index build: the engine's sort memory, runs in the folder.
  SortedBuildSettings SortSettings(const TDataDirectory& tempDirectory) const;
  // Reports each record a sorted build refused as a key violation naming
  // its index; false when a report stopped the operation.
  bool ReportRefusedRecords(const SortedIndexBuild::Outcome& outcome, const TIndexFile& index);
  // Deletes the refused records (with their keys) and inserts the keys
  // their groups keep instead.
  void TakeOutRefusedRecords(const SortedIndexBuild::Outcome& outcome);
  void UpdateHeader(const RestructureOptions& options, std::int32_t lastAutoInc,
                    std::int32_t pageSize, std::int32_t blockSize,
                    const TableDefinition& definition);
  // Where each file of the new table and of the old one goes in the swap
  // that ends a full rebuild.
  JournalSwap PlanSwap(TDataDirectory& tempDirectory, const std::string& tempName,
                       bool newHasBlobs, bool suppressBackups) const;
  CursorWriteState& WriteState();
  // The start of an insert or delete: the table's write lock when the table
  // is shared outside a transaction (the write state is rebuilt when another
  // user changed the table), then the write state.
  CursorWriteState& BeginWrite(WriteLocks& locks);
  void RecoverIndexes();
  void StoreRecord(std::span<std::uint8_t> record, const InsertOptions& options);
  void AssignAutoInc(std::span<std::uint8_t> work);
  void AssignRecordID(std::span<std::uint8_t> work);
  void ComputeRecordHash(std::span<std::uint8_t> work);
  void FinishWrite(bool shared);
  TBlobBuffer* OpenBlobOf(std::span<const std::uint8_t> record, const FieldDescriptor& field) const;
  const FieldDescriptor& RequireField(std::uint16_t number) const;
  [[noreturn]] void Raise(std::uint16_t code, std::string_view field = {},
                          std::string_view index = {}) const;

  TDataDirectory& directory_;
  std::string tableName_;
  std::string displayName_;
  CursorModes modes_;
  TDataTable* table_ = nullptr;
  std::string progressText_;
  std::int32_t lastProgress_ = 0;
  bool progressEnded_ = false;
  bool stopAsking_ = false;
  bool continue_ = true;
  std::int32_t currentRecord_ = 0;
  LostIndexFile lostIndex_ = LostIndexFile::None;
  int currentIndex_ = 0;
  std::unique_ptr<CursorWriteState> write_;
  SortedIndexBuild* deferredKeys_ = nullptr;
  // Open BLOB values; handle n is entry n - 1 (empty entries are free).
  std::vector<std::unique_ptr<TBlobBuffer>> blobs_;
};

}  // namespace strata
