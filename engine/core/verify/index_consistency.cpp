#include "engine/core/verify/index_consistency.h"

#include <algorithm>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"

namespace strata {

namespace {

constexpr int kMaxDepth = 64;

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool TypeFits(const TPage& page, bool root) {
  const std::uint8_t type = page.PageType();
  return root ? (type == kPageRootNode || type == kPageRootLeaf)
              : (type == kPageNode || type == kPageLeaf);
}

// Marks a page of the file in inUse; false when it lies outside the file or
// was marked before.
bool Claim(std::vector<bool>& inUse, std::int32_t page, std::int32_t pageCount) {
  if (page < 1 || page > pageCount) return false;
  if (inUse.size() <= static_cast<std::size_t>(page)) inUse.resize(page + 1u, false);
  if (inUse[page]) return false;
  inUse[page] = true;
  return true;
}

// The last entry whose key is <= key; -1 when key is below every entry.
int LastNotAbove(const TPage& page, const IndexKeyLayout& layout, std::size_t keyLength,
                 const std::uint8_t* key) {
  int lo = 0;
  int hi = page.EntryCount() - 1;
  int result = -1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    if (layout.CompareKeys(page.Key(mid).data(), key, keyLength) <= 0) {
      result = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return result;
}

class TreeWalk {
 public:
  TreeWalk(TIndexFile& file, const PageFormat& format, const IndexKeyLayout& layout,
           std::int32_t slotCount, std::vector<bool>& inUse)
      : file_(file), format_(format), layout_(layout), slotCount_(slotCount), inUse_(inUse) {}

  // The leaf entries below page, or -1 when the subtree is broken.
  std::int64_t Count(std::int32_t number, std::span<const std::uint8_t> parentKey, int depth) {
    if (depth > kMaxDepth || !Claim(inUse_, number, file_.UnitCount())) return -1;
    BufferPin pin;
    const TPage& page = file_.FetchPage(nullptr, number, format_, pin);
    if (!TypeFits(page, depth == 0) || page.EntryCount() == 0) return -1;
    // Only a compressed leaf counts its bytes (its count is checked when
    // the page is read).
    if (!page.IsCompressedLeaf() && page.StoredUsedBytes() != 0) return -1;
    if (depth > 0 && !SameBytes(page.Key(0), parentKey)) return -1;
    if (!Linked(page, number, depth)) return -1;
    if (page.IsLeaf()) {
      if (leafDepth_ < 0) leafDepth_ = depth;
      if (depth != leafDepth_) return -1;
      for (int i = 0; i < page.EntryCount(); ++i) {
        const std::int32_t record = page.Pointer(i);
        if (record < 1 || record > slotCount_) return -1;
        const auto key = page.Key(i);
        if (!lastKey_.empty() &&
            layout_.CompareKeys(lastKey_.data(), key.data(), format_.KeyLength) >= 0) {
          return -1;
        }
        lastKey_.assign(key.begin(), key.end());
        sum_.Add(key, record);
      }
      return page.EntryCount();
    }
    // Entries are copied out: the page may leave the cache while its
    // children are read.
    struct Entry {
      std::vector<std::uint8_t> Key;
      std::int32_t Child;
      std::int64_t KeyCount;
    };
    std::vector<Entry> entries;
    for (int i = 0; i < page.EntryCount(); ++i) {
      const auto key = page.Key(i);
      entries.push_back({{key.begin(), key.end()}, page.Pointer(i), page.KeyCount(i)});
    }
    pin.Release();
    std::int64_t total = 0;
    for (const Entry& entry : entries) {
      const std::int64_t below = Count(entry.Child, entry.Key, depth + 1);
      if (below < 0 || (!format_.FullText && below != entry.KeyCount)) return -1;
      total += below;
    }
    return total;
  }

  // Every level ends at a page without a right neighbour.
  bool LevelsClosed() const {
    return std::all_of(lastOnLevel_.begin(), lastOnLevel_.end(),
                       [](const Level& level) { return level.Next == 0; });
  }
  const IndexEntrySum& Sum() const { return sum_; }

 private:
  struct Level {
    std::int32_t Page = 0;
    std::int32_t Next = 0;
  };

  // A depth-first walk meets the pages of each level from left to right:
  // each must name the one met before as its left neighbour and be named
  // by it as its right one.
  bool Linked(const TPage& page, std::int32_t number, int depth) {
    if (lastOnLevel_.size() <= static_cast<std::size_t>(depth)) lastOnLevel_.resize(depth + 1u);
    Level& level = lastOnLevel_[static_cast<std::size_t>(depth)];
    if (page.PrevPage() != level.Page || level.Next != (level.Page == 0 ? 0 : number)) {
      return false;
    }
    level = {number, page.NextPage()};
    return true;
  }

  TIndexFile& file_;
  PageFormat format_;
  const IndexKeyLayout& layout_;
  std::int32_t slotCount_;
  std::vector<bool>& inUse_;
  std::vector<Level> lastOnLevel_;
  int leafDepth_ = -1;
  std::vector<std::uint8_t> lastKey_;
  IndexEntrySum sum_;
};

}  // namespace

namespace {

constexpr std::uint64_t RotateLeft(std::uint64_t value, int bits) {
  return (value << bits) | (value >> (64 - bits));
}

// The final mix of a 64-bit lane: every input bit reaches every output bit.
constexpr std::uint64_t Avalanche(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  value ^= value >> 33;
  return value;
}

// One 64-bit lane of the entry's hash over the record number and the key,
// eight bytes at a time (the last piece padded with zeros; the length is
// mixed in at the end). Two lanes with their own seeds and constants make
// the 128 bits.
std::uint64_t EntryLane(std::span<const std::uint8_t> key, std::int32_t recordNumber,
                        std::uint64_t seed, std::uint64_t multiplier) {
  std::uint64_t lane = seed ^ (static_cast<std::uint64_t>(static_cast<std::uint32_t>(recordNumber)) *
                               multiplier);
  const auto take = [&](std::uint64_t word) {
    word *= multiplier;
    word = RotateLeft(word, 31);
    word *= 0x87c37b91114253d5ULL;
    lane ^= word;
    lane = RotateLeft(lane, 27) * 5 + 0x52dce729;
  };
  std::size_t at = 0;
  for (; at + 8 <= key.size(); at += 8) take(LoadU64(key.data() + at));
  if (at < key.size()) {
    std::uint8_t last[8] = {};
    std::copy(key.begin() + static_cast<std::ptrdiff_t>(at), key.end(), last);
    take(LoadU64(last));
  }
  return Avalanche(lane ^ key.size());
}

}  // namespace

// A hash of the entry, not a digest: what it guards against is damage, and
// an MD5 of every entry, taken twice for each (record and tree), cost more
// than the rest of an index's check.
void IndexEntrySum::Add(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  low_ += EntryLane(key, recordNumber, 0x9e3779b97f4a7c15ULL, 0x4cf5ad432745937fULL);
  high_ += EntryLane(key, recordNumber, 0xd6e8feb86659fd93ULL, 0xa0761d6478bd642fULL);
  ++count_;
}

bool KeyLeadsToRecord(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                      std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  const PageFormat format = PageFormat::Of(file.Descriptor(slot));
  if (key.size() != format.KeyLength) return false;
  std::int32_t number = file.RootPage(slot);
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    if (number == 0) return false;
    BufferPin pin;
    const TPage& page = file.FetchPage(nullptr, number, format, pin);
    if (!TypeFits(page, depth == 0) || page.EntryCount() == 0) return false;
    const int pos = LastNotAbove(page, layout, key.size(), key.data());
    if (pos < 0) return false;
    if (page.IsLeaf()) {
      return layout.CompareKeys(page.Key(pos).data(), key.data(), key.size()) == 0 &&
             page.Pointer(pos) == recordNumber;
    }
    const auto entryKey = page.Key(pos);
    const std::vector<std::uint8_t> expected(entryKey.begin(), entryKey.end());
    number = page.Pointer(pos);
    pin.Release();
    BufferPin childPin;
    if (number < 1) return false;
    const TPage& child = file.FetchPage(nullptr, number, format, childPin);
    if (child.EntryCount() == 0 || !SameBytes(child.Key(0), expected)) return false;
  }
  return false;
}

bool TreeHoldsRecords(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                      const IndexEntrySum& expected, std::int32_t slotCount,
                      std::vector<bool>& inUse) {
  const std::int32_t root = file.RootPage(slot);
  if (root == 0) return expected == IndexEntrySum{};
  TreeWalk walk(file, PageFormat::Of(file.Descriptor(slot)), layout, slotCount, inUse);
  return walk.Count(root, {}, 0) >= 0 && walk.LevelsClosed() && walk.Sum() == expected;
}

bool FreePagesApart(TIndexFile& file, std::vector<bool>& inUse) {
  for (std::int32_t page = file.FirstFreePage(); page != 0;) {
    if (!Claim(inUse, page, file.UnitCount())) return false;
    BufferPin pin;
    page = file.FetchPage(nullptr, page, PageFormat{}, pin).NextPage();
  }
  return true;
}

}  // namespace strata
