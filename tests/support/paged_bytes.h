// PagedBytes: the bytes of a simulated file, held in fixed pages that copies
// share until one of them writes a page (copy on write). Copying a file's
// bytes, as every snapshot of a simulated disk does, costs a list of
// pointers, not the bytes. A page never written reads as zeros.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace strata::testing {

class PagedBytes {
 public:
  static constexpr std::size_t kPageSize = 4096;

  std::int64_t Size() const { return size_; }
  // Bytes past the old end read as zeros.
  void Resize(std::int64_t size);
  // Grows the file when the write ends past its end.
  void Write(std::int64_t offset, std::span<const std::byte> data);
  // The bytes read: fewer than asked only at the end of the file.
  std::int64_t Read(std::int64_t offset, std::span<std::byte> buffer) const;
  std::vector<std::uint8_t> All() const;

  // Folds the size and the content into hash. Each page keeps its own
  // hash until it is written, so the copies of a file cost little to
  // fingerprint again.
  void AddToFingerprint(std::uint64_t& hash) const;

 private:
  struct Page {
    std::array<std::byte, kPageSize> Bytes{};
    mutable std::uint64_t Hash = 0;
    mutable bool Hashed = false;
  };
  // The page for writing: made when missing, copied when shared.
  Page& Writable(std::size_t index);

  std::int64_t size_ = 0;
  std::vector<std::shared_ptr<Page>> pages_;
};

}  // namespace strata::testing
