// LockOffsets: where every byte-range lock of a database lies. All locks sit
// far beyond the data, counted down from the lock top L (0xFFFFFFFF, or
// 2^63 - 1 with large file support); record and table locks of a data file
// also depend on the maximum record count R.
//
// In the lock file: a window of W = 65535 bytes at the top for the lock file's
// own read and write locks, below it one transaction byte per table slot
// (4096 slots), and below those one W-byte window per slot for the table's
// read locks (one byte each) and write lock (the whole window). In a data
// file: record r is byte L - r, the whole-table lock is the R bytes below L,
// and semaphore s is byte L - R - s.
#pragma once

#include <cstdint>

namespace strata {

struct LockRange {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
  friend bool operator==(const LockRange&, const LockRange&) = default;
};

class LockOffsets {
 public:
  static constexpr std::int64_t kWindowSize = 65535;
  static constexpr std::int32_t kTableSlots = 4096;
  static constexpr std::int32_t kSemaphoreCount = 1024;
  static constexpr std::int64_t kTop = 0xFFFFFFFF;
  static constexpr std::int64_t kLargeTop = 0x7FFFFFFFFFFFFFFF;
  static constexpr std::int64_t kMaxRecordCount = 200'000'000;
  static constexpr std::int64_t kLargeMaxRecordCount = 1'000'000'000;

  constexpr LockOffsets() = default;
  constexpr LockOffsets(std::int64_t top, std::int64_t maxRecordCount)
      : top_(top), maxRecordCount_(maxRecordCount) {}
  static constexpr LockOffsets For(bool largeFileSupport) {
    return largeFileSupport ? LockOffsets(kLargeTop, kLargeMaxRecordCount)
                            : LockOffsets(kTop, kMaxRecordCount);
  }

  constexpr std::int64_t Top() const { return top_; }
  constexpr std::int64_t MaxRecordCount() const { return maxRecordCount_; }

  // Lock file.
  constexpr LockRange LockFileWindow() const { return {top_ - kWindowSize, kWindowSize}; }
  constexpr LockRange TransactionByte(std::int32_t slot) const {
    return {top_ - kWindowSize - slot, 1};
  }
  constexpr LockRange AllTransactionBytes() const {
    return {top_ - kWindowSize - kTableSlots, kTableSlots};
  }
  constexpr LockRange TableWindow(std::int32_t slot) const {
    return {top_ - kWindowSize - kTableSlots - slot * kWindowSize, kWindowSize};
  }
  constexpr LockRange AllTableWindows() const {
    return {top_ - kWindowSize - kTableSlots - kTableSlots * kWindowSize,
            kTableSlots * kWindowSize};
  }

  // Data file.
  constexpr LockRange Record(std::int64_t record) const { return {top_ - record, 1}; }
  constexpr LockRange WholeTable() const { return {top_ - maxRecordCount_, maxRecordCount_}; }
  constexpr LockRange Semaphore(std::int32_t semaphore) const {
    return {top_ - maxRecordCount_ - semaphore, 1};
  }

 private:
  std::int64_t top_ = kTop;
  std::int64_t maxRecordCount_ = kMaxRecordCount;
};

}  // namespace strata
