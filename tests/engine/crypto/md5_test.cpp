#include "engine/crypto/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace strata {
namespace {

std::string Hex(const Md5Digest& digest) {
  std::string text;
  char pair[3];
  for (std::uint8_t b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

struct Md5Case {
  std::string message;
  const char* digest;
};

const Md5Case kRfcCases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5Test, RfcVectorsOneShotAndInPieces) {
  for (const Md5Case& c : kRfcCases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Hex(Md5::Digest(c.message)), c.digest);

    // Every split point, so the block buffering is crossed in every way; the
    // same object is reused, so Final must leave it ready for a new message.
    Md5 md5;
    for (std::size_t split = 0; split <= c.message.size(); ++split) {
      md5.Update(std::string_view(c.message).substr(0, split));
      md5.Update(std::string_view(c.message).substr(split));
      ASSERT_EQ(Hex(md5.Final()), c.digest) << "split at " << split;
    }
  }
}

}  // namespace
}  // namespace strata
