// EngineLimits: the engine settings that bound a table's files and caches,
// with their defaults, and the cache limits they give for each kind of
// buffered file (each cached record costs 36 bytes of bookkeeping, each
// cached index page or BLOB block 56).
#pragma once

#include <algorithm>
#include <cstdint>

namespace strata {

// The bytes and the number of entries each cache of a table may hold.
struct TableBufferLimits {
  std::int32_t MaxTableDataBufferSize = 32768;
  std::int32_t MaxTableDataBufferCount = 8192;
  std::int32_t MaxTableIndexBufferSize = 65536;
  std::int32_t MaxTableIndexBufferCount = 8192;
  std::int32_t MaxTableBlobBufferSize = 32768;
  std::int32_t MaxTableBlobBufferCount = 8192;
};

struct EngineLimits : TableBufferLimits {
  std::int64_t MaxFileSize = 4'000'000'000;
  std::int32_t MaxRecordCount = 200'000'000;

  // The limits with large file support.
  static EngineLimits LargeFiles() {
    EngineLimits limits;
    limits.MaxFileSize = 128'000'000'000;
    limits.MaxRecordCount = 1'000'000'000;
    return limits;
  }
};

inline std::int32_t DataCacheLimit(const EngineLimits& limits, std::int32_t recordSize) {
  const std::int32_t count = recordSize != 0
                                 ? limits.MaxTableDataBufferSize / (recordSize + 36)
                                 : limits.MaxTableDataBufferCount;
  return std::max(1, std::min(count, limits.MaxTableDataBufferCount));
}

// Index pages and BLOB blocks are cached without their on-disk header: each
// costs the payload it holds.
inline std::int32_t IndexCacheLimit(const EngineLimits& limits, std::int32_t payloadSize) {
  const std::int32_t count = limits.MaxTableIndexBufferSize / std::max(1, payloadSize + 56);
  return std::max(1, std::min(count, limits.MaxTableIndexBufferCount));
}

inline std::int32_t BlobCacheLimit(const EngineLimits& limits, std::int32_t payloadSize) {
  const std::int32_t count = limits.MaxTableBlobBufferSize / std::max(1, payloadSize + 56);
  return std::max(1, std::min(count, limits.MaxTableBlobBufferCount));
}

}  // namespace strata
