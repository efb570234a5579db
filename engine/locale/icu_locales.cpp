#include "engine/locale/icu_locales.h"

#include <unicode/uloc.h>

namespace strata {

const std::set<std::uint32_t>& LcidsOfIcuLocales() {
  static const std::set<std::uint32_t> lcids = [] {
    std::set<std::uint32_t> found;
    const int32_t count = uloc_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
      const std::uint32_t lcid = uloc_getLCID(uloc_getAvailable(i));
      if (lcid != 0) found.insert(lcid);
    }
    return found;
  }();
  return lcids;
}

}  // namespace strata
