// The compression hooks used for compressed BLOB fields and compressed file
// copies.
//
// Each hook may be replaced by the application; a hook left empty means the
// built-in zlib behaviour (whole-buffer deflate at level 1 to 9 in the zlib
// stream format, and the matching inflate). The engine calls only Compress
// and Decompress, which turn any failure inside a hook, built-in or not, into
// engine error STRATA_COMPRESS or STRATA_UNCOMPRESS.
//
// The zlib stream does not record the uncompressed length, so decompression
// is bounded: output beyond maxOutput bytes is refused (STRATA_UNCOMPRESS), which keeps
// damaged or hostile data from exhausting memory. A compressed BLOB value is
// bounded by MaxValueBytes both ways: a read refuses a longer value, so a
// write refuses one too rather than store what can never be read back.
// A hook that returns nothing for a non-empty input has failed
// (STRATA_COMPRESS): no compressed form of content is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace strata {

// The default bound of one decompression: 1 GiB.
inline constexpr std::size_t kDefaultMaxDecompressedBytes = std::size_t{1} << 30;

using CompressHook =
    std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t> input, int level)>;
// maxOutput is advisory for a hook: Decompress refuses a longer result anyway.
using DecompressHook = std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t> input,
                                                               std::size_t maxOutput)>;

// Built-in compression: the whole input deflated at level 1 to 9 into a zlib
// stream. Throws on a level outside 1..9 or a zlib failure.
std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> input, int level);

// Built-in decompression: inflates exactly one complete zlib stream that
// spans the whole input. Throws when the stream is damaged or incomplete,
// when bytes follow its end, or when it holds more than maxOutput bytes.
std::vector<std::uint8_t> ZlibDecompress(std::span<const std::uint8_t> input,
                                         std::size_t maxOutput);

class CompressionHooks {
 public:
  CompressHook OnCompress;
  DecompressHook OnDecompress;
  // The longest value a compressed BLOB may hold.
  std::size_t MaxValueBytes = kDefaultMaxDecompressedBytes;

  std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> input, int level) const;
  // Bounded by MaxValueBytes, or by maxOutput.
  std::vector<std::uint8_t> Decompress(std::span<const std::uint8_t> input) const;
  std::vector<std::uint8_t> Decompress(std::span<const std::uint8_t> input,
                                       std::size_t maxOutput) const;
};

}  // namespace strata
