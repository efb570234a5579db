#include "engine/crypto/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/common/byte_order.h"

namespace strata {
namespace {

// floor(|sin(i + 1)| * 2^32) for i = 0 .. 63.
constexpr std::array<std::uint32_t, 64> kSine = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu,
    0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu,
    0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu,
    0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu,
    0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu,
    0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u,
    0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u,
    0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u,
    0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u,
};

// One step of a round: a = b + ((a + F(b, c, d) + m + t) <<< shift). The
// steps are written out (the compiler unrolls the constant loops) so that
// the round function, the message word and the rotation are constants.
template <int Round>
constexpr std::uint32_t RoundFunction(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  if constexpr (Round == 0) return d ^ (b & (c ^ d));
  if constexpr (Round == 1) return c ^ (d & (b ^ c));
  if constexpr (Round == 2) return b ^ c ^ d;
  return c ^ (b | ~d);
}

template <int Round, int Step>
inline void MixStep(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                    const std::uint32_t* m) {
  constexpr int i = Round * 16 + Step;
  constexpr int g = Round == 0   ? i
                    : Round == 1 ? (5 * i + 1) % 16
                    : Round == 2 ? (3 * i + 5) % 16
                                 : (7 * i) % 16;
  constexpr int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  a = b + std::rotl(a + RoundFunction<Round>(b, c, d) + m[g] + kSine[i], shifts[Round][Step % 4]);
}

// Sixteen steps of one round; the registers rotate by one each step.
template <int Round, int Step = 0>
inline void MixRound(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                     const std::uint32_t* m) {
  if constexpr (Step < 16) {
    MixStep<Round, Step>(a, b, c, d, m);
    MixStep<Round, Step + 1>(d, a, b, c, m);
    MixStep<Round, Step + 2>(c, d, a, b, m);
    MixStep<Round, Step + 3>(b, c, d, a, m);
    MixRound<Round, Step + 4>(a, b, c, d, m);
  }
}

}  // namespace

void Md5::Reset() {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  length_ = 0;
  buffered_ = 0;
}

void Md5::Transform(const std::uint8_t* block) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadU32(block + 4 * i);

  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  MixRound<0>(a, b, c, d, m);
  MixRound<1>(a, b, c, d, m);
  MixRound<2>(a, b, c, d, m);
  MixRound<3>(a, b, c, d, m);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::Update(std::span<const std::uint8_t> bytes) {
  length_ += bytes.size();
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  if (buffered_ > 0) {
    const std::size_t take = std::min(left, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, p, take);
    buffered_ += take;
    p += take;
    left -= take;
    if (buffered_ < buffer_.size()) return;
    Transform(buffer_.data());
    buffered_ = 0;
  }
  for (; left >= 64; p += 64, left -= 64) Transform(p);
  if (left > 0) std::memcpy(buffer_.data(), p, left);
  buffered_ = left;
}

void Md5::Update(std::string_view text) {
  Update(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Md5Digest Md5::Final() {
  // Pad with 0x80, zeros up to 56 mod 64, then the bit length (little-endian).
  const std::uint64_t bitLength = length_ * 8;
  std::uint8_t padding[72] = {0x80};
  const std::size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
  StoreU64(padding + padLength, bitLength);
  Update(std::span<const std::uint8_t>(padding, padLength + 8));

  Md5Digest digest;
  for (int i = 0; i < 4; ++i) StoreU32(digest.data() + 4 * i, state_[i]);
  Reset();
  return digest;
}

Md5Digest Md5::Digest(std::span<const std::uint8_t> bytes) {
  Md5 md5;
  md5.Update(bytes);
  return md5.Final();
}

Md5Digest Md5::Digest(std::string_view text) {
  Md5 md5;
  md5.Update(text);
  return md5.Final();
}

}  // namespace strata
