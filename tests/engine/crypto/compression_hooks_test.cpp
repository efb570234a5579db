#include "engine/crypto/compression_hooks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

#include "engine/errors/engine_error.h"

namespace strata {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Text-like data: compressible, but not trivially.
Bytes Sample(std::size_t length) {
  Bytes bytes(length);
  std::uint32_t x = 12345;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>('a' + (x >> 16) % 12);
  }
  return bytes;
}

ErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EStrataEngineError& error) {
    return error.Code;
  }
  return STRATA_NONE;
}

TEST(CompressionHooksTest, ZlibRoundTripAtEveryUsedLevel) {
  const CompressionHooks hooks;
  const Bytes input = Sample(100000);
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    const Bytes packed = hooks.Compress(input, level);
    EXPECT_LT(packed.size(), input.size());

    // A plain zlib stream that zlib itself reads back.
    Bytes check(input.size());
    uLongf checkLength = check.size();
    ASSERT_EQ(uncompress(check.data(), &checkLength, packed.data(), packed.size()), Z_OK);
    EXPECT_EQ(checkLength, input.size());

    EXPECT_EQ(hooks.Decompress(packed), input);
    // A bound of exactly the content's length is enough.
    EXPECT_EQ(hooks.Decompress(packed, input.size()), input);
  }
  EXPECT_EQ(CodeOf([&] { hooks.Compress(input, 0); }), STRATA_COMPRESS);
  EXPECT_EQ(CodeOf([&] { hooks.Compress(input, 10); }), STRATA_COMPRESS);
}

TEST(CompressionHooksTest, BadCompressedInputIsRefused) {
  const CompressionHooks hooks;
  const Bytes input = Sample(5000);
  const Bytes packed = hooks.Compress(input, 6);

  Bytes corrupt = packed;
  corrupt[corrupt.size() / 2] ^= 0x55;
  Bytes badChecksum = packed;
  badChecksum.back() ^= 1;
  const Bytes truncated(packed.begin(), packed.end() - 1);
  Bytes trailing = packed;
  trailing.push_back(0);
  const Bytes headerOnly(packed.begin(), packed.begin() + 2);

  for (const Bytes& bad : {corrupt, badChecksum, truncated, trailing, headerOnly, Bytes{},
                           Sample(64)}) {
    EXPECT_EQ(CodeOf([&] { hooks.Decompress(bad); }), STRATA_UNCOMPRESS) << bad.size();
  }
}

TEST(CompressionHooksTest, OutputBeyondTheBoundIsRefused) {
  const CompressionHooks hooks;
  // 16 MiB of zeros packs into well under 100 KB.
  const Bytes bomb = hooks.Compress(Bytes(std::size_t{16} << 20, 0), 1);
  ASSERT_LT(bomb.size(), std::size_t{100000});
  EXPECT_EQ(CodeOf([&] { hooks.Decompress(bomb, std::size_t{1} << 20); }), STRATA_UNCOMPRESS);
  EXPECT_EQ(CodeOf([&] { hooks.Decompress(bomb, (std::size_t{16} << 20) - 1); }),
            STRATA_UNCOMPRESS);
}

TEST(CompressionHooksTest, ReplacedHooksAreUsedAndTheirFailuresMapped) {
  CompressionHooks hooks;
  hooks.OnCompress = [](std::span<const std::uint8_t> in, int level) {
    Bytes out(in.begin(), in.end());
    out.push_back(static_cast<std::uint8_t>(level));
    return out;
  };
  hooks.OnDecompress = [](std::span<const std::uint8_t> in, std::size_t) {
    return Bytes(in.begin(), in.end() - 1);
  };
  const Bytes input = {1, 2, 3};
  EXPECT_EQ(hooks.Compress(input, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(hooks.Decompress(Bytes{1, 2, 3, 4}), input);
  // A hook that ignores the bound is held to it.
  EXPECT_EQ(CodeOf([&] { hooks.Decompress(Bytes{1, 2, 3, 4}, 2); }), STRATA_UNCOMPRESS);

  // Any exception, engine error or not, becomes the hook's own code.
  const std::function<void()> throwers[] = {
      [] { throw std::runtime_error("x"); },
      [] { throw 42; },
      [] { RaiseEngineError(STRATA_WRITEERR); },
  };
  for (const auto& thrower : throwers) {
    hooks.OnCompress = [&](std::span<const std::uint8_t>, int) -> Bytes { thrower(); return {}; };
    hooks.OnDecompress = [&](std::span<const std::uint8_t>, std::size_t) -> Bytes {
      thrower();
      return {};
    };
    EXPECT_EQ(CodeOf([&] { hooks.Compress(input, 6); }), STRATA_COMPRESS);
    EXPECT_EQ(CodeOf([&] { hooks.Decompress(input); }), STRATA_UNCOMPRESS);
  }
}

}  // namespace
}  // namespace strata
