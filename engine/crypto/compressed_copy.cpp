#include "engine/crypto/compressed_copy.h"

#include <algorithm>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/errors/engine_error.h"

namespace strata {
namespace {

// Reads until the buffer is full or the source ends; returns the count.
std::size_t ReadFull(ByteSource& source, std::span<std::uint8_t> buffer) {
  std::size_t total = 0;
  while (total < buffer.size()) {
    const std::size_t n = source.Read(buffer.subspan(total));
    if (n == 0) break;
    total += n;
  }
  return total;
}

void CopyRest(ByteSource& source, ByteSink& sink) {
  std::vector<std::uint8_t> buffer(kCompressedCopyChunkBytes);
  for (;;) {
    const std::size_t n = source.Read(buffer);
    if (n == 0) return;
    sink.Write(std::span(buffer).first(n));
  }
}

}  // namespace

void WriteCompressedCopy(ByteSource& source, ByteSink& sink, int level,
                         const CompressionHooks& hooks) {
  if (level <= 0) {
    CopyRest(source, sink);
    return;
  }
  if (level > 9) RaiseEngineError(STRATA_COMPRESS);

  std::array<std::uint8_t, kCompressedCopyMarker.size() + 1> prefix;
  std::copy(kCompressedCopyMarker.begin(), kCompressedCopyMarker.end(), prefix.begin());
  prefix.back() = static_cast<std::uint8_t>(level);
  sink.Write(prefix);

  std::vector<std::uint8_t> buffer(kCompressedCopyChunkBytes);
  for (;;) {
    const std::size_t n = ReadFull(source, buffer);
    if (n == 0) return;
    const std::vector<std::uint8_t> chunk = hooks.Compress(std::span(buffer).first(n), level);
    // A zero length would end the copy early, and a length beyond the
    // reader's bound could not be read back.
    if (chunk.empty() || chunk.size() > kMaxCopyChunkStored) RaiseEngineError(STRATA_COMPRESS);
    std::uint8_t length[4];
    StoreU32(length, static_cast<std::uint32_t>(chunk.size()));
    sink.Write(length);
    sink.Write(chunk);
    if (n < buffer.size()) return;
  }
}

void ReadCompressedCopy(ByteSource& source, ByteSink& sink, const CompressionHooks& hooks) {
  std::array<std::uint8_t, kCompressedCopyMarker.size() + 1> prefix;
  const std::size_t got = ReadFull(source, prefix);
  if (got < prefix.size() ||
      !std::equal(kCompressedCopyMarker.begin(), kCompressedCopyMarker.end(), prefix.begin())) {
    if (got > 0) sink.Write(std::span(prefix).first(got));
    CopyRest(source, sink);
    return;
  }

  std::vector<std::uint8_t> chunk;
  for (;;) {
    std::uint8_t lengthBytes[4];
    const std::size_t n = ReadFull(source, lengthBytes);
    if (n == 0) return;
    if (n < sizeof lengthBytes) RaiseEngineError(STRATA_UNCOMPRESS);
    const std::uint32_t length = LoadU32(lengthBytes);
    if (length == 0) return;
    if (length > kMaxCopyChunkStored) RaiseEngineError(STRATA_UNCOMPRESS);
    chunk.resize(length);
    if (ReadFull(source, chunk) < length) RaiseEngineError(STRATA_UNCOMPRESS);
    sink.Write(hooks.Decompress(chunk, kMaxCopyChunkOutput));
  }
}

}  // namespace strata
