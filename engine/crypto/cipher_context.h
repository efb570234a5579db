// Cipher contexts: the state a password's cipher keeps between blocks.
//
// CipherContext is the opaque base the engine holds and hands back to the
// block hooks; an application that installs its own cipher hooks derives its
// own context from it. BlowfishCbcContext is the built-in one: the block
// cipher under the key plus CBC state (an all-zero initial vector and the
// chaining value). The Default* functions are the built-in hook behaviours
// over it; they refuse a context of another type (std::invalid_argument).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "engine/crypto/blowfish.h"

namespace strata {

class CipherContext {
 public:
  virtual ~CipherContext() = default;
};

class BlowfishCbcContext final : public CipherContext {
 public:
  explicit BlowfishCbcContext(std::span<const std::uint8_t> key) : Cipher(key) {}

  // The context of a built-in hook call; throws when the context is not one.
  static BlowfishCbcContext& From(CipherContext& context);

  std::array<std::uint8_t, 8> InitialVector{};
  std::array<std::uint8_t, 8> ChainingValue{};
  Blowfish Cipher;
};

// Runs the key schedule with the key; the chaining value starts at the zero
// initial vector.
std::unique_ptr<CipherContext> DefaultCryptoInit(std::span<const std::uint8_t> key);

// XOR the block with the chaining value, encipher it, keep it as the new
// chaining value.
void DefaultEncryptBlock(CipherContext& context, std::span<std::uint8_t, 8> block);

// Keep a copy of the block, decipher it, XOR it with the chaining value, make
// the copy the new chaining value.
void DefaultDecryptBlock(CipherContext& context, std::span<std::uint8_t, 8> block);

// Set the chaining value back to the initial vector.
void DefaultCryptoReset(CipherContext& context);

}  // namespace strata
