// TDataTable: record, table and semaphore locks on the data file, the table
// read and write locks in the lock file, and the table's transaction steps.
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "platform/process.h"

namespace strata {

bool TDataTable::TryDataLock(std::int64_t length, std::int64_t offset) {
  if (LocksDisabled()) return true;
  return data_ != nullptr && data_->LockBytes(true, length, offset);
}

// ---------------------------------------------------------------------------
// Record locks

bool TDataTable::RecordLocked(std::int32_t record) const {
  return lockedRecords_.contains(record) || transactionRecords_.contains(record);
}

bool TDataTable::LockRecord(std::int32_t record) {
  if (tableLocked_ || unlockDeferred_) return false;
  if (record <= 0 || lockedRecords_.contains(record) || !isOpen_) Raise(STRATA_RECLOCKFAILED);
  bool changed = false;
  if (!transactionRecords_.contains(record)) {
    const TDataSession& session = Session();
    const bool strict = session.StrictChangeDetection();
    if (!strict) changed = ReadLockTable();
    const LockRange range = Engine().Offsets().Record(record);
    for (std::int32_t failures = 0; !TryDataLock(range.Length, range.Offset);) {
      // Give writers a chance while waiting.
      if (!strict) ReadUnlockTable();
      if (++failures > session.LockRetryCount()) Raise(STRATA_RECLOCKFAILED);
      platform::SleepMilliseconds(session.LockWaitTime());
      if (!strict) changed = ReadLockTable() || changed;
    }
  }
  lockedRecords_.insert(record);
  transactionRecords_.erase(record);
  return changed;
}

void TDataTable::UnlockRecord(std::int32_t record) {
  if (tableLocked_ || unlockDeferred_) return;
  if (!RecordLocked(record)) Raise(STRATA_UNLOCKFAILED);
  if (inTransaction_) {
    // The byte stays locked until the transaction ends.
    lockedRecords_.erase(record);
    transactionRecords_.insert(record);
    return;
  }
  const LockRange range = Engine().Offsets().Record(record);
  const bool released =
      LocksDisabled() || (data_ != nullptr && data_->LockBytes(false, range.Length, range.Offset));
  lockedRecords_.erase(record);
  transactionRecords_.erase(record);
  if (!released) Raise(STRATA_UNLOCKFAILED);
}

void TDataTable::UnlockAllRecords(bool transactionHeld) {
  std::set<std::int32_t>& records = transactionHeld ? transactionRecords_ : lockedRecords_;
  bool released = true;
  for (const std::int32_t record : records) {
    const LockRange range = Engine().Offsets().Record(record);
    if (!LocksDisabled() &&
        !(data_ != nullptr && data_->LockBytes(false, range.Length, range.Offset))) {
      released = false;
    }
  }
  records.clear();
  if (!released) Raise(STRATA_UNLOCKFAILED);
  if (!transactionHeld) {
    if (tableLocked_) UnlockTable();
  } else if (unlockDeferred_) {
    const LockRange range = Engine().Offsets().WholeTable();
    unlockDeferred_ = false;
    if (!LocksDisabled() &&
        !(data_ != nullptr && data_->LockBytes(false, range.Length, range.Offset))) {
      Raise(STRATA_UNLOCKFAILED);
    }
  }
}

// ---------------------------------------------------------------------------
// The whole-table lock and semaphores

bool TDataTable::LockTable() {
  if (tableLocked_ || !lockedRecords_.empty() || !transactionRecords_.empty() || !isOpen_) {
    Raise(STRATA_LOCKED);
  }
  bool changed = false;
  if (!unlockDeferred_) {
    const TDataSession& session = Session();
    const LockRange range = Engine().Offsets().WholeTable();
    for (std::int32_t failures = 0; !TryDataLock(range.Length, range.Offset);) {
      if (++failures > session.LockRetryCount()) Raise(STRATA_LOCKED);
      platform::SleepMilliseconds(session.LockWaitTime());
    }
    if (lockEntry_ != nullptr && lockEntry_->Held() == 0) changed = CheckForChanges();
  }
  unlockDeferred_ = false;
  tableLocked_ = true;
  return changed;
}

void TDataTable::UnlockTable() {
  if (!tableLocked_) Raise(STRATA_UNLOCKFAILED);
  if (inTransaction_) {
    unlockDeferred_ = true;
    tableLocked_ = false;
    return;
  }
  const LockRange range = Engine().Offsets().WholeTable();
  const bool released =
      LocksDisabled() || (data_ != nullptr && data_->LockBytes(false, range.Length, range.Offset));
  tableLocked_ = false;
  unlockDeferred_ = false;
  if (!released) Raise(STRATA_UNLOCKFAILED);
}

bool TDataTable::LockSemaphore(std::int32_t semaphore) {
  if (semaphore < 1 || semaphore > LockOffsets::kSemaphoreCount || !isOpen_) return false;
  // The store refuses a second lock of this table's own byte anyway.
  if (lockedSemaphores_[static_cast<std::size_t>(semaphore)]) return false;
  const TDataSession& session = Session();
  const LockRange range = Engine().Offsets().Semaphore(semaphore);
  for (std::int32_t failures = 0; !TryDataLock(range.Length, range.Offset);) {
    if (++failures > session.LockRetryCount()) return false;
    platform::SleepMilliseconds(session.LockWaitTime());
  }
  lockedSemaphores_.set(static_cast<std::size_t>(semaphore));
  return true;
}

bool TDataTable::UnlockSemaphore(std::int32_t semaphore) {
  if (semaphore < 1 || semaphore > LockOffsets::kSemaphoreCount) return false;
  // Only what this table holds: the store's locks are shared by every
  // session of the process.
  if (!lockedSemaphores_[static_cast<std::size_t>(semaphore)]) return false;
  const LockRange range = Engine().Offsets().Semaphore(semaphore);
  if (!LocksDisabled() &&
      !(data_ != nullptr && data_->LockBytes(false, range.Length, range.Offset))) {
    return false;
  }
  lockedSemaphores_.reset(static_cast<std::size_t>(semaphore));
  return true;
}

// ---------------------------------------------------------------------------
// Table read and write locks

bool TDataTable::ReadLockTable() {
  if (lockEntry_ == nullptr || tableLocked_) return false;
  if (!lockEntry_->ReadLock()) return false;
  return CheckForChanges();
}

void TDataTable::ReadUnlockTable() {
  if (lockEntry_ == nullptr || tableLocked_) return;
  lockEntry_->ReadUnlock();
}

bool TDataTable::WriteLockTable() {
  if (lockEntry_ == nullptr || tableLocked_) return false;
  // The own read byte lies inside the window the write lock takes.
  lockEntry_->ReadUnlock();
  if (!lockEntry_->WriteLock(!inTransaction_)) return false;
  return CheckForChanges();
}

void TDataTable::WriteUnlockTable() {
  if (lockEntry_ == nullptr || tableLocked_) return;
  lockEntry_->WriteUnlock(!inTransaction_);
}

// ---------------------------------------------------------------------------
// Transaction steps

void TDataTable::BeginTableTransaction(bool restricted) {
  if (!isOpen_ || readOnly_ || inTransaction_) return;
  // What an exclusive table holds in its caches belongs before the
  // transaction: a rollback drops the caches.
  if (exclusive_) Flush();
  if (restricted) {
    if (lockEntry_ != nullptr && lockEntry_->TransLock()) CheckForChanges();
  } else {
    CheckForChanges();
  }
  inTransaction_ = true;
}

void TDataTable::CommitTable(bool restricted, bool end, bool forceOsFlush) {
  if (!inTransaction_) return;
  const bool ownWriteLock = restricted && lockEntry_ != nullptr;
  if (ownWriteLock) {
    lockEntry_->ReadUnlock();
    lockEntry_->WriteLock(false);
  }
  inTransaction_ = false;
  try {
    Flush(false, {}, forceOsFlush);
  } catch (...) {
    inTransaction_ = true;
    if (ownWriteLock) {
      SetAsideError("a release after a failure; the failure is what the caller sees",
                    [&] { lockEntry_->WriteUnlock(false); });
    }
    throw;
  }
  if (ownWriteLock) lockEntry_->WriteUnlock(false);
  if (!end) {
    inTransaction_ = true;
    return;
  }
  UnlockAllRecords(true);
  if (restricted && lockEntry_ != nullptr) lockEntry_->TransUnlock();
}

void TDataTable::RollbackTable(bool restricted) {
  if (!inTransaction_) return;
  inTransaction_ = false;
  std::exception_ptr failure;
  KeepFirstError(failure, [&] { DropCaches(false, true); });
  KeepFirstError(failure, [&] { UnlockAllRecords(true); });
  if (restricted && lockEntry_ != nullptr) {
    KeepFirstError(failure, [&] { lockEntry_->TransUnlock(); });
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace strata
