// TBuffer: one cached unit (record, index page or BLOB block) of a
// TBufferedFile. It holds the unit's payload, its 1-based unit number, a
// dirty flag and a pin count, and is linked into its owner's most-recently-
// used list. LoadUnit and SaveUnit move a unit image between the file and
// the buffer and leave the buffer clean; units with a header of their own
// (or enciphered units) override them. Buffers are reused in place: cleared
// and renumbered rather than freed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace strata {

class TBufferedFile;

class TBuffer {
 public:
  // Allocates the owner's payload size, zeroed.
  explicit TBuffer(TBufferedFile& owner);
  virtual ~TBuffer();
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // Takes the dirty flag, the number and the shorter of the two payloads.
  virtual void CopyFrom(const TBuffer& other);
  // Copies bytes into the payload (at most its size) and marks it dirty.
  virtual void Assign(std::span<const std::byte> bytes);
  virtual void CopyOut(std::span<std::byte> bytes) const;
  // Zeroes the payload and marks it clean.
  virtual void Clear();
  // Unit image in (at most the payload), clean afterwards.
  virtual void LoadUnit(std::span<const std::byte> unit);
  // Unit image out (the payload, zeros after it), clean afterwards.
  virtual void SaveUnit(std::span<std::byte> unit);
  virtual bool SameAs(const TBuffer& other) const;
  // True when the bytes equal the start of the payload.
  virtual bool SameAsBytes(std::span<const std::byte> bytes) const;

  TBufferedFile& Owner() const { return owner_; }
  std::span<std::byte> Data() { return data_; }
  std::span<const std::byte> Data() const { return data_; }
  std::size_t PayloadSize() const { return data_.size(); }

  bool Dirty = false;
  std::uint16_t PinCount = 0;
  std::int32_t Number = 0;

 private:
  friend class TBufferedFile;

  TBufferedFile& owner_;
  std::vector<std::byte> data_;
  TBuffer* next_ = nullptr;  // towards the least recently used end
  TBuffer* prev_ = nullptr;  // towards the most recently used end
  bool linked_ = false;
  bool orphaned_ = false;  // dropped from the cache while pinned
};

}  // namespace strata
