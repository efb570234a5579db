#include "engine/formats/index_page.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key_layout.h"

namespace strata {

namespace {

constexpr int kMaxCount = 254;  // DupCount and TrailCount fit in a byte below 255
constexpr int kSuffix = kRecordIdSuffixLength;  // the RecordID suffix of a non-unique key

// The packed page's fields and entry pieces, where index_page_layout.h places them.
using index_page_layout::kDupCountSize;
using index_page_layout::kEntryCount;
using index_page_layout::kKeyCountSize;
using index_page_layout::kMinPackedLeafEntrySize;
using index_page_layout::kMinTrailedRest;
using index_page_layout::kNextPage;
using index_page_layout::kPageType;
using index_page_layout::kPointerSize;
using index_page_layout::kPrevPage;
using index_page_layout::kTrailCountSize;
using index_page_layout::kUsedBytes;

// Offsets inside an expanded entry, after the key.
constexpr int kPointerAt = 0;
constexpr int kKeyCountAt = 4;
constexpr int kDupAt = 8;
constexpr int kTrailAt = 9;

}  // namespace

PageFormat PageFormat::Of(const IndexDescriptor& descriptor) {
  PageFormat format;
  format.FullText = descriptor.FullText != 0;
  format.KeyLength = descriptor.KeyLength;
  format.Unique = !format.FullText && descriptor.Unique != 0;
  format.Compression = static_cast<std::uint8_t>(descriptor.Compression & 3);
  return format;
}

TPage::TPage(TIndexFile& owner) : TBuffer(owner) {}

TIndexFile& TPage::File() const { return static_cast<TIndexFile&>(Owner()); }

void TPage::Corrupt() const {
  File().RaiseCorruptError();
  throw std::logic_error("RaiseCorruptError returned");
}

void TPage::Clear() {
  TBuffer::Clear();
  format_ = File().LoadFormat();
  type_ = 0;
  count_ = 0;
  prev_ = next_ = 0;
  used_ = 0;
  usedOnDisk_ = 0;
  entries_.clear();
}

void TPage::Reset(const PageFormat& format, std::uint8_t type) {
  TBuffer::Clear();
  format_ = format;
  type_ = type;
  count_ = 0;
  prev_ = next_ = 0;
  used_ = 0;
  usedOnDisk_ = 0;
  entries_.clear();
  MarkDirty();
}

void TPage::Adopt(const PageFormat& format) {
  if (count_ != 0) Corrupt();
  format_ = format;
  entries_.clear();
  used_ = 0;
}

void TPage::SetPageType(std::uint8_t type) {
  const bool wasLeaf = IsLeaf();
  type_ = type;
  if (wasLeaf != IsLeaf()) RecountAll();
  MarkDirty();
}

void TPage::SetEntryCount(int count) {
  count = std::max(count, 0);
  const int old = count_;
  entries_.resize(static_cast<std::size_t>(count) * Stride());
  if (count > old) {
    std::fill(entries_.begin() + static_cast<std::ptrdiff_t>(old) * Stride(), entries_.end(), 0);
  }
  count_ = count;
  RecountAll();
  MarkDirty();
}

void TPage::SetPrevPage(std::int32_t page) {
  prev_ = page;
  MarkDirty();
}

void TPage::SetNextPage(std::int32_t page) {
  next_ = page;
  MarkDirty();
}

std::span<const std::uint8_t> TPage::Key(int i) const {
  return {Entry(i), format_.KeyLength};
}

void TPage::SetKey(int i, std::span<const std::uint8_t> key) {
  std::copy_n(key.begin(), format_.KeyLength, Entry(i));
  Recount(i);
  Recount(i + 1);
  MarkDirty();
}

std::int32_t TPage::Pointer(int i) const {
  return LoadI32(Entry(i) + format_.KeyLength + kPointerAt);
}

void TPage::SetPointer(int i, std::int32_t pointer) {
  StoreI32(Entry(i) + format_.KeyLength + kPointerAt, pointer);
  MarkDirty();
}

std::int32_t TPage::KeyCount(int i) const {
  return LoadI32(Entry(i) + format_.KeyLength + kKeyCountAt);
}

void TPage::SetKeyCount(int i, std::int64_t count) {
  if (IsLeaf() || format_.FullText) return;
  StoreI32(Entry(i) + format_.KeyLength + kKeyCountAt,
           static_cast<std::int32_t>(std::clamp<std::int64_t>(count, INT32_MIN, INT32_MAX)));
  MarkDirty();
}

void TPage::AddKeyCount(int i, std::int32_t delta) {
  if (IsLeaf() || format_.FullText) return;
  SetKeyCount(i, static_cast<std::int64_t>(KeyCount(i)) + delta);
}

std::uint8_t TPage::DupCount(int i) const { return Entry(i)[format_.KeyLength + kDupAt]; }
std::uint8_t TPage::TrailCount(int i) const { return Entry(i)[format_.KeyLength + kTrailAt]; }

int TPage::SizeFor(int dup, int trail) const {
  const int k = format_.KeyLength;
  if (!IsLeaf()) return k + kPointerSize + (format_.FullText ? 0 : kKeyCountSize);
  switch (format_.Compression) {
    case 1: return kDupCountSize + (k - dup) + kPointerSize;
    case 2: return kTrailCountSize + (k - trail) + kPointerSize;
    case 3: return kDupCountSize + kTrailCountSize + (k - dup - trail) + kPointerSize;
    default: return k + kPointerSize;
  }
}

int TPage::EntrySize(int i) const { return SizeFor(DupCount(i), TrailCount(i)); }

void TPage::CountsFor(int i, int& dup, int& trail) const {
  dup = 0;
  trail = 0;
  if (!IsCompressedLeaf()) return;
  const int k = format_.KeyLength;
  const std::uint8_t* key = Entry(i);
  if ((format_.Compression & 1) != 0 && i > 0) {
    const std::uint8_t* prev = Entry(i - 1);
    const int limit = std::min(k, kMaxCount);
    while (dup < limit && prev[dup] == key[dup]) ++dup;
  }
  if ((format_.Compression & 2) != 0) {
    const int start = format_.Compression == 3 ? dup : 0;
    // Too short a rest keeps its trailing bytes; the RecordID suffix of a
    // non-unique key is always stored.
    if (k - start >= kMinTrailedRest) {
      const int end = format_.Unique ? k : k - kSuffix;
      while (trail < kMaxCount && end - trail > start && key[end - trail - 1] == 0) ++trail;
    }
  }
}

void TPage::Recount(int i) {
  if (i < 0 || i >= count_) return;
  std::uint8_t* counts = Entry(i) + format_.KeyLength;
  const int before = IsCompressedLeaf() ? SizeFor(counts[kDupAt], counts[kTrailAt]) : 0;
  int dup = 0;
  int trail = 0;
  CountsFor(i, dup, trail);
  counts[kDupAt] = static_cast<std::uint8_t>(dup);
  counts[kTrailAt] = static_cast<std::uint8_t>(trail);
  if (IsCompressedLeaf()) used_ += SizeFor(dup, trail) - before;
}

void TPage::RecountAll() {
  used_ = 0;
  for (int i = 0; i < count_; ++i) {
    std::uint8_t* counts = Entry(i) + format_.KeyLength;
    int dup = 0;
    int trail = 0;
    CountsFor(i, dup, trail);
    counts[kDupAt] = static_cast<std::uint8_t>(dup);
    counts[kTrailAt] = static_cast<std::uint8_t>(trail);
    if (IsCompressedLeaf()) used_ += SizeFor(dup, trail);
  }
}

std::int32_t TPage::ComputeUsedBytes() const {
  if (!IsCompressedLeaf()) return 0;
  std::int32_t used = 0;
  for (int i = 0; i < count_; ++i) {
    int dup = 0;
    int trail = 0;
    CountsFor(i, dup, trail);
    used += SizeFor(dup, trail);
  }
  return used;
}

void TPage::InsertEntry(int i, std::span<const std::uint8_t> key, std::int32_t pointer,
                        std::int32_t keyCount) {
  const std::size_t stride = Stride();
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i * stride), stride, 0);
  ++count_;
  std::uint8_t* entry = Entry(i);
  std::copy_n(key.begin(), format_.KeyLength, entry);
  StoreI32(entry + format_.KeyLength + kPointerAt, pointer);
  if (!IsLeaf() && !format_.FullText) StoreI32(entry + format_.KeyLength + kKeyCountAt, keyCount);
  // The new entry counts with zero counts until it is recounted.
  entry[format_.KeyLength + kDupAt] = 0;
  entry[format_.KeyLength + kTrailAt] = 0;
  if (IsCompressedLeaf()) used_ += SizeFor(0, 0);
  Recount(i);
  Recount(i + 1);
  MarkDirty();
}

