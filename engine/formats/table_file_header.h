// TableFileHeader: the values every table file's header (data, index and
// BLOB) begins with, where table_file_header_layout.h places them. Each
// file's header extends it and encodes these first.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/formats/table_file_header_layout.h"

namespace strata {

inline constexpr std::uint8_t kCurrentFormatVersion = 6;

using Digest = std::array<std::uint8_t, 16>;

struct TableFileHeader {
  std::int32_t ChangeCount = 0;
  std::uint8_t FormatVersion = kCurrentFormatVersion;
  Digest SignatureDigest{};

  // The first bytes of a header image; the image must hold at least them.
  void EncodeStart(std::span<std::uint8_t> image) const;
  void DecodeStart(std::span<const std::uint8_t> image);
};

}  // namespace strata
