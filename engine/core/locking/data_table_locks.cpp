#include "engine/core/locking/data_table_locks.h"

#include "engine/core/locking/data_directory_locks.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"

namespace strata {

TDataTableLocks::TDataTableLocks(TDataDirectoryLocks& owner, std::int32_t slot, std::string name)
    : owner_(owner), slot_(slot), name_(std::move(name)) {}

void TDataTableLocks::Raise(std::uint16_t code) const {
  RaiseTableError(code, name_, owner_.DatabaseName());
}

bool TDataTableLocks::ReadLock() {
  if (held_ != 0) return false;
  const TableLockSettings& settings = owner_.Settings();
  const std::optional<std::uint16_t> byte =
      owner_.TryReadByte(settings.TableReadLockRetryCount, settings.TableReadLockWaitTime,
                         owner_.Offsets().TableWindow(slot_).Offset);
  if (!byte) Raise(STRATA_READLOCK);
  readLockByte_ = *byte;
  held_ |= kReadHeld;
  owned_ |= kReadHeld;
  return true;
}

void TDataTableLocks::ReadUnlock() {
  if ((held_ & kReadHeld) == 0) return;
  const bool released = (owned_ & kReadHeld) == 0 ||
                        owner_.ReleaseReadByte(owner_.Offsets().TableWindow(slot_).Offset,
                                               readLockByte_);
  held_ &= ~kReadHeld;
  owned_ &= ~kReadHeld;
  readLockByte_ = 0;
  if (!released) Raise(STRATA_READUNLOCK);
}

bool TDataTableLocks::WriteLock(bool takeTransactionByte) {
  if ((held_ & kWriteHeld) != 0) return false;
  const TableLockSettings& settings = owner_.Settings();
  const LockRange transactionByte = owner_.Offsets().TransactionByte(slot_);
  bool tookTransactionByte = false;
  if (takeTransactionByte && (held_ & kTransactionHeld) == 0) {
    if (!owner_.TryRange(settings.TableWriteLockRetryCount, settings.TableWriteLockWaitTime,
                         transactionByte.Length, transactionByte.Offset)) {
      Raise(STRATA_WRITELOCK);
    }
    held_ |= kTransactionHeld;
    owned_ |= kTransactionHeld;
    tookTransactionByte = true;
  }
  const LockRange window = owner_.Offsets().TableWindow(slot_);
  if (!owner_.TryRange(settings.TableWriteLockRetryCount, settings.TableWriteLockWaitTime,
                       window.Length, window.Offset)) {
    if (tookTransactionByte) {
      owner_.ReleaseRange(transactionByte.Length, transactionByte.Offset);
      held_ &= ~kTransactionHeld;
      owned_ &= ~kTransactionHeld;
    }
    Raise(STRATA_WRITELOCK);
  }
  held_ |= kWriteHeld;
  owned_ |= kWriteHeld;
  return true;
}

void TDataTableLocks::WriteUnlock(bool releaseTransactionByte) {
  bool released = true;
  if ((held_ & kWriteHeld) != 0) {
    const LockRange window = owner_.Offsets().TableWindow(slot_);
    if ((owned_ & kWriteHeld) != 0) released = owner_.ReleaseRange(window.Length, window.Offset);
    held_ &= ~kWriteHeld;
    owned_ &= ~kWriteHeld;
  }
  if (releaseTransactionByte && (held_ & kTransactionHeld) != 0) {
    const LockRange transactionByte = owner_.Offsets().TransactionByte(slot_);
    if ((owned_ & kTransactionHeld) != 0) {
      released = owner_.ReleaseRange(transactionByte.Length, transactionByte.Offset) && released;
    }
    held_ &= ~kTransactionHeld;
    owned_ &= ~kTransactionHeld;
  }
  if (!released) Raise(STRATA_WRITEUNLOCK);
}

bool TDataTableLocks::TransLock() {
  if ((held_ & kTransactionHeld) != 0) return false;
  const TableLockSettings& settings = owner_.Settings();
  const LockRange transactionByte = owner_.Offsets().TransactionByte(slot_);
  if (!owner_.TryRange(settings.TableTransLockRetryCount, settings.TableTransLockWaitTime,
                       transactionByte.Length, transactionByte.Offset)) {
    Raise(STRATA_TRANSLOCK);
  }
  held_ |= kTransactionHeld;
  owned_ |= kTransactionHeld;
  return true;
}

void TDataTableLocks::TransUnlock() {
  if ((held_ & kTransactionHeld) == 0) return;
  const LockRange transactionByte = owner_.Offsets().TransactionByte(slot_);
  const bool released = (owned_ & kTransactionHeld) == 0 ||
                        owner_.ReleaseRange(transactionByte.Length, transactionByte.Offset);
  held_ &= ~kTransactionHeld;
  owned_ &= ~kTransactionHeld;
  if (!released) Raise(STRATA_TRANSUNLOCK);
}

void TDataTableLocks::ClearShared(std::uint8_t bit) {
  // A bit this entry locked itself stays: its own range is still held.
  if ((owned_ & bit) == 0) held_ &= ~bit;
}

void TDataTableLocks::ReleaseAll() noexcept {
  constexpr std::string_view kEach =
      "releasing everything; one release that fails must not keep the others";
  SetAsideError(kEach, [&] { ReadUnlock(); });
  SetAsideError(kEach, [&] { WriteUnlock(true); });
  SetAsideError(kEach, [&] { TransUnlock(); });
}

}  // namespace strata
