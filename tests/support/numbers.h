// Numbers: a linear congruential sequence from a fixed seed, for tests and
// benchmarks that must write the same data on every run and every machine
// (std::minstd_rand and friends are portable too, but their distributions
// are not).
#pragma once

#include <cstdint>

namespace strata::testing {

class Numbers {
 public:
  explicit Numbers(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  // A number in [0, n).
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_;
};

}  // namespace strata::testing
