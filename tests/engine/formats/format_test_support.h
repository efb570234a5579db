// Helpers for the table-file tests: a fake table owning the files (limits,
// signature, an optional cipher made from a key given directly, the default
// compression hooks) and file-byte access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/crypto/crypto_hooks.h"
#include "engine/formats/table_file_owner.h"
#include "tests/engine/files/files_test_support.h"

namespace strata::testing {

class FakeOwner : public TableFileOwner {
 public:
  bool InTransaction() const override { return false; }
  bool ModifiedSinceOpen() const override { return modified; }
  void MarkModified() override { modified = true; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return true; }
  bool ReadLockForCacheMiss(TDataCursor*) override { return true; }
  std::string ErrorTableName() const override { return "people"; }
  std::string ErrorDatabaseName() const override { return "/db"; }
  const EngineLimits& Limits() const override { return limits; }
  const Digest& SignatureDigest() const override { return signature; }
  const UnitCipher* Cipher() const override { return cipher ? &*cipher : nullptr; }
  const CompressionHooks& Compression() const override { return compression; }

  // Enciphers with the table key of the password.
  void UsePassword(std::string_view password) {
    const Md5Digest key = CryptoHooks::TableKey(password);
    context = hooks.InitContext(key);
    cipher.emplace(hooks, *context);
  }
  void UsePlain() {
    cipher.reset();
    context.reset();
  }

  bool modified = false;
  EngineLimits limits;
  Digest signature = kDefaultSignatureDigest;
  CryptoHooks hooks;
  std::unique_ptr<CipherContext> context;
  std::optional<UnitCipher> cipher;
  CompressionHooks compression;
};

inline std::vector<std::uint8_t> Bytes(const std::string& content) {
  return {content.begin(), content.end()};
}

inline std::string Text(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

inline std::int32_t I32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return LoadI32(bytes.data() + offset);
}

inline std::uint16_t U16At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return LoadU16(bytes.data() + offset);
}

}  // namespace strata::testing
