// The Blowfish block cipher: 64-bit blocks, 16 rounds, keys of 1 to 72 bytes
// (longer keys are accepted; bytes past the 72nd have no effect).
//
// The key schedule starts from the digits of pi, mixes the key bytes into the
// P-array cyclically four at a time as big-endian words, then replaces P-array
// and S-boxes by repeatedly enciphering a zero block. A block of 8 bytes is
// read and written as two big-endian 32-bit halves. Copyable value type; its
// size is 4168 bytes (18 + 4 x 256 words).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace strata {

class Blowfish {
 public:
  // Runs the key schedule. An empty key is refused (std::invalid_argument).
  explicit Blowfish(std::span<const std::uint8_t> key);

  void EncipherBlock(std::span<std::uint8_t, 8> block) const;
  void DecipherBlock(std::span<std::uint8_t, 8> block) const;

  void Encipher(std::uint32_t& left, std::uint32_t& right) const;
  void Decipher(std::uint32_t& left, std::uint32_t& right) const;

 private:
  std::uint32_t Round(std::uint32_t x) const;

  std::array<std::array<std::uint32_t, 256>, 4> s_;
  std::array<std::uint32_t, 18> p_;
};

}  // namespace strata
