// The locales the engine offers, for lookups by name.
//
// The list holds "ANSI Standard" (identifier 0, "ANSI") first, then one entry
// per distinct Windows LCID among ICU's available locales, sorted by name
// (letter case significant): the name is ICU's English display name of the
// locale ICU gives the LCID, the abbreviation the upper-case three-letter
// ISO 639-2 language code (a locale without one is left out). After German
// (Germany) comes the phone-book sort of German, 0x10407, "German (German
// Phone Book)", "DEP". Names are Windows-1252 texts of at most 255 bytes.
//
// A list is immutable once built and safe to read from any thread. Building
// walks all of ICU's locales, so the engine takes the process-wide list from
// Shared(), which builds it on first use; each engine holds a reference and
// drops it when it is destroyed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

struct TDataLocale {
  std::uint32_t LocaleID = 0;
  std::string LocaleName;
  std::string LocaleAbbreviation;
};

class LocaleList {
 public:
  LocaleList();  // builds the list from ICU

  static std::shared_ptr<const LocaleList> Shared();

  std::span<const TDataLocale> Entries() const { return entries_; }

  // The identifier of the first entry whose name equals `name` without regard
  // to letter case; nullopt when there is none.
  std::optional<std::uint32_t> LocaleIdOfName(std::string_view name) const;

  // The character order of the entry with identifier `id`, of "ANSI Standard"
  // (the identity) when no entry has it. Computed on first use.
  const std::array<unsigned char, 256>& CharacterOrder(std::uint32_t id) const;

 private:
  std::vector<TDataLocale> entries_;
};

}  // namespace strata
