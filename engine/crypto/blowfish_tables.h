// The initial P-array and S-boxes of the block cipher: the fractional
// hexadecimal digits of pi, eight digits to a word. Every key schedule starts
// from copies of these.
#pragma once

#include <array>
#include <cstdint>

namespace strata::blowfish_tables {

extern const std::array<std::uint32_t, 18> kInitialP;
extern const std::array<std::array<std::uint32_t, 256>, 4> kInitialS;

}  // namespace strata::blowfish_tables
