// The locales ICU holds data for, by Windows LCID: each locale ICU lists as
// available that maps to an LCID. Built once, on first use; safe to call
// from any thread.
//
// Both the locale list and the test of whether an identifier is available
// start from this set, so every listed locale opens and creates tables.
#pragma once

#include <cstdint>
#include <set>

namespace strata {

const std::set<std::uint32_t>& LcidsOfIcuLocales();

}  // namespace strata