void TPage::DeleteEntry(int i) {
  if (IsCompressedLeaf()) used_ -= EntrySize(i);
  const std::size_t stride = Stride();
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(i * stride);
  entries_.erase(at, at + static_cast<std::ptrdiff_t>(stride));
  --count_;
  Recount(i);
  MarkDirty();
}

void TPage::MoveEntries(int first, int count, TPage& to, int at) {
  if (count <= 0) return;
  const std::size_t stride = Stride();
  const auto begin = entries_.begin() + static_cast<std::ptrdiff_t>(first * stride);
  const auto end = begin + static_cast<std::ptrdiff_t>(count * stride);
  to.entries_.insert(to.entries_.begin() + static_cast<std::ptrdiff_t>(at * stride), begin, end);
  to.count_ += count;
  entries_.erase(begin, end);
  count_ -= count;
  RecountAll();
  to.RecountAll();
  MarkDirty();
  to.MarkDirty();
}

std::int64_t TPage::PageKeyCount() const { return IsLeaf() ? count_ : KeysBefore(count_); }

std::int64_t TPage::KeysBefore(int i) const {
  if (IsLeaf()) return i;
  std::int64_t sum = 0;
  for (int j = 0; j < i; ++j) sum += KeyCount(j);
  return sum;
}

int TPage::Capacity() const {
  const int payload = File().PayloadSize();
  const int k = format_.KeyLength;
  if (IsLeaf()) {
    return IsCompressedLeaf() ? payload / kMinPackedLeafEntrySize : payload / (k + kPointerSize);
  }
  return payload / (k + kPointerSize + (format_.FullText ? 0 : kKeyCountSize));
}

