// Compressed copies of a byte stream.
//
// A compressed copy is the 16-byte marker 66 EB 29 C2 3D 5D 54 40 7F 7C E2 D9
// 4D 97 64 5B, one byte holding the level (1 to 9), then one chunk per 65528
// bytes of source: a 32-bit little-endian length and that many bytes of data
// compressed through the compression hook. Reading stops at a chunk length of
// 0 or at the end of the input; input that does not start with the 17-byte
// prefix is a plain copy and is passed through unchanged.
//
// The copies work over ByteSource and ByteSink so that any file layer or
// buffer can feed them. Damaged compressed copies raise STRATA_UNCOMPRESS.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/crypto/compression_hooks.h"

namespace strata {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes and returns how many; 0 only at the end.
  // A short count does not by itself mean the end.
  virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all the bytes or throws.
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

inline constexpr std::array<std::uint8_t, 16> kCompressedCopyMarker = {
    0x66, 0xEB, 0x29, 0xC2, 0x3D, 0x5D, 0x54, 0x40,
    0x7F, 0x7C, 0xE2, 0xD9, 0x4D, 0x97, 0x64, 0x5B};

// Source bytes per chunk.
inline constexpr std::size_t kCompressedCopyChunkBytes = 65528;

// Upper bounds accepted when reading a chunk back: its stored length and its
// decompressed length. Both are far above what a writer produces for 65528
// source bytes, and low enough that a damaged length cannot exhaust memory.
inline constexpr std::size_t kMaxCopyChunkStored = std::size_t{16} << 20;
inline constexpr std::size_t kMaxCopyChunkOutput = std::size_t{16} << 20;

// Copies source to sink; a level above 0 writes a compressed copy at that
// level, a level of 0 or below a plain copy. A level above 9 raises STRATA_COMPRESS.
void WriteCompressedCopy(ByteSource& source, ByteSink& sink, int level,
                         const CompressionHooks& hooks);

// Copies a compressed or plain copy from source to sink, decompressing it.
// A truncated chunk or length, a chunk length beyond kMaxCopyChunkStored, or
// a chunk that fails to decompress raises STRATA_UNCOMPRESS.
void ReadCompressedCopy(ByteSource& source, ByteSink& sink, const CompressionHooks& hooks);

}  // namespace strata
