// TableFileOwner: what the data, index and BLOB files of a table ask of the
// table that owns them, beyond what any buffered file asks: the engine's
// signature digest, the table's cipher when it is enciphered, and the
// compression hooks. The table object implements it; tests use fakes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/crypto/cipher_context.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/crypto/crypto_hooks.h"
#include "engine/files/buffered_file_table.h"
#include "engine/files/engine_file.h"
#include "engine/formats/data_file_header.h"

namespace strata {

// The digest stamped into files when the engine has no signature of its own.
inline constexpr Digest kDefaultSignatureDigest = {0x8A, 0xBE, 0x8E, 0x59, 0x23, 0x64,
                                                   0xCB, 0x40, 0x3D, 0x71, 0xD2, 0xE3,
                                                   0xBC, 0x64, 0xD0, 0x01};

// Enciphers and deciphers the units of an enciphered table, each unit on its
// own (the chaining restarts with every unit).
class UnitCipher {
 public:
  UnitCipher(const CryptoHooks& hooks, CipherContext& context)
      : hooks_(&hooks), context_(&context) {}
  void Encipher(std::span<std::uint8_t> unit) const { hooks_->EncipherBuffer(*context_, unit); }
  void Decipher(std::span<std::uint8_t> unit) const { hooks_->DecipherBuffer(*context_, unit); }

 private:
  const CryptoHooks* hooks_;
  CipherContext* context_;
};

class TableFileOwner : public BufferedFileTable {
 public:
  // The digest new files are stamped with. Files stamped with it or with
  // kDefaultSignatureDigest open; any other digest is a foreign file.
  virtual const Digest& SignatureDigest() const = 0;
  // The cipher of an enciphered table; nullptr while the table is plain.
  virtual const UnitCipher* Cipher() const = 0;
  virtual const CompressionHooks& Compression() const = 0;
};

// The header image at offset 0 of a table's index or BLOB file, which goes
// through the table's cipher when the table is enciphered. Reading returns
// the bytes read (allowShort as for ReadAt); writing marks the table
// modified.
inline std::int64_t ReadHeaderImage(TEngineFile& file, const TableFileOwner& owner,
                                    std::span<std::uint8_t> image, bool allowShort) {
  const std::int64_t got = file.ReadAt(0, std::as_writable_bytes(image), allowShort);
  if (const UnitCipher* cipher = owner.Cipher()) cipher->Decipher(image);
  return got;
}

inline void WriteHeaderImage(TEngineFile& file, TableFileOwner& owner,
                             std::span<std::uint8_t> image) {
  if (const UnitCipher* cipher = owner.Cipher()) cipher->Encipher(image);
  file.WriteAt(0, std::as_bytes(image));
  owner.MarkModified();
}

}  // namespace strata
