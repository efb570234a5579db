// TDataTableLocks: one table's entry in its directory's lock file, and the
// table read, write and transaction locks taken on the lock file for it.
//
// Held tells which of the three the entry holds (kReadHeld, kWriteHeld,
// kTransactionHeld). A read lock is one random byte of the table's window;
// the write lock is the whole window, so it excludes every reader; the
// transaction byte keeps writers from other users out while a transaction
// on the table runs. A lock call that finds its lock already held does
// nothing and returns false. Locks that stay refused after the engine's
// retries raise STRATA_READLOCK (read), STRATA_WRITELOCK (write) or STRATA_TRANSLOCK (transaction);
// failed releases raise STRATA_READUNLOCK, STRATA_WRITEUNLOCK or STRATA_TRANSUNLOCK. Errors name
// the table and the database.
//
// The file layer keeps locks per store, not per user, so an entry releases
// only what it took itself: a bit set by a directory-wide lock (all
// transaction bytes, all table windows) is cleared without an OS call, and
// the directory-wide unlock gives the range back.
#pragma once

#include <cstdint>
#include <string>

namespace strata {

class TDataDirectoryLocks;

class TDataTableLocks {
 public:
  static constexpr std::uint8_t kReadHeld = 1;
  static constexpr std::uint8_t kWriteHeld = 2;
  static constexpr std::uint8_t kTransactionHeld = 4;

  TDataTableLocks(TDataDirectoryLocks& owner, std::int32_t slot, std::string name);
  TDataTableLocks(const TDataTableLocks&) = delete;
  TDataTableLocks& operator=(const TDataTableLocks&) = delete;

  std::int32_t Slot() const { return slot_; }
  const std::string& Name() const { return name_; }
  std::uint8_t Held() const { return held_; }
  // The held read-lock byte inside the table window (1 to 65534), 0 for none.
  std::uint16_t ReadLockByte() const { return readLockByte_; }

  // False, without locking, when any of the three locks is held already.
  bool ReadLock();
  void ReadUnlock();
  // False when the write lock is held already. With takeTransactionByte the
  // transaction byte is taken first; a failure gives back what this call took.
  bool WriteLock(bool takeTransactionByte);
  void WriteUnlock(bool releaseTransactionByte);
  bool TransLock();
  void TransUnlock();

  // Gives back every lock this entry took, ignoring failures (closing).
  void ReleaseAll() noexcept;

 private:
  friend class TDataDirectoryLocks;

  [[noreturn]] void Raise(std::uint16_t code) const;
  // Marks or clears a bit that a directory-wide lock covers.
  void SetShared(std::uint8_t bit) { held_ |= bit; }
  void ClearShared(std::uint8_t bit);

  TDataDirectoryLocks& owner_;
  std::int32_t slot_;
  std::string name_;
  std::uint8_t held_ = 0;
  std::uint8_t owned_ = 0;  // the held bits whose ranges this entry locked itself
  std::uint16_t readLockByte_ = 0;
};

}  // namespace strata
