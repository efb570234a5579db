// LargeAllocator: an allocator for containers that may grow to megabytes
// (sort buffers, hand-over batches): blocks of kLargeBytes and more come
// from platform::AllocateLarge and go back to the system when freed, so
// that memory a worker thread used does not stay with that thread's
// allocator arena and the work of several threads stays within one
// budget; smaller blocks come from operator new. LargeBuffer is an array
// of bytes that way, untouched (and so taking no memory) until written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "platform/large_memory.h"

namespace strata {

inline constexpr std::size_t kLargeBytes = std::size_t{128} << 10;

template <typename T>
class LargeAllocator {
 public:
  using value_type = T;

  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = count * sizeof(T);
    if (bytes >= kLargeBytes) return static_cast<T*>(platform::AllocateLarge(bytes));
    return static_cast<T*>(::operator new(bytes));
  }
  void deallocate(T* memory, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes >= kLargeBytes) {
      platform::FreeLarge(memory, bytes);
    } else {
      ::operator delete(memory);
    }
  }

  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

// Bytes that are not initialised (a large buffer comes zeroed from the
// system and uses memory only in the pages written).
class LargeBuffer {
 public:
  LargeBuffer() = default;
  explicit LargeBuffer(std::size_t bytes)
      : data_(bytes == 0 ? nullptr : static_cast<std::byte*>(Allocator().allocate(bytes))),
        size_(bytes) {}
  ~LargeBuffer() { Release(); }
  LargeBuffer(LargeBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = other.data_;
      size_ = other.size_;
      other.data_ = nullptr;
      other.size_ = 0;
    }
    return *this;
  }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  std::uint8_t* Data() const { return reinterpret_cast<std::uint8_t*>(data_); }
  std::size_t Size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void Reset() { Release(); }

 private:
  static LargeAllocator<std::byte> Allocator() { return {}; }
  void Release() noexcept {
    if (data_ != nullptr) Allocator().deallocate(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }

  std::byte* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace strata