bool TPage::Overflow() const {
  if (IsCompressedLeaf()) return used_ > File().PayloadSize();
  return count_ > Capacity();
}

std::span<std::uint8_t> TPage::Payload() {
  const std::span<std::byte> data = Data();
  return {reinterpret_cast<std::uint8_t*>(data.data()), data.size()};
}

// Disk forms.

void TPage::LoadUnit(std::span<const std::byte> unit) {
  const std::int32_t pageSize = File().UnitSize();
  if (unit.size() < static_cast<std::size_t>(pageSize)) Corrupt();
  std::vector<std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(unit.data()),
                                  reinterpret_cast<const std::uint8_t*>(unit.data()) + pageSize);
  if (const UnitCipher* cipher = File().Cipher()) cipher->Decipher(image);
  TBuffer::Clear();
  format_ = File().LoadFormat();
  entries_.clear();
  count_ = 0;
  used_ = 0;
  type_ = image[kPageType];
  const int count = LoadU16(image.data() + kEntryCount);
  prev_ = LoadI32(image.data() + kPrevPage);
  next_ = LoadI32(image.data() + kNextPage);
  const int usedOnDisk = LoadU16(image.data() + kUsedBytes);
  usedOnDisk_ = static_cast<std::uint16_t>(usedOnDisk);
  const std::int32_t payloadSize = pageSize - kPageHeaderSize;
  if (type_ > kPageFullTextParams) Corrupt();
  if (type_ == kPageFullTextParams) {
    // The parameter stream's bytes, as they are.
    std::copy_n(image.data() + kPageHeaderSize, payloadSize, Payload().begin());
  } else if (count != 0) {
    if (format_.KeyLength == 0) Corrupt();
    count_ = count;
    if (count_ > Capacity()) Corrupt();
    entries_.assign(static_cast<std::size_t>(count_) * Stride(), 0);
    Expand(image.data() + kPageHeaderSize, payloadSize);
    if (IsCompressedLeaf() && usedOnDisk != used_) Corrupt();
  }
  Dirty = false;
}

