#include "engine/crypto/crypto_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return bytes;
}

class CryptoHooksTest : public ::testing::Test {
 protected:
  CryptoHooks hooks;
  Md5Digest key = CryptoHooks::TableKey("Letter Case Counts");
  std::unique_ptr<CipherContext> context = hooks.InitContext(key);
};

TEST_F(CryptoHooksTest, CbcChainsFromZeroVectorAndLeavesTheTailAlone) {
  const Bytes plain = Counting(20);
  Bytes data = plain;
  hooks.EncipherBuffer(*context, data);

  // Block 1 is the plain cipher of the first 8 bytes (zero vector); block 2
  // is chained on block 1; the 4 bytes past the last whole block stay.
  const Blowfish cipher(key);
  Bytes expected = plain;
  std::span<std::uint8_t> e(expected);
  cipher.EncipherBlock(e.first<8>());
  for (int i = 0; i < 8; ++i) expected[8 + i] ^= expected[i];
  cipher.EncipherBlock(e.subspan(8).first<8>());
  EXPECT_EQ(data, expected);
  EXPECT_TRUE(std::equal(data.begin() + 16, data.end(), plain.begin() + 16));
  for (int i = 0; i < 16; ++i) EXPECT_NE(data[i], plain[i]) << i;

  hooks.DecipherBuffer(*context, data);
  EXPECT_EQ(data, plain);
}

TEST_F(CryptoHooksTest, EveryBufferRestartsTheChain) {
  for (std::size_t length : {0u, 5u, 16u, 4096u + 3u}) {
    const Bytes plain = Counting(length);
    Bytes first = plain, second = plain;
    hooks.EncipherBuffer(*context, first);
    hooks.EncipherBuffer(*context, second);
    EXPECT_EQ(first, second) << length;
    if (length < 8) {
      EXPECT_EQ(first, plain);
    }
    hooks.DecipherBuffer(*context, first);
    hooks.DecipherBuffer(*context, second);
    EXPECT_EQ(first, plain) << length;
    EXPECT_EQ(second, plain) << length;
  }
}

TEST_F(CryptoHooksTest, PasswordCheckIsTheKeyEncipheredWithItself) {
  Md5Digest expected = key;
  const Blowfish cipher(key);
  std::span<std::uint8_t> e(expected);
  cipher.EncipherBlock(e.first<8>());
  for (int i = 0; i < 8; ++i) expected[8 + i] ^= expected[i];
  cipher.EncipherBlock(e.subspan(8).first<8>());

  const Md5Digest check = hooks.PasswordCheck("Letter Case Counts");
  EXPECT_EQ(check, expected);
  EXPECT_TRUE(hooks.MatchesPasswordCheck(*context, key, check));

  const Md5Digest otherKey = CryptoHooks::TableKey("letter case counts");
  const auto other = hooks.InitContext(otherKey);
  EXPECT_FALSE(hooks.MatchesPasswordCheck(*other, otherKey, check));
}

// An application cipher: XOR with a key byte, counting every call.
struct XorContext : CipherContext {
  std::uint8_t mask = 0;
};

TEST_F(CryptoHooksTest, ReplacedHooksAreUsed) {
  int blocks = 0, resets = 0;
  hooks.OnCryptoInit = [](std::span<const std::uint8_t> k) {
    auto own = std::make_unique<XorContext>();
    own->mask = k[0];
    return own;
  };
  hooks.OnEncryptBlock = [&](CipherContext& c, std::span<std::uint8_t, 8> block) {
    ++blocks;
    for (auto& b : block) b ^= static_cast<XorContext&>(c).mask;
  };
  hooks.OnCryptoReset = [&](CipherContext&) { ++resets; };

  const std::array<std::uint8_t, 1> appKey = {0x5A};
  auto own = hooks.InitContext(appKey);
  Bytes data(20, 0);
  hooks.EncipherBuffer(*own, data);
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(std::count(data.begin(), data.end(), 0x5A), 16);

  // The decipher hook was left empty: the built-in one refuses a foreign
  // context, and the chain is reset all the same.
  EXPECT_THROW(hooks.DecipherBuffer(*own, data), std::invalid_argument);
  EXPECT_EQ(resets, 2);

  hooks.OnCryptoInit = [](std::span<const std::uint8_t>) {
    return std::unique_ptr<CipherContext>();
  };
  EXPECT_THROW(hooks.InitContext(appKey), std::runtime_error);
}

TEST_F(CryptoHooksTest, ThrowingBlockHookStillResetsTheChain) {
  const Bytes plain = Counting(24);
  Bytes reference = plain;
  hooks.EncipherBuffer(*context, reference);

  int calls = 0;
  hooks.OnEncryptBlock = [&](CipherContext& c, std::span<std::uint8_t, 8> block) {
    DefaultEncryptBlock(c, block);
    if (++calls == 2) throw std::runtime_error("hook failed");
  };
  Bytes data = plain;
  EXPECT_THROW(hooks.EncipherBuffer(*context, data), std::runtime_error);
  EXPECT_EQ(BlowfishCbcContext::From(*context).ChainingValue, (std::array<std::uint8_t, 8>{}));

  // A reset hook that fails while unwinding does not hide the first error.
  hooks.OnCryptoReset = [](CipherContext&) { throw std::logic_error("reset failed"); };
  calls = 0;
  EXPECT_THROW(hooks.EncipherBuffer(*context, data), std::runtime_error);

  hooks.OnEncryptBlock = nullptr;
  hooks.OnCryptoReset = nullptr;
  DefaultCryptoReset(*context);
  data = plain;
  hooks.EncipherBuffer(*context, data);
  EXPECT_EQ(data, reference);
}

}  // namespace
}  // namespace strata
