#include "engine/crypto/compression_hooks.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "engine/errors/engine_error.h"

namespace strata {
namespace {

constexpr std::size_t kMaxZlibChunk = std::numeric_limits<uInt>::max();

class InflateStream {
 public:
  InflateStream() {
    if (inflateInit(&stream_) != Z_OK) throw std::runtime_error("inflate initialisation failed");
  }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() { inflateEnd(&stream_); }
  z_stream& operator*() { return stream_; }

 private:
  z_stream stream_{};
};

}  // namespace

std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> input, int level) {
  if (level < 1 || level > 9) throw std::invalid_argument("compression level outside 1..9");
  uLongf length = compressBound(static_cast<uLong>(input.size()));
  std::vector<std::uint8_t> output(length);
  if (compress2(output.data(), &length, input.data(), static_cast<uLong>(input.size()), level) !=
      Z_OK) {
    throw std::runtime_error("deflate failed");
  }
  output.resize(length);
  return output;
}

std::vector<std::uint8_t> ZlibDecompress(std::span<const std::uint8_t> input,
                                         std::size_t maxOutput) {
  // The output may grow to one byte past the bound: reaching it proves the
  // stream holds too much.
  const std::size_t limit =
      maxOutput == std::numeric_limits<std::size_t>::max() ? maxOutput : maxOutput + 1;
  const std::size_t guess =
      input.size() > limit / 4 ? limit : std::max<std::size_t>(input.size() * 4, 256);
  std::vector<std::uint8_t> output(std::min(guess, limit));

  InflateStream inflater;
  z_stream& zs = *inflater;
  std::size_t consumed = 0;  // input bytes handed to zlib
  std::size_t produced = 0;
  for (;;) {
    if (zs.avail_in == 0 && consumed < input.size()) {
      const std::size_t piece = std::min(input.size() - consumed, kMaxZlibChunk);
      zs.next_in = const_cast<Bytef*>(input.data() + consumed);
      zs.avail_in = static_cast<uInt>(piece);
      consumed += piece;
    }
    if (produced == output.size()) {
      if (output.size() >= limit) throw std::length_error("decompressed data exceeds the bound");
      output.resize(output.size() > limit / 2 ? limit : output.size() * 2);
    }
    const std::size_t room = std::min(output.size() - produced, kMaxZlibChunk);
    zs.next_out = output.data() + produced;
    zs.avail_out = static_cast<uInt>(room);

    const int status = inflate(&zs, Z_NO_FLUSH);
    produced += room - zs.avail_out;
    if (status == Z_STREAM_END) break;
    if (status == Z_OK) continue;
    // There is always room for output here, so a stall means the input ran
    // out before the stream ended.
    throw std::runtime_error(status == Z_BUF_ERROR ? "compressed data is truncated"
                                                   : "compressed data is damaged");
  }
  if (produced > maxOutput) throw std::length_error("decompressed data exceeds the bound");
  if (zs.avail_in > 0 || consumed < input.size()) {
    throw std::runtime_error("bytes follow the end of the compressed data");
  }
  output.resize(produced);
  return output;
}

std::vector<std::uint8_t> CompressionHooks::Compress(std::span<const std::uint8_t> input,
                                                     int level) const {
  std::vector<std::uint8_t> output;
  try {
    output = OnCompress ? OnCompress(input, level) : ZlibCompress(input, level);
  } catch (...) {
    RaiseEngineError(STRATA_COMPRESS);
  }
  if (output.empty() && !input.empty()) RaiseEngineError(STRATA_COMPRESS);
  return output;
}

std::vector<std::uint8_t> CompressionHooks::Decompress(std::span<const std::uint8_t> input) const {
  return Decompress(input, MaxValueBytes);
}

std::vector<std::uint8_t> CompressionHooks::Decompress(std::span<const std::uint8_t> input,
                                                       std::size_t maxOutput) const {
  std::vector<std::uint8_t> output;
  try {
    output = OnDecompress ? OnDecompress(input, maxOutput) : ZlibDecompress(input, maxOutput);
  } catch (...) {
    RaiseEngineError(STRATA_UNCOMPRESS);
  }
  if (output.size() > maxOutput) RaiseEngineError(STRATA_UNCOMPRESS);
  return output;
}

}  // namespace strata
