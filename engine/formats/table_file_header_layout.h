// The first 25 bytes every table file's header (data, index and BLOB) begins
// with, in the same place and meaning in all three:
//
//   offset size  field
//        0    4  ChangeCount      bumped by every write of the header
//        4    4  (reserved, zero)
//        8    1  FormatVersion
//        9   16  SignatureDigest  the engine's signature, the same in all three
//
// Each file's own layout header takes these names into its namespace.
#pragma once

#include <cstddef>

namespace strata::table_file_header_layout {

inline constexpr std::size_t kChangeCount = 0;
inline constexpr std::size_t kChangeCountSize = 4;
inline constexpr std::size_t kFormatVersion = 8;
inline constexpr std::size_t kFormatVersionSize = 1;
inline constexpr std::size_t kSignatureDigest = 9;
inline constexpr std::size_t kSignatureDigestSize = 16;

}  // namespace strata::table_file_header_layout
