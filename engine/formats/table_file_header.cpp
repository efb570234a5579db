#include "engine/formats/table_file_header.h"

#include <algorithm>

#include "engine/common/byte_order.h"

namespace strata {

using namespace table_file_header_layout;

static_assert(kSignatureDigestSize == std::tuple_size_v<Digest>);

void TableFileHeader::EncodeStart(std::span<std::uint8_t> image) const {
  std::uint8_t* p = image.first(kSignatureDigest + kSignatureDigestSize).data();
  StoreI32(p + kChangeCount, ChangeCount);
  p[kFormatVersion] = FormatVersion;
  std::copy(SignatureDigest.begin(), SignatureDigest.end(), p + kSignatureDigest);
}

void TableFileHeader::DecodeStart(std::span<const std::uint8_t> image) {
  const std::uint8_t* p = image.first(kSignatureDigest + kSignatureDigestSize).data();
  ChangeCount = LoadI32(p + kChangeCount);
  FormatVersion = p[kFormatVersion];
  std::copy_n(p + kSignatureDigest, SignatureDigest.size(), SignatureDigest.begin());
}

}  // namespace strata