void TPage::Expand(const std::uint8_t* payload, std::int32_t payloadSize) {
  const int k = format_.KeyLength;
  const std::uint8_t compression = IsLeaf() ? format_.Compression : 0;
  std::int32_t at = 0;
  auto take = [&](std::uint8_t* out, int n) {
    if (n < 0 || n > payloadSize - at) Corrupt();
    std::copy_n(payload + at, n, out);
    at += n;
  };
  for (int i = 0; i < count_; ++i) {
    std::uint8_t* entry = Entry(i);
    std::uint8_t* rest = entry + k;
    const std::int32_t start = at;
    if (compression == 0) {
      take(entry, k);
      take(rest + kPointerAt, kPointerSize);
      if (!IsLeaf() && !format_.FullText) take(rest + kKeyCountAt, kKeyCountSize);
      continue;
    }
    std::uint8_t counts[2] = {0, 0};
    int dup = 0;
    int trail = 0;
    if ((compression & 1) != 0) {
      take(counts, kDupCountSize);
      dup = counts[0];
      // The first entry of a page shares nothing, whatever its byte says.
      if (i == 0) dup = 0;
    }
    if ((compression & 2) != 0) {
      take(counts + 1, kTrailCountSize);
      trail = counts[1];
    }
    if (dup > k) Corrupt();
    if (dup > 0) std::copy_n(Entry(i - 1), dup, entry);
    const bool suffix = (compression & 2) != 0 && !format_.Unique && k - dup >= kMinTrailedRest;
    const int end = suffix ? k - kSuffix : k;
    if (dup + trail > end) Corrupt();
    take(entry + dup, end - trail - dup);
    std::fill(entry + end - trail, entry + end, 0);
    if (suffix) take(entry + end, kSuffix);
    take(rest + kPointerAt, kPointerSize);
    rest[kDupAt] = static_cast<std::uint8_t>(dup);
    rest[kTrailAt] = static_cast<std::uint8_t>(trail);
    used_ += at - start;
  }
}

void TPage::SaveUnit(std::span<std::byte> unit) {
  const std::int32_t pageSize = File().UnitSize();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(pageSize), 0);
  image[kPageType] = type_;
  StoreI32(image.data() + kNextPage, next_);
  const std::int32_t payloadSize = pageSize - kPageHeaderSize;
  if (type_ == kPageFullTextParams) {
    std::copy_n(Payload().begin(), payloadSize, image.data() + kPageHeaderSize);
  } else {
    StoreU16(image.data() + kEntryCount, static_cast<std::uint16_t>(count_));
    StoreI32(image.data() + kPrevPage, prev_);
    StoreU16(image.data() + kUsedBytes,
             static_cast<std::uint16_t>(IsCompressedLeaf() ? used_ : 0));
    Pack(image.data() + kPageHeaderSize, payloadSize);
  }
  usedOnDisk_ = LoadU16(image.data() + kUsedBytes);
  if (const UnitCipher* cipher = File().Cipher()) cipher->Encipher(image);
  std::copy_n(image.begin(), std::min<std::size_t>(image.size(), unit.size()),
              reinterpret_cast<std::uint8_t*>(unit.data()));
  Dirty = false;
}

void TPage::Pack(std::uint8_t* payload, std::int32_t payloadSize) const {
  const int k = format_.KeyLength;
  const std::uint8_t compression = IsLeaf() ? format_.Compression : 0;
  std::int32_t at = 0;
  auto put = [&](const std::uint8_t* in, int n) {
    // An overfull page is split before it is ever written.
    if (n > payloadSize - at) throw std::logic_error("index page overflow");
    std::copy_n(in, n, payload + at);
    at += n;
  };
  for (int i = 0; i < count_; ++i) {
    const std::uint8_t* entry = Entry(i);
    const std::uint8_t* rest = entry + k;
    if (compression == 0) {
      put(entry, k);
      put(rest + kPointerAt, kPointerSize);
      if (!IsLeaf() && !format_.FullText) put(rest + kKeyCountAt, kKeyCountSize);
      continue;
    }
    const int dup = (compression & 1) != 0 ? rest[kDupAt] : 0;
    const int trail = (compression & 2) != 0 ? rest[kTrailAt] : 0;
    if ((compression & 1) != 0) put(rest + kDupAt, kDupCountSize);
    if ((compression & 2) != 0) put(rest + kTrailAt, kTrailCountSize);
    const bool suffix = (compression & 2) != 0 && !format_.Unique && k - dup >= kMinTrailedRest;
    const int end = suffix ? k - kSuffix : k;
    put(entry + dup, end - trail - dup);
    if (suffix) put(entry + end, kSuffix);
    put(rest + kPointerAt, kPointerSize);
  }
}

}  // namespace strata
