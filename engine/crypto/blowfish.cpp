#include "engine/crypto/blowfish.h"

#include <stdexcept>
#include <utility>

#include "engine/crypto/blowfish_tables.h"

namespace strata {
namespace {

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

void StoreBigEndian(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

Blowfish::Blowfish(std::span<const std::uint8_t> key)
    : s_(blowfish_tables::kInitialS), p_(blowfish_tables::kInitialP) {
  if (key.empty()) throw std::invalid_argument("cipher key is empty");

  std::size_t k = 0;
  for (auto& word : p_) {
    std::uint32_t keyWord = 0;
    for (int i = 0; i < 4; ++i) {
      keyWord = (keyWord << 8) | key[k];
      k = (k + 1) % key.size();
    }
    word ^= keyWord;
  }

  std::uint32_t left = 0, right = 0;
  for (std::size_t i = 0; i < p_.size(); i += 2) {
    Encipher(left, right);
    p_[i] = left;
    p_[i + 1] = right;
  }
  for (auto& box : s_) {
    for (std::size_t i = 0; i < box.size(); i += 2) {
      Encipher(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

std::uint32_t Blowfish::Round(std::uint32_t x) const {
  return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void Blowfish::Encipher(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left, r = right;
  for (int i = 0; i < 16; ++i) {
    l ^= p_[i];
    r ^= Round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[16];
  l ^= p_[17];
  left = l;
  right = r;
}

void Blowfish::Decipher(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left, r = right;
  for (int i = 17; i > 1; --i) {
    l ^= p_[i];
    r ^= Round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[1];
  l ^= p_[0];
  left = l;
  right = r;
}

void Blowfish::EncipherBlock(std::span<std::uint8_t, 8> block) const {
  std::uint32_t left = LoadBigEndian(block.data()), right = LoadBigEndian(block.data() + 4);
  Encipher(left, right);
  StoreBigEndian(block.data(), left);
  StoreBigEndian(block.data() + 4, right);
}

void Blowfish::DecipherBlock(std::span<std::uint8_t, 8> block) const {
  std::uint32_t left = LoadBigEndian(block.data()), right = LoadBigEndian(block.data() + 4);
  Decipher(left, right);
  StoreBigEndian(block.data(), left);
  StoreBigEndian(block.data() + 4, right);
}

}  // namespace strata
