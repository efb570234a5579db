// FlagSet: a small set of flags whose enumerators carry their bit values
// (1, 2, 4 ...), stored in one byte as the definitions hold them.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace strata {

template <typename Flag>
class FlagSet {
 public:
  constexpr FlagSet() = default;
  constexpr FlagSet(Flag flag)
      : bits_(static_cast<std::uint8_t>(flag)) {}  // implicit: one flag is a set
  constexpr FlagSet(std::initializer_list<Flag> flags) {
    for (Flag flag : flags) bits_ = static_cast<std::uint8_t>(bits_ | flag);
  }

  static constexpr FlagSet FromBits(std::uint8_t bits) {
    FlagSet set;
    set.bits_ = bits;
    return set;
  }

  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(Flag flag) const {
    return (bits_ & static_cast<std::uint8_t>(flag)) != 0;
  }

  constexpr FlagSet& Include(Flag flag) {
    bits_ = static_cast<std::uint8_t>(bits_ | flag);
    return *this;
  }
  constexpr FlagSet& Exclude(Flag flag) {
    bits_ = static_cast<std::uint8_t>(bits_ & ~static_cast<std::uint8_t>(flag));
    return *this;
  }

  constexpr bool operator==(const FlagSet&) const = default;

 private:
  std::uint8_t bits_ = 0;
};

}  // namespace strata
