// The cipher hooks the engine enciphers table-file units through.
//
// Each hook may be replaced by the application; a hook left empty means the
// built-in behaviour (Default* in cipher_context.h: the block cipher in CBC
// mode from an all-zero initial vector). The engine owns one CryptoHooks and
// calls only the operations below, never the hooks directly.
//
// A context holds chaining state: it must not be used by two threads at once.
// Every buffer operation resets the chaining state when it ends, also when a
// hook throws, so each unit of a file is chained on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "engine/crypto/cipher_context.h"
#include "engine/crypto/md5.h"

namespace strata {

using CryptoInitHook =
    std::function<std::unique_ptr<CipherContext>(std::span<const std::uint8_t> key)>;
using CryptoBlockHook =
    std::function<void(CipherContext& context, std::span<std::uint8_t, 8> block)>;
using CryptoResetHook = std::function<void(CipherContext& context)>;

class CryptoHooks {
 public:
  CryptoInitHook OnCryptoInit;
  CryptoBlockHook OnEncryptBlock;
  CryptoBlockHook OnDecryptBlock;
  CryptoResetHook OnCryptoReset;

  // A new context for the key (a 16-byte table key). A hook that returns no
  // context is refused (std::runtime_error).
  std::unique_ptr<CipherContext> InitContext(std::span<const std::uint8_t> key) const;

  // Enciphers (deciphers) bytes.size() div 8 blocks in place, in order,
  // through the block hook; the last bytes.size() mod 8 bytes stay as they
  // are. Then calls the reset hook, also when a block hook throws (the
  // block hook's exception propagates unchanged).
  void EncipherBuffer(CipherContext& context, std::span<std::uint8_t> bytes) const;
  void DecipherBuffer(CipherContext& context, std::span<std::uint8_t> bytes) const;

  void Reset(CipherContext& context) const;

  // The table key of a password: the MD5 digest of its text.
  static Md5Digest TableKey(std::string_view password);

  // The check value stored with an enciphered table: the table key
  // enciphered as two blocks under a context made from that key.
  Md5Digest PasswordCheck(std::string_view password) const;
  Md5Digest PasswordCheck(CipherContext& context, const Md5Digest& tableKey) const;

  // True when the stored check value deciphers to the table key under the
  // context (the password that made the table is the context's).
  bool MatchesPasswordCheck(CipherContext& context, const Md5Digest& tableKey,
                            const Md5Digest& storedCheck) const;

 private:
  void ProcessBuffer(const CryptoBlockHook& hook,
                     void (*builtIn)(CipherContext&, std::span<std::uint8_t, 8>),
                     CipherContext& context, std::span<std::uint8_t> bytes) const;
};

}  // namespace strata
