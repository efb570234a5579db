#include "engine/crypto/crypto_hooks.h"

#include <stdexcept>

#include "engine/errors/set_aside.h"

namespace strata {
namespace {

// Resets the chaining state of a context when a buffer operation is left by
// an exception. A failure of the reset itself is dropped then, so the first
// exception is the one that propagates.
class ResetOnUnwind {
 public:
  ResetOnUnwind(const CryptoHooks& hooks, CipherContext& context)
      : hooks_(hooks), context_(context) {}
  ResetOnUnwind(const ResetOnUnwind&) = delete;
  ResetOnUnwind& operator=(const ResetOnUnwind&) = delete;
  ~ResetOnUnwind() {
    if (!armed_) return;
    SetAsideError("reset while an exception unwinds; that exception wins",
                  [&] { hooks_.Reset(context_); });
  }
  // The normal way out: reset with exceptions propagating.
  void ResetNow() {
    armed_ = false;
    hooks_.Reset(context_);
  }

 private:
  const CryptoHooks& hooks_;
  CipherContext& context_;
  bool armed_ = true;
};

}  // namespace

std::unique_ptr<CipherContext> CryptoHooks::InitContext(std::span<const std::uint8_t> key) const {
  std::unique_ptr<CipherContext> context =
      OnCryptoInit ? OnCryptoInit(key) : DefaultCryptoInit(key);
  if (!context) throw std::runtime_error("cipher initialisation returned no context");
  return context;
}

void CryptoHooks::Reset(CipherContext& context) const {
  if (OnCryptoReset) {
    OnCryptoReset(context);
  } else {
    DefaultCryptoReset(context);
  }
}

void CryptoHooks::ProcessBuffer(const CryptoBlockHook& hook,
                                void (*builtIn)(CipherContext&, std::span<std::uint8_t, 8>),
                                CipherContext& context, std::span<std::uint8_t> bytes) const {
  ResetOnUnwind reset(*this, context);
  const std::size_t blocks = bytes.size() / 8;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::span<std::uint8_t, 8> block = bytes.subspan(i * 8).first<8>();
    if (hook) {
      hook(context, block);
    } else {
      builtIn(context, block);
    }
  }
  reset.ResetNow();
}

void CryptoHooks::EncipherBuffer(CipherContext& context, std::span<std::uint8_t> bytes) const {
  ProcessBuffer(OnEncryptBlock, &DefaultEncryptBlock, context, bytes);
}

void CryptoHooks::DecipherBuffer(CipherContext& context, std::span<std::uint8_t> bytes) const {
  ProcessBuffer(OnDecryptBlock, &DefaultDecryptBlock, context, bytes);
}

Md5Digest CryptoHooks::TableKey(std::string_view password) { return Md5::Digest(password); }

Md5Digest CryptoHooks::PasswordCheck(std::string_view password) const {
  const Md5Digest key = TableKey(password);
  std::unique_ptr<CipherContext> context = InitContext(key);
  return PasswordCheck(*context, key);
}

Md5Digest CryptoHooks::PasswordCheck(CipherContext& context, const Md5Digest& tableKey) const {
  Md5Digest check = tableKey;
  EncipherBuffer(context, check);
  return check;
}

bool CryptoHooks::MatchesPasswordCheck(CipherContext& context, const Md5Digest& tableKey,
                                       const Md5Digest& storedCheck) const {
  Md5Digest deciphered = storedCheck;
  DecipherBuffer(context, deciphered);
  return deciphered == tableKey;
}

}  // namespace strata
