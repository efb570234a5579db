#include "engine/crypto/blowfish.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace strata {
namespace {

using Block = std::array<std::uint8_t, 8>;

// Sixteen hex digits: one block, its bytes in order.
Block BlockOf(std::string_view hex) {
  Block block{};
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return block;
}

struct EcbCase {
  const char* key;
  const char* plain;
  const char* cipher;
};

const EcbCase kEcbCases[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
};

TEST(BlowfishTest, EcbVectorsBothWays) {
  for (const EcbCase& c : kEcbCases) {
    SCOPED_TRACE(c.key);
    const Blowfish cipher(BlockOf(c.key));
    Block block = BlockOf(c.plain);
    cipher.EncipherBlock(block);
    EXPECT_EQ(block, BlockOf(c.cipher));
    cipher.DecipherBlock(block);
    EXPECT_EQ(block, BlockOf(c.plain));
  }
}

TEST(BlowfishTest, KeyBytesAreTakenCyclically) {
  // A 3-byte key wraps in the middle of a word; repeated to the 72 bytes the
  // schedule consumes, it must give the same cipher.
  const std::array<std::uint8_t, 3> key = {0xAB, 0xCD, 0xEF};
  std::array<std::uint8_t, 72> repeated;
  for (std::size_t i = 0; i < repeated.size(); ++i) repeated[i] = key[i % key.size()];
  Block a = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
  Block b = a;
  Blowfish(key).EncipherBlock(a);
  Blowfish(repeated).EncipherBlock(b);
  EXPECT_EQ(a, b);

  EXPECT_THROW(Blowfish(std::span<const std::uint8_t>()), std::invalid_argument);
}

}  // namespace
}  // namespace strata
