// text[N]: a length-prefixed string of N + 1 bytes in a file image (one
// length byte, at most N characters, the rest zero).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace strata {

// Reads text[capacity] from the first capacity + 1 bytes of image. A length
// byte above the capacity means the image is damaged: nullopt.
inline std::optional<std::string> ReadShortText(std::span<const std::uint8_t> image,
                                                std::size_t capacity) {
  if (image.size() < capacity + 1) return std::nullopt;
  const std::size_t length = image[0];
  if (length > capacity) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(image.data() + 1), length);
}

// Writes text cut to capacity characters into capacity + 1 bytes of image,
// zero-filling the rest.
inline void WriteShortText(std::span<std::uint8_t> image, std::size_t capacity,
                           std::string_view text) {
  const std::size_t length = std::min(text.size(), capacity);
  std::fill(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(capacity + 1), 0);
  image[0] = static_cast<std::uint8_t>(length);
  std::memcpy(image.data() + 1, text.data(), length);
}

}  // namespace strata
