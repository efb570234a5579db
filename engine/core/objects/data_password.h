// TDataPassword: a table password known to a session: its text, the table
// key (the MD5 digest of the text) and the cipher context built from the key
// through the engine's cipher hooks. A table opened or created with the
// password enciphers through that context while it is open; the session
// keeps the object (active or retired) until the session ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/crypto/cipher_context.h"
#include "engine/crypto/crypto_hooks.h"
#include "engine/crypto/md5.h"

namespace strata {

class TDataPassword {
 public:
  TDataPassword(const CryptoHooks& hooks, std::string_view text)
      : text_(text), key_(CryptoHooks::TableKey(text)), context_(hooks.InitContext(key_)) {}

  const std::string& Text() const { return text_; }
  const Md5Digest& Key() const { return key_; }
  CipherContext& Context() const { return *context_; }

 private:
  std::string text_;
  Md5Digest key_;
  std::unique_ptr<CipherContext> context_;
};

}  // namespace strata
