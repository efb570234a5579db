#include "engine/crypto/cipher_context.h"

#include <algorithm>
#include <stdexcept>

namespace strata {

BlowfishCbcContext& BlowfishCbcContext::From(CipherContext& context) {
  auto* own = dynamic_cast<BlowfishCbcContext*>(&context);
  if (own == nullptr) {
    throw std::invalid_argument("cipher context was not made by the built-in initialisation");
  }
  return *own;
}

std::unique_ptr<CipherContext> DefaultCryptoInit(std::span<const std::uint8_t> key) {
  return std::make_unique<BlowfishCbcContext>(key);
}

void DefaultEncryptBlock(CipherContext& context, std::span<std::uint8_t, 8> block) {
  BlowfishCbcContext& own = BlowfishCbcContext::From(context);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] ^= own.ChainingValue[i];
  own.Cipher.EncipherBlock(block);
  std::copy(block.begin(), block.end(), own.ChainingValue.begin());
}

void DefaultDecryptBlock(CipherContext& context, std::span<std::uint8_t, 8> block) {
  BlowfishCbcContext& own = BlowfishCbcContext::From(context);
  std::array<std::uint8_t, 8> enciphered;
  std::copy(block.begin(), block.end(), enciphered.begin());
  own.Cipher.DecipherBlock(block);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] ^= own.ChainingValue[i];
  own.ChainingValue = enciphered;
}

void DefaultCryptoReset(CipherContext& context) {
  BlowfishCbcContext& own = BlowfishCbcContext::From(context);
  own.ChainingValue = own.InitialVector;
}

}  // namespace strata
