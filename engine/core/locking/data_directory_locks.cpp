#include "engine/core/locking/data_directory_locks.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <string>

#include "engine/common/byte_order.h"
#include "engine/core/locking/lock_file_layout.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/locale/windows1252.h"
#include "platform/process.h"

namespace strata {

namespace {

// The list's header and entries, where lock_file_layout.h places them.
using lock_file_layout::kHeaderSize;
using lock_file_layout::kMaxNameLength;
// ListLength counts its own bytes.
constexpr auto kListLengthSize = static_cast<std::int32_t>(lock_file_layout::kListLengthSize);

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (kWindows1252Upper[static_cast<unsigned char>(a[i])] !=
        kWindows1252Upper[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

std::string_view StoredName(std::string_view name) { return name.substr(0, kMaxNameLength); }

// Seeds differ between threads and processes of one start-up moment.
std::minstd_rand::result_type RandomSeed(const void* object) {
  const std::size_t mixed = std::hash<std::string>{}(platform::ThreadIdText()) ^
                            std::hash<std::uint64_t>{}(platform::TickCount()) ^
                            std::hash<const void*>{}(object);
  return static_cast<std::minstd_rand::result_type>(mixed % 2147483646u) + 1u;
}

}  // namespace

TDataDirectoryLocks::TDataDirectoryLocks(FileRegistry& registry, std::string path,
                                         std::string databaseName, const LockOffsets& offsets,
                                         const TableLockSettings& settings,
                                         std::string lockFileName, bool inMemory,
                                         std::string dataExtension, LockFileTiming timing)
    : path_(std::move(path)),
      databaseName_(std::move(databaseName)),
      dataExtension_(std::move(dataExtension)),
      offsets_(offsets),
      settings_(settings),
      timing_(timing),
      lockFile_(registry, path_ + lockFileName, inMemory),
      random_(RandomSeed(this)) {
  lockFile_.Hidden = true;
}

TDataDirectoryLocks::~TDataDirectoryLocks() {
  SetAsideError("a destructor must not throw", [&] { CloseLockFile(); });
}

void TDataDirectoryLocks::Raise(std::uint16_t code) const {
  RaiseEngineError(code, {}, {}, databaseName_);
}

void TDataDirectoryLocks::RaiseDamaged(const std::string& problem) const {
  RaiseTableError(STRATA_HEADERCORRUPT, lockFile_.Path() + ": " + problem, databaseName_);
}

// ---------------------------------------------------------------------------
// Opening and closing

void TDataDirectoryLocks::OpenLockFileForReading() {
  forReading_ = true;
  if (!lockFile_.Exists()) {
    disabled_ = true;
    return;
  }
  OpenLockFile();
}

void TDataDirectoryLocks::OpenLockFile() {
  disabled_ = false;
  bool entriesKnown = false;
  if (!lockFile_.Exists() && !forReading_) {
    entriesKnown = CreateLockFile();
    disabled_ = !entriesKnown;
  }
  if (!lockFile_.Exists()) {
    disabled_ = true;
    return;
  }
  bool rebuilt = false;
  for (std::int32_t attempt = 0; attempt < timing_.OpenAttempts; ++attempt) {
    if (attempt > 0) platform::SleepMilliseconds(timing_.OpenWaitTime);
    try {
      lockFile_.Exclusive = false;
      lockFile_.ReadOnly = false;
      lockFile_.Open();
      // Byte-range locks need a writable handle: a file that opened only for
      // reading makes the directory a read-only database.
      disabled_ = lockFile_.ReadOnly || lockFile_.ForcedReadOnly;
    } catch (const EStrataEngineError&) {
      // Another user may be creating the file; try again.
      continue;
    }
    if (entriesKnown) return;
    try {
      ReadEntriesShared();
      return;
    } catch (const EStrataEngineError& error) {
      // A list that cannot be read stays so however long one waits: it was
      // damaged (no writer leaves a torn list behind; writes happen under
      // the write lock). Waiting and then locking nothing would shut every
      // writer out, so the list is written anew when nobody else uses it.
      if (error.Code != STRATA_HEADERCORRUPT) continue;
      CloseQuietly();
      entries_.clear();
      cachedStamp_ = 0;
      if (disabled_ || forReading_ || rebuilt) break;
      RebuildDamagedLockFile(error.TableName);
      rebuilt = true;
    }
  }
  CloseQuietly();
  entries_.clear();
  cachedStamp_ = 0;
  disabled_ = true;
}

bool TDataDirectoryLocks::CreateLockFile() {
  try {
    // Another user may create the file at the same moment: only one creation
    // succeeds, and the other user reads the list instead of replacing it.
    lockFile_.FailIfExists = true;
    lockFile_.CreateNew();
    lockFile_.FailIfExists = false;
    cachedStamp_ = 0;
    const std::vector<std::string> tables = TablesOfDirectory();
    for (const std::string& table : tables) {
      if (entries_.size() == static_cast<std::size_t>(LockOffsets::kTableSlots)) break;
      Append(table);
    }
    WriteEntries();
    lockFile_.Close();
    return true;
  } catch (const EStrataEngineError&) {
    lockFile_.FailIfExists = false;
    CloseQuietly();
    entries_.clear();
    cachedStamp_ = 0;
    return false;
  }
}

void TDataDirectoryLocks::RebuildDamagedLockFile(const std::string& finding) {
  // The share lock tells whether another user has the file open: every
  // user holds it shared while the directory is open, so an exclusive open
  // succeeds only when nobody does (and keeps them out meanwhile).
  lockFile_.Exclusive = true;
  try {
    lockFile_.Open();
  } catch (const EStrataEngineError&) {
    lockFile_.Exclusive = false;
    RaiseTableError(STRATA_HEADERCORRUPT,
                    finding + "; another program has it open, so it is not rewritten",
                    databaseName_);
  }
  try {
    const std::vector<std::string> tables = TablesOfDirectory();
    for (const std::string& table : tables) {
      if (entries_.size() == static_cast<std::size_t>(LockOffsets::kTableSlots)) break;
      Append(table);
    }
    // Whoever read the damaged list before has no slots to keep: nobody has
    // the file open now.
    cachedStamp_ = 0;
    WriteEntries();
    lockFile_.Close();
  } catch (const EStrataEngineError&) {
    CloseQuietly();
    throw;
  }
  lockFile_.Exclusive = false;
  entries_.clear();
  cachedStamp_ = 0;
}

std::vector<std::string> TDataDirectoryLocks::TablesOfDirectory() {
  std::vector<std::string> tables = lockFile_.Registry().ListFiles(
      lockFile_.InMemory(), path_ + "*" + dataExtension_, true);
  for (std::string& table : tables) table = TableNameOf(table, dataExtension_);
  return tables;
}

void TDataDirectoryLocks::ReadEntriesShared() {
  ReadLockLockFile();
  try {
    RefreshEntries();
  } catch (const EStrataEngineError&) {
    SetAsideError("a release after a failure; the failure is what the caller sees",
                  [&] { ReadUnlockLockFile(); });
    throw;
  }
  ReadUnlockLockFile();
}

void TDataDirectoryLocks::CloseLockFile() {
  for (const auto& entry : entries_) entry->ReleaseAll();
  constexpr std::string_view kClosing =
      "closing releases every lock; one that fails is gone with the file";
  SetAsideError(kClosing, [&] { WriteUnlockAllTables(); });
  SetAsideError(kClosing, [&] { UnlockAllTransactions(); });
  SetAsideError(kClosing, [&] { ReadUnlockLockFile(); });
  SetAsideError(kClosing, [&] { WriteUnlockLockFile(); });
  entries_.clear();
  unlisted_.reset();
  cachedStamp_ = 0;
  if (lockFile_.IsOpen()) lockFile_.Close();
}

void TDataDirectoryLocks::CloseQuietly() noexcept {
  SetAsideError("a quiet close after a failure; the failure is what the caller sees", [&] {
    if (lockFile_.IsOpen()) lockFile_.Close();
  });
}

// ---------------------------------------------------------------------------
// Entries

TDataTableLocks* TDataDirectoryLocks::Find(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (SameName(entry->Name(), name)) return entry.get();
  }
  return nullptr;
}

TDataTableLocks& TDataDirectoryLocks::Append(std::string_view name) {
  const auto slot = static_cast<std::int32_t>(entries_.size()) + 1;
  auto& entry = entries_.emplace_back(
      std::make_unique<TDataTableLocks>(*this, slot, std::string(StoredName(name))));
  // A directory-wide lock already covers the new slot.
  if (allTransactionsLocked_) entry->SetShared(TDataTableLocks::kTransactionHeld);
  if (allTablesLocked_) entry->SetShared(TDataTableLocks::kWriteHeld);
  return *entry;
}

TDataTableLocks& TDataDirectoryLocks::EntryFor(std::string_view tableName) {
  const std::string_view name = StoredName(tableName);
  const auto full = [this] {
    return entries_.size() >= static_cast<std::size_t>(LockOffsets::kTableSlots);
  };
  if (disabled_) {
    // Nothing is locked, so the entry only needs to exist in memory; a
    // read-only lock file is never written.
    if (TDataTableLocks* found = Find(name)) return *found;
    if (full()) Raise(STRATA_DATABASEFULL);
    return Append(name);
  }
  if (forReading_) return ListedOrUnlisted(name);
  WriteLockLockFile();
  TDataTableLocks* entry = nullptr;
  try {
    RefreshEntries();
    entry = Find(name);
    if (entry == nullptr) {
      if (full()) Raise(STRATA_DATABASEFULL);
      entry = &Append(name);
      try {
        WriteEntries();
      } catch (const EStrataEngineError&) {
        entries_.pop_back();
        throw;
      }
    }
  } catch (const EStrataEngineError&) {
    SetAsideError("a release after a failure; the failure is what the caller sees",
                  [&] { WriteUnlockLockFile(); });
    throw;
  }
  WriteUnlockLockFile();
  return *entry;
}

TDataTableLocks& TDataDirectoryLocks::ListedOrUnlisted(std::string_view name) {
  ReadEntriesShared();
  if (TDataTableLocks* entry = Find(name)) return *entry;
  if (!unlisted_) {
    unlisted_ = std::make_unique<TDataDirectoryLocks>(lockFile_.Registry(), path_, databaseName_,
                                                      offsets_, settings_, "", lockFile_.InMemory(),
                                                      dataExtension_, timing_);
    unlisted_->disabled_ = true;
  }
  return unlisted_->EntryFor(name);
}

void TDataDirectoryLocks::RefreshEntries() {
  if (!lockFile_.IsOpen()) return;
  TEngineFile::IoGuard io(lockFile_);
  const std::int64_t size = lockFile_.GetFileSize();
  // An empty file is a list whose creator stopped before writing it.
  if (size == 0) return;
  if (size < static_cast<std::int64_t>(kHeaderSize)) {
    RaiseDamaged("only " + std::to_string(size) + " bytes, shorter than its 8-byte header");
  }
  std::uint8_t header[kHeaderSize];
  lockFile_.Seek(TBaseFile::kFromStart, 0);
  lockFile_.Read(std::as_writable_bytes(std::span(header)), false);
  const std::int32_t stamp = LoadI32(header + lock_file_layout::kStamp);
  if (stamp == cachedStamp_) return;
  const std::int32_t len = LoadI32(header + lock_file_layout::kListLength);
  if (len < kListLengthSize ||
      len - kListLengthSize > size - static_cast<std::int64_t>(kHeaderSize)) {
    RaiseDamaged("its stored list length " + std::to_string(len) + " does not fit its " +
                 std::to_string(size) + " bytes");
  }
  buffer_.resize(static_cast<std::size_t>(len - kListLengthSize));
  lockFile_.Read(std::as_writable_bytes(std::span(buffer_)), false);

  std::vector<std::string_view> names;
  for (std::size_t at = 0; at < buffer_.size();) {
    const std::size_t length = buffer_[at++];
    if (length > buffer_.size() - at) RaiseDamaged("a table name runs past the end of the list");
    names.emplace_back(reinterpret_cast<const char*>(buffer_.data() + at), length);
    at += length;
  }
  // Slots are never removed, and there are never more than the window holds.
  if (names.size() < entries_.size() ||
      names.size() > static_cast<std::size_t>(LockOffsets::kTableSlots)) {
    RaiseDamaged("it lists " + std::to_string(names.size()) + " tables where " +
                 std::to_string(entries_.size()) + " were known and at most " +
                 std::to_string(LockOffsets::kTableSlots) + " fit");
  }
  for (std::size_t i = entries_.size(); i < names.size(); ++i) Append(names[i]);
  cachedStamp_ = stamp;
}

void TDataDirectoryLocks::WriteEntries() {
  const std::int32_t stamp = cachedStamp_ == INT32_MAX ? 1 : cachedStamp_ + 1;
  std::size_t length = kHeaderSize;
  for (const auto& entry : entries_) {
    length += lock_file_layout::kNameLengthSize + entry->Name().size();
  }
  std::vector<std::uint8_t> image(length);
  StoreI32(image.data() + lock_file_layout::kStamp, stamp);
  // ListLength: the bytes from that field to the end of the list.
  StoreI32(image.data() + lock_file_layout::kListLength,
           static_cast<std::int32_t>(length - lock_file_layout::kListLength));
  std::size_t at = lock_file_layout::kEntries;
  for (const auto& entry : entries_) {
    const std::string& name = entry->Name();
    image[at++] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    at += name.size();
  }
  {
    TEngineFile::IoGuard io(lockFile_);
    lockFile_.Seek(TBaseFile::kFromStart, 0);
    lockFile_.Write(std::as_bytes(std::span(image)));
  }
  lockFile_.Flush();
  cachedStamp_ = stamp;
}

// ---------------------------------------------------------------------------
// Lock-file locks

void TDataDirectoryLocks::ReadLockLockFile() {
  if (readLockByte_ != 0) return;
  const std::optional<std::uint16_t> byte =
      TryReadByte(timing_.RetryCount, timing_.WaitTime, offsets_.LockFileWindow().Offset);
  if (!byte) Raise(STRATA_LOCKREADLOCK);
  // Disabled gives byte 0: nothing to release later.
  readLockByte_ = *byte;
}

void TDataDirectoryLocks::ReadUnlockLockFile() {
  if (readLockByte_ == 0) return;
  const bool released = ReleaseReadByte(offsets_.LockFileWindow().Offset, readLockByte_);
  readLockByte_ = 0;
  if (!released) Raise(STRATA_LOCKREADUNLOCK);
}

void TDataDirectoryLocks::WriteLockLockFile() {
  if (writeLocked_) return;
  const LockRange window = offsets_.LockFileWindow();
  if (!TryRange(timing_.RetryCount, timing_.WaitTime, window.Length, window.Offset)) {
    Raise(STRATA_LOCKWRITELOCK);
  }
  writeLocked_ = true;
}

void TDataDirectoryLocks::WriteUnlockLockFile() {
  if (!writeLocked_) return;
  const LockRange window = offsets_.LockFileWindow();
  writeLocked_ = false;
  if (!ReleaseRange(window.Length, window.Offset)) Raise(STRATA_LOCKWRITEUNLOCK);
}

// ---------------------------------------------------------------------------
// Transactions over all tables

void TDataDirectoryLocks::LockAllTransactions() {
  if (!allTransactionsLocked_) {
    const LockRange range = offsets_.AllTransactionBytes();
    if (!TryRange(settings_.TableTransLockRetryCount, settings_.TableTransLockWaitTime,
                  range.Length, range.Offset)) {
      Raise(STRATA_TRANSLOCK);
    }
    allTransactionsLocked_ = true;
  }
  for (const auto& entry : entries_) entry->SetShared(TDataTableLocks::kTransactionHeld);
}

void TDataDirectoryLocks::UnlockAllTransactions() {
  if (!allTransactionsLocked_) return;
  const LockRange range = offsets_.AllTransactionBytes();
  allTransactionsLocked_ = false;
  for (const auto& entry : entries_) entry->ClearShared(TDataTableLocks::kTransactionHeld);
  if (!ReleaseRange(range.Length, range.Offset)) Raise(STRATA_TRANSUNLOCK);
}

void TDataDirectoryLocks::WriteLockAllTables() {
  if (!allTablesLocked_) {
    const LockRange range = offsets_.AllTableWindows();
    if (!TryRange(settings_.TableWriteLockRetryCount, settings_.TableWriteLockWaitTime,
                  range.Length, range.Offset)) {
      Raise(STRATA_TRANSLOCK);
    }
    allTablesLocked_ = true;
  }
  for (const auto& entry : entries_) entry->SetShared(TDataTableLocks::kWriteHeld);
}

void TDataDirectoryLocks::WriteUnlockAllTables() {
  if (!allTablesLocked_) return;
  const LockRange range = offsets_.AllTableWindows();
  allTablesLocked_ = false;
  for (const auto& entry : entries_) entry->ClearShared(TDataTableLocks::kWriteHeld);
  if (!ReleaseRange(range.Length, range.Offset)) Raise(STRATA_TRANSUNLOCK);
}

// ---------------------------------------------------------------------------
// Primitives

std::optional<std::uint16_t> TDataDirectoryLocks::TryReadByte(std::int32_t retryCount,
                                                              std::uint32_t wait,
                                                              std::int64_t windowOffset) {
  if (disabled_) return std::uint16_t{0};
  if (!lockFile_.IsOpen()) return std::nullopt;
  std::uniform_int_distribution<int> below(0, 65534);
  for (std::int32_t failures = 0;;) {
    const auto byte = static_cast<std::uint16_t>(std::max(1, below(random_)));
    if (lockFile_.LockBytes(true, 1, windowOffset + byte - 1)) return byte;
    if (++failures > retryCount) return std::nullopt;
    platform::SleepMilliseconds(wait);
  }
}

bool TDataDirectoryLocks::ReleaseReadByte(std::int64_t windowOffset, std::uint16_t byte) {
  if (disabled_) return true;
  if (byte == 0) return false;
  return lockFile_.LockBytes(false, 1, windowOffset + byte - 1);
}

bool TDataDirectoryLocks::TryRange(std::int32_t retryCount, std::uint32_t wait,
                                   std::int64_t length, std::int64_t offset) {
  if (disabled_) return true;
  if (!lockFile_.IsOpen()) return false;
  for (std::int32_t failures = 0;;) {
    if (lockFile_.LockBytes(true, length, offset)) return true;
    if (++failures > retryCount) return false;
    platform::SleepMilliseconds(wait);
  }
}

bool TDataDirectoryLocks::ReleaseRange(std::int64_t length, std::int64_t offset) {
  if (disabled_) return true;
  return lockFile_.LockBytes(false, length, offset);
}

}  // namespace strata
