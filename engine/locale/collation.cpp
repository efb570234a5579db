#include "engine/locale/collation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <unordered_map>

#include "engine/errors/engine_error.h"
#include "engine/locale/icu_locales.h"
#include "engine/locale/windows1252.h"

namespace strata {
namespace detail {

struct CollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

// Everything one identifier needs, built once and then only read (the
// character order is filled once, under its own flag).
struct CollationData {
  std::uint32_t id = 0;
  bool available = false;
  CollatorPtr withCase;     // case level on
  CollatorPtr ignoreCase;   // case level off
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  mutable std::once_flag orderOnce;
  mutable std::array<unsigned char, 256> order{};
};

}  // namespace detail

namespace {

using detail::CollationData;
using detail::CollatorPtr;

// Never destroyed, like the cache below.
const CollationData& AnsiData() {
  static const CollationData* const data = [] {
    auto* d = new CollationData;
    d->available = true;
    d->upper = kWindows1252Upper;
    d->lower = kWindows1252Lower;
    return d;
  }();
  return *data;
}

CollatorPtr OpenCollator(const char* locale) {
  UErrorCode status = U_ZERO_ERROR;
  CollatorPtr collator(ucol_open(locale, &status));
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(collator.get(), UCOL_PRIMARY);
  ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, UCOL_ON, &status);
  ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

// Maps every byte through ICU's case mapping for the locale; a byte whose
// result is not exactly one Windows-1252 character is kept.
std::array<unsigned char, 256> CaseTable(const char* locale, bool upper) {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) {
    const UChar source = Windows1252ToUnicode(static_cast<char>(b));
    UChar mapped[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = upper ? u_strToUpper(mapped, 8, &source, 1, locale, &status)
                            : u_strToLower(mapped, 8, &source, 1, locale, &status);
    const auto byte = (U_SUCCESS(status) && n == 1) ? UnicodeToWindows1252(mapped[0])
                                                     : std::nullopt;
    table[b] = byte ? static_cast<unsigned char>(*byte) : static_cast<unsigned char>(b);
  }
  return table;
}

std::unique_ptr<CollationData> Build(std::uint32_t id) {
  auto data = std::make_unique<CollationData>();
  data->id = id;
  char locale[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = uloc_getLocaleForLCID(id, locale, sizeof locale, &status);
  // ICU answers an unknown sub-language with its primary language; only an
  // identifier that maps back to itself names a locale of its own.
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || n <= 0 ||
      uloc_getLCID(locale) != id) {
    return data;
  }
  data->withCase = OpenCollator(locale);
  if (!data->withCase) return data;
  status = U_ZERO_ERROR;
  data->ignoreCase.reset(ucol_clone(data->withCase.get(), &status));
  ucol_setAttribute(data->ignoreCase.get(), UCOL_CASE_LEVEL, UCOL_OFF, &status);
  if (U_FAILURE(status)) return data;
  const char* valid = ucol_getLocaleByType(data->withCase.get(), ULOC_VALID_LOCALE, &status);
  if (U_FAILURE(status) || valid == nullptr) return data;
  // Many languages sort by the root collation, which is then the right one;
  // root stands for a missing locale only where ICU holds no data for it.
  if (std::strcmp(valid, "root") == 0 && !LcidsOfIcuLocales().contains(id)) return data;
  data->upper = CaseTable(locale, true);
  data->lower = CaseTable(locale, false);
  data->available = true;
  return data;
}

const CollationData* Lookup(std::uint32_t id) {
  if (id == kAnsiLocaleId) return &AnsiData();
  // A thread keeps asking for the same identifier; entries never move or die.
  thread_local std::uint32_t lastId = kAnsiLocaleId;
  thread_local const CollationData* last = nullptr;
  if (last != nullptr && lastId == id) return last;

  struct Cache {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, std::unique_ptr<CollationData>> entries;
  };
  // Never destroyed: handles may be used by static objects during exit.
  static Cache* const cache = new Cache;
  std::lock_guard lock(cache->mutex);
  auto& entry = cache->entries[id];
  if (!entry) entry = Build(id);
  lastId = id;
  last = entry.get();
  return last;
}

[[noreturn]] void RaiseUnavailable() { RaiseTableError(STRATA_CANNOTLOADLDDRV, {}); }

int Sign(int value) { return (value > 0) - (value < 0); }

std::string_view Cut(std::string_view text, std::size_t length, bool atZero) {
  if (length > 0 && length < text.size()) text = text.substr(0, length);
  if (atZero) {
    const auto zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
  }
  return text;
}

int CompareBytes(std::string_view a, std::string_view b, bool ignoreCase, std::size_t length) {
  if (length == 0) {
    a = Cut(a, 0, true);
    b = Cut(b, 0, true);
    if (!ignoreCase) return Sign(a.compare(b));
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      const int ca = kWindows1252Upper[static_cast<unsigned char>(a[i])];
      const int cb = kWindows1252Upper[static_cast<unsigned char>(b[i])];
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    return static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size());
  }
  if (!ignoreCase && a.size() >= length && b.size() >= length) {
    return Sign(std::memcmp(a.data(), b.data(), length));
  }
  for (std::size_t i = 0; i < length; ++i) {
    int ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    int cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    if (ignoreCase) ca = kWindows1252Upper[ca], cb = kWindows1252Upper[cb];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

// Widens Windows-1252 bytes into `stack` when they fit, else into `heap`.
constexpr std::size_t kStackUnits = 128;

const UChar* Widen(std::string_view text, UChar (&stack)[kStackUnits], std::u16string& heap) {
  UChar* out = stack;
  if (text.size() > kStackUnits) {
    heap.resize(text.size());
    out = heap.data();
  }
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = Windows1252ToUnicode(text[i]);
  return out;
}

int CompareIcu(const UCollator* collator, std::string_view a, std::string_view b) {
  UChar stackA[kStackUnits];
  UChar stackB[kStackUnits];
  std::u16string heapA;
  std::u16string heapB;
  const UChar* ua = Widen(a, stackA, heapA);
  const UChar* ub = Widen(b, stackB, heapB);
  return ucol_strcoll(collator, ua, static_cast<int32_t>(a.size()), ub,
                      static_cast<int32_t>(b.size()));
}

void MapBytes(const std::array<unsigned char, 256>& table, std::span<char> text) {
  for (char& c : text) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

void MapUnits(const std::array<unsigned char, 256>& table, std::span<char16_t> text) {
  for (char16_t& unit : text) {
    const auto byte = UnicodeToWindows1252(unit);
    if (!byte) continue;
    unit = Windows1252ToUnicode(static_cast<char>(table[static_cast<unsigned char>(*byte)]));
  }
}

}  // namespace

bool LocaleAvailable(std::uint32_t id) { return Lookup(id)->available; }

Collation::Collation() : data_(&AnsiData()) {}

Collation Collation::For(std::uint32_t id) { return Collation(Lookup(id)); }

std::uint32_t Collation::Id() const { return data_->id; }

bool Collation::Available() const { return data_->available; }

int Collation::Compare(std::string_view a, std::string_view b, bool ignoreCase,
                       std::size_t length) const {
  if (data_->id == kAnsiLocaleId) return CompareBytes(a, b, ignoreCase, length);
  if (!data_->available) RaiseUnavailable();
  return CompareIcu(ignoreCase ? data_->ignoreCase.get() : data_->withCase.get(),
                    Cut(a, length, true), Cut(b, length, true));
}

int Collation::CompareChar(char c1, char c2) const {
  return Compare(std::string_view(&c1, 1), std::string_view(&c2, 1), false, 1);
}

void Collation::Upper(std::span<char> text) const {
  if (!data_->available) RaiseUnavailable();
  MapBytes(data_->upper, text);
}

void Collation::Lower(std::span<char> text) const {
  if (!data_->available) RaiseUnavailable();
  MapBytes(data_->lower, text);
}

void Collation::UpperWide(std::span<char16_t> text) const {
  if (!data_->available) RaiseUnavailable();
  MapUnits(data_->upper, text);
}

void Collation::LowerWide(std::span<char16_t> text) const {
  if (!data_->available) RaiseUnavailable();
  MapUnits(data_->lower, text);
}

int Collation::CompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) const {
  if (data_->id == kAnsiLocaleId) {
    if (!ignoreCase) return Sign(a.compare(b));
    std::u16string upperA(a);
    std::u16string upperB(b);
    MapUnits(data_->upper, upperA);
    MapUnits(data_->upper, upperB);
    return Sign(upperA.compare(upperB));
  }
  if (!data_->available) RaiseUnavailable();
  const UCollator* collator = ignoreCase ? data_->ignoreCase.get() : data_->withCase.get();
  return ucol_strcoll(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                      static_cast<int32_t>(b.size()));
}

const std::array<unsigned char, 256>& Collation::CharacterOrder() const {
  std::call_once(data_->orderOnce, [this] {
    auto& order = data_->order;
    std::iota(order.begin(), order.end(), 0);
    if (data_->id == kAnsiLocaleId || !data_->available) return;
    const UCollator* collator = data_->withCase.get();
    std::stable_sort(order.begin() + 31, order.end(), [collator](unsigned char x, unsigned char y) {
      const UChar ux = Windows1252ToUnicode(static_cast<char>(x));
      const UChar uy = Windows1252ToUnicode(static_cast<char>(y));
      return ucol_strcoll(collator, &ux, 1, &uy, 1) == UCOL_LESS;
    });
  });
  return data_->order;
}

int CollateCompare(std::uint32_t id, std::string_view a, std::string_view b, bool ignoreCase,
                   std::size_t length) {
  return Collation::For(id).Compare(a, b, ignoreCase, length);
}

int CollateCompareChar(std::uint32_t id, char c1, char c2) {
  return Collation::For(id).CompareChar(c1, c2);
}

void CollateUpper(std::uint32_t id, std::span<char> text) { Collation::For(id).Upper(text); }

void CollateLower(std::uint32_t id, std::span<char> text) { Collation::For(id).Lower(text); }

}  // namespace strata
