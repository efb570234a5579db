// MD5 message digest (RFC 1321): 16 bytes over any sequence of bytes. Used for
// table keys derived from passwords, file-header signatures and record hashes.
//
// Feed bytes with Update in any number of pieces, then call Final once; Final
// returns the digest and leaves the object ready for a new message. The static
// Digest does both in one call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace strata {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
 public:
  Md5() { Reset(); }

  void Reset();
  void Update(std::span<const std::uint8_t> bytes);
  void Update(std::string_view text);
  Md5Digest Final();

  static Md5Digest Digest(std::span<const std::uint8_t> bytes);
  static Md5Digest Digest(std::string_view text);

 private:
  void Transform(const std::uint8_t* block);

  std::array<std::uint32_t, 4> state_{};
  std::uint64_t length_ = 0;  // bytes fed so far
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
};

}  // namespace strata
