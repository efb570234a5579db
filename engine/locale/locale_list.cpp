#include "engine/locale/locale_list.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>

#include <algorithm>
#include <set>

#include "engine/locale/collation.h"
#include "engine/locale/icu_locales.h"
#include "engine/locale/windows1252.h"

namespace strata {
namespace {

constexpr std::size_t kMaxText = 255;
constexpr std::uint32_t kGermanGermany = 0x0407;
constexpr std::uint32_t kGermanPhoneBook = 0x10407;

// A display name in Windows-1252. A character without a byte falls back to
// its base letter (Māori -> Maori), else to '?'.
std::string NameText(const UChar* name, int32_t length) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  std::string out;
  for (int32_t i = 0; i < length && out.size() < kMaxText; ++i) {
    auto byte = UnicodeToWindows1252(name[i]);
    if (!byte && U_SUCCESS(status)) {
      UChar base[8];
      UErrorCode decompose = U_ZERO_ERROR;
      if (unorm2_getDecomposition(nfd, name[i], base, 8, &decompose) > 0 && U_SUCCESS(decompose)) {
        byte = UnicodeToWindows1252(base[0]);
      }
    }
    out += byte ? *byte : '?';
  }
  return out;
}

std::optional<TDataLocale> EntryFor(std::uint32_t lcid) {
  char locale[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = uloc_getLocaleForLCID(lcid, locale, sizeof locale, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || n <= 0) {
    return std::nullopt;
  }
  std::string abbreviation = uloc_getISO3Language(locale);
  if (abbreviation.empty()) return std::nullopt;
  for (char& c : abbreviation) c = static_cast<char>(kWindows1252Upper[static_cast<unsigned char>(c)]);
  UChar name[512];
  const int32_t length = uloc_getDisplayName(locale, "en", name, 512, &status);
  if (U_FAILURE(status) || length <= 0) return std::nullopt;
  return TDataLocale{lcid, NameText(name, std::min<int32_t>(length, 512)),
                     abbreviation.substr(0, kMaxText)};
}

void SortByName(std::vector<TDataLocale>& entries) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open("en", &status);
  if (U_FAILURE(status)) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& x, const auto& y) { return x.LocaleName < y.LocaleName; });
    return;
  }
  auto widen = [](const std::string& text) {
    std::u16string wide;
    for (char c : text) wide += Windows1252ToUnicode(c);
    return wide;
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const auto& x, const auto& y) {
    const auto wx = widen(x.LocaleName);
    const auto wy = widen(y.LocaleName);
    return ucol_strcoll(collator, wx.data(), static_cast<int32_t>(wx.size()), wy.data(),
                        static_cast<int32_t>(wy.size())) == UCOL_LESS;
  });
  ucol_close(collator);
}

bool SameTextIgnoringCase(std::string_view x, std::string_view y) {
  return x.size() == y.size() &&
         std::equal(x.begin(), x.end(), y.begin(), [](char a, char b) {
           return kWindows1252Upper[static_cast<unsigned char>(a)] ==
                  kWindows1252Upper[static_cast<unsigned char>(b)];
         });
}

}  // namespace

LocaleList::LocaleList() {
  const std::set<std::uint32_t>& lcids = LcidsOfIcuLocales();
  for (std::uint32_t lcid : lcids) {
    auto entry = EntryFor(lcid);
    if (!entry) continue;
    entries_.push_back(std::move(*entry));
    if (lcid == kGermanGermany && !lcids.contains(kGermanPhoneBook)) {
      entries_.push_back({kGermanPhoneBook, "German (German Phone Book)", "DEP"});
    }
  }
  SortByName(entries_);
  entries_.insert(entries_.begin(), TDataLocale{kAnsiLocaleId, "ANSI Standard", "ANSI"});
}

std::shared_ptr<const LocaleList> LocaleList::Shared() {
  static const std::shared_ptr<const LocaleList> list = std::make_shared<const LocaleList>();
  return list;
}

std::optional<std::uint32_t> LocaleList::LocaleIdOfName(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (SameTextIgnoringCase(entry.LocaleName, name)) return entry.LocaleID;
  }
  return std::nullopt;
}

const std::array<unsigned char, 256>& LocaleList::CharacterOrder(std::uint32_t id) const {
  const bool listed = std::any_of(entries_.begin(), entries_.end(),
                                  [id](const auto& entry) { return entry.LocaleID == id; });
  return (listed ? Collation::For(id) : Collation()).CharacterOrder();
}

}  // namespace strata
