#include "engine/core/verify/index_consistency.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

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
  TreeWalk(TIndexFile& file, const PageFormat& format, std::int32_t slotCount)
      : file_(file), format_(format), slotCount_(slotCount) {}

  // The leaf entries below page, or -1 when the subtree is broken.
  std::int64_t Count(std::int32_t number, std::span<const std::uint8_t> parentKey, int depth) {
    if (depth > kMaxDepth || !visited_.insert(number).second) return -1;
    BufferPin pin;
    const TPage& page = file_.FetchPage(nullptr, number, format_, pin);
    if (!TypeFits(page, depth == 0) || page.EntryCount() == 0) return -1;
    if (depth > 0 && !SameBytes(page.Key(0), parentKey)) return -1;
    if (page.IsLeaf()) {
      for (int i = 0; i < page.EntryCount(); ++i) {
        const std::int32_t record = page.Pointer(i);
        if (record < 1 || record > slotCount_) return -1;
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

 private:
  TIndexFile& file_;
  PageFormat format_;
  std::int32_t slotCount_;
  std::unordered_set<std::int32_t> visited_;
};

}  // namespace

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

bool TreeHoldsRecords(TIndexFile& file, int slot, std::int64_t expected, std::int32_t slotCount) {
  const std::int32_t root = file.RootPage(slot);
  if (root == 0) return expected == 0;
  TreeWalk walk(file, PageFormat::Of(file.Descriptor(slot)), slotCount);
  return walk.Count(root, {}, 0) == expected;
}

}  // namespace strata
