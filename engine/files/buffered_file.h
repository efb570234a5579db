// TBufferedFile: an engine file whose fixed-size units (records, index pages,
// BLOB blocks) are cached in TBuffer objects. Unit n (from 1) lives at
// FirstUnitOffset() + (n - 1) * UnitSize(). The cache keeps a most-recently-
// used list and a table by unit number; it reads runs of units in one
// call (read-ahead, forwards or backwards) and writes each run of consecutive
// dirty units in one call. Its size limit is soft: while every buffer is
// dirty or pinned it grows by GrowthStep(), and TrimCache() shrinks it again.
//
// The unit geometry and the header belong to the data, index and BLOB files
// that derive from it. The owning table answers through BufferedFileTable.
// Buffers handed out by GetBuffer are pinned; each pin is released exactly
// once (BufferPin does it on destruction). Pins must not outlive the file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/buffer.h"
#include "engine/files/buffered_file_table.h"
#include "engine/files/engine_file.h"

namespace strata {

class TBufferedFile;

// A pinned buffer; releases the pin when destroyed or reset.
class BufferPin {
 public:
  BufferPin() = default;
  ~BufferPin() { Release(); }
  BufferPin(BufferPin&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = nullptr; }
  BufferPin& operator=(BufferPin&& other) noexcept;
  BufferPin(const BufferPin&) = delete;
  BufferPin& operator=(const BufferPin&) = delete;

  TBuffer* get() const { return buffer_; }
  TBuffer* operator->() const { return buffer_; }
  TBuffer& operator*() const { return *buffer_; }
  explicit operator bool() const { return buffer_ != nullptr; }
  void Release();

 private:
  friend class TBufferedFile;
  TBuffer* buffer_ = nullptr;
};

class TBufferedFile : public TEngineFile {
 public:
  enum Direction : int { kNoDirection = 0, kForward = 1, kBackward = 2 };

  struct Statistics {
    std::int64_t Requests = 0;        // hits and appends
    std::int64_t BufferedReads = 0;   // units loaded from reads
    std::int64_t PhysicalReads = 0;   // read calls
    std::int64_t BytesRead = 0;
    std::int64_t PhysicalWrites = 0;  // write calls
  };

  TBufferedFile(FileRegistry& registry, std::string path, bool inMemory, BufferedFileTable& table);
  ~TBufferedFile() override;

  // Drops every buffer without writing, then closes the file.
  void Close() override;

  // Pins the buffer of a unit into pin and returns true; false (no buffer)
  // when a cache miss found the table changed by another user, so the caller
  // must restart. Unit count + 1 appends a new, cleared unit without reading.
  bool GetBuffer(TDataCursor* cursor, int direction, bool readAheadAllowed, std::int32_t unit,
                 BufferPin& pin);
  // Unpins (not below 0).
  void ReleaseBuffer(TBuffer* buffer);
  // Writes the dirty, unpinned buffers, each run of consecutive units in one
  // call; true when anything was written. A dirty pinned buffer at a flush
  // (not from eviction) is a bookkeeping fault.
  bool WriteBack(bool fromEviction);
  // Frees clean, unpinned buffers from the least recently used end down to
  // the cache limit.
  void TrimCache();
  // Lets the cache hold at least `units` buffers before it evicts, until
  // the next TrimCache.
  void ReserveCapacity(std::int32_t units) { capacity_ = std::max(capacity_, units); }
  // Frees every buffer without writing.
  void DropBuffers();
  std::int64_t EndOfUnits();
  // Statistics to 0, capacity to the cache limit, the default read-ahead.
  virtual void ResetCache();
  // Truncates the file at unit 1 and marks the table modified.
  virtual void EmptyFile();

  // Unit geometry and header, supplied by the kinds of file.
  virtual std::unique_ptr<TBuffer> NewBuffer() = 0;
  // Raises the file's corrupt-buffers error with the table's names.
  virtual void RaiseCorruptError() = 0;
  // Raises STRATA_TABLEFULL when one more unit would pass the engine limits.
  virtual void CheckAppend() = 0;
  // Counts the appended unit and marks the header changed.
  virtual void UnitAppended() = 0;
  virtual std::int32_t CacheLimit() = 0;
  virtual std::int32_t DefaultReadAheadLimit() = 0;
  virtual std::int32_t UnitSize() const = 0;
  virtual std::int32_t PayloadSize() const = 0;
  virtual std::int64_t FirstUnitOffset() const = 0;
  virtual std::int32_t UnitCount() const = 0;
  virtual std::int32_t HeaderChangeCount() const = 0;
  virtual std::int32_t ScanDepth() const = 0;
  virtual std::int32_t GrowthStep() const = 0;
  // Units to read for a request in a direction; at most ReadAheadLimit().
  virtual std::int32_t ReadAheadCount(TDataCursor* cursor, std::int32_t unit, int direction);
  virtual void ReadHeader() = 0;
  virtual bool WriteHeader(bool force) = 0;
  virtual void TouchHeader() = 0;

  BufferedFileTable& Table() const { return table_; }
  const Statistics& Stats() const { return stats_; }
  std::int32_t CacheCapacity() const { return capacity_; }
  std::int32_t CachedCount() const { return static_cast<std::int32_t>(cached_.size()); }
  std::int32_t ReadAheadLimit() const { return readAheadLimit_; }
  void SetReadAheadLimit(std::int32_t limit) { readAheadLimit_ = limit; }
  std::int64_t UnitOffset(std::int32_t unit) const {
    return FirstUnitOffset() + (static_cast<std::int64_t>(unit) - 1) * UnitSize();
  }

 protected:
  // The units below a header's next unit number: next - 1, without
  // overflowing for the lowest number a damaged header can hold.
  static std::int32_t CountBelow(std::int32_t next) {
    return next == INT32_MIN ? INT32_MIN : next - 1;
  }
  // RaiseCorruptError, which must not return.
  [[noreturn]] void CorruptBuffers();
  // The common append check: STRATA_TABLEFULL when the unit area would pass the maximum
  // file size or, with countRecords, the unit count the maximum record count.
  void CheckAppendLimits(bool countRecords);

 private:
  friend class TBuffer;
  // By unit number: found, added and removed in constant time; the
  // write-back sorts the dirty ones.
  using CacheList = std::unordered_map<std::int32_t, std::unique_ptr<TBuffer>>;

  CacheList::iterator FindCached(std::int32_t unit);
  TBuffer* FindRecent(std::int32_t unit);
  TBuffer* Acquire(std::int32_t unit);
  TBuffer* FindVictim() const;
  void InsertCached(std::unique_ptr<TBuffer> buffer);
  void Discard(TBuffer* buffer);
  void ReadUnits(std::int32_t unit, std::int32_t count, int direction);
  bool InReadWindow(std::int32_t unit) const;
  void PushFront(TBuffer* buffer);
  void MoveToFront(TBuffer* buffer);
  void Unlink(TBuffer* buffer);
  static void Pin(TBuffer* buffer, BufferPin& pin);

  BufferedFileTable& table_;
  std::vector<std::byte> readArea_;
  std::int64_t readWindowOffset_ = 0;
  std::int64_t readWindowLength_ = 0;
  std::vector<std::byte> writeArea_;
  TBuffer* mruHead_ = nullptr;
  TBuffer* mruTail_ = nullptr;
  CacheList cached_;
  std::int32_t capacity_ = 0;
  std::vector<std::unique_ptr<TBuffer>> orphans_;  // dropped while pinned
  Statistics stats_;
  std::int32_t readAheadLimit_ = 1;
};

}  // namespace strata
