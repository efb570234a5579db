#include "engine/formats/index_tree_check.h"

#include <algorithm>

namespace strata {

namespace {

struct PageInfo {
  std::int32_t Number = 0;
  bool Leaf = false;
  std::int32_t Prev = 0;
  std::int32_t Next = 0;
  std::vector<std::uint8_t> FirstKey;
  std::vector<std::uint8_t> LastKey;
  std::vector<std::vector<std::uint8_t>> EntryKeys;  // nodes only
  std::vector<std::int32_t> Children;                // nodes only
  std::vector<std::int64_t> KeyCounts;               // nodes only
  std::int64_t LeafKeys = 0;                         // leaf entries below
};

std::string Where(std::int32_t page) { return "page " + std::to_string(page) + ": "; }

bool Mark(std::vector<bool>& inUse, std::int32_t page) {
  if (page < 0) return false;
  if (inUse.size() <= static_cast<std::size_t>(page)) inUse.resize(page + 1u, false);
  if (inUse[page]) return false;
  inUse[page] = true;
  return true;
}

}  // namespace

std::vector<std::string> CheckIndexTree(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                                        std::vector<bool>& inUse) {
  std::vector<std::string> problems;
  const std::int32_t root = file.RootPage(slot);
  if (root == 0) return problems;
  const PageFormat format = PageFormat::Of(file.Descriptor(slot));
  const std::size_t k = format.KeyLength;
  auto compare = [&](const std::uint8_t* a, const std::uint8_t* b) {
    return layout.CompareKeys(a, b, k);
  };

  std::vector<std::vector<PageInfo>> levels;
  std::vector<std::int32_t> current{root};
  while (!current.empty()) {
    if (levels.size() > 64) {
      problems.push_back("tree deeper than 64 levels");
      return problems;
    }
    const bool top = levels.empty();
    std::vector<PageInfo> infos;
    std::vector<std::int32_t> next;
    for (const std::int32_t number : current) {
      if (number < 1 || number > file.UnitCount()) {
        problems.push_back(Where(number) + "outside the file");
        return problems;
      }
      if (!Mark(inUse, number)) {
        problems.push_back(Where(number) + "reached twice");
        return problems;
      }
      BufferPin pin;
      TPage& page = file.FetchPage(nullptr, number, format, pin);
      const std::uint8_t type = page.PageType();
      const bool typeOk = top ? (type == kPageRootNode || type == kPageRootLeaf)
                              : (type == kPageNode || type == kPageLeaf);
      if (!typeOk) problems.push_back(Where(number) + "type " + std::to_string(type));
      if (page.EntryCount() == 0) {
        problems.push_back(Where(number) + "empty");
        return problems;
      }
      if (page.Overflow()) problems.push_back(Where(number) + "over capacity");
      if (page.IsCompressedLeaf() && page.UsedBytesWide() != page.ComputeUsedBytes()) {
        problems.push_back(Where(number) + "UsedBytes " + std::to_string(page.UsedBytesWide()) +
                           " instead of " + std::to_string(page.ComputeUsedBytes()));
      }
      for (int i = 1; i < page.EntryCount(); ++i) {
        if (compare(page.Key(i - 1).data(), page.Key(i).data()) >= 0) {
          problems.push_back(Where(number) + "keys out of order at entry " + std::to_string(i));
        }
      }
      PageInfo info;
      info.Number = number;
      info.Leaf = page.IsLeaf();
      info.Prev = page.PrevPage();
      info.Next = page.NextPage();
      const auto first = page.Key(0);
      const auto last = page.Key(page.EntryCount() - 1);
      info.FirstKey.assign(first.begin(), first.end());
      info.LastKey.assign(last.begin(), last.end());
      if (info.Leaf) {
        info.LeafKeys = page.EntryCount();
      } else {
        for (int i = 0; i < page.EntryCount(); ++i) {
          const auto key = page.Key(i);
          info.EntryKeys.emplace_back(key.begin(), key.end());
          info.Children.push_back(page.Pointer(i));
          info.KeyCounts.push_back(page.KeyCount(i));
          next.push_back(page.Pointer(i));
        }
      }
      infos.push_back(std::move(info));
    }
    // One kind of page per level, linked left to right, in key order.
    for (std::size_t i = 0; i < infos.size(); ++i) {
      const PageInfo& info = infos[i];
      if (info.Leaf != infos.front().Leaf) {
        problems.push_back(Where(info.Number) + "leaves at different depths");
      }
      const std::int32_t prev = i == 0 ? 0 : infos[i - 1].Number;
      const std::int32_t after = i + 1 == infos.size() ? 0 : infos[i + 1].Number;
      if (info.Prev != prev || info.Next != after) {
        problems.push_back(Where(info.Number) + "neighbour links " + std::to_string(info.Prev) +
                           "/" + std::to_string(info.Next) + " instead of " +
                           std::to_string(prev) + "/" + std::to_string(after));
      }
      if (i > 0 && compare(infos[i - 1].LastKey.data(), info.FirstKey.data()) >= 0) {
        problems.push_back(Where(info.Number) + "first key not above the left neighbour's keys");
      }
    }
    const bool leaves = infos.front().Leaf;
    levels.push_back(std::move(infos));
    if (leaves) break;
    current = std::move(next);
  }

  // Bottom-up: each node entry against its child.
  for (std::size_t level = levels.size() - 1; level-- > 0;) {
    std::size_t child = 0;
    for (PageInfo& node : levels[level]) {
      node.LeafKeys = 0;
      for (std::size_t e = 0; e < node.Children.size(); ++e, ++child) {
        const PageInfo& below = levels[level + 1][child];
        if (node.EntryKeys[e] != below.FirstKey) {
          problems.push_back(Where(node.Number) + "entry " + std::to_string(e) +
                             " differs from the first key of page " +
                             std::to_string(below.Number));
        }
        if (!format.FullText && node.KeyCounts[e] != below.LeafKeys) {
          problems.push_back(Where(node.Number) + "KeyCount " + std::to_string(node.KeyCounts[e]) +
                             " of page " + std::to_string(below.Number) + " holding " +
                             std::to_string(below.LeafKeys));
        }
        node.LeafKeys += below.LeafKeys;
      }
    }
  }
  return problems;
}

std::vector<std::string> MarkParameterChain(TIndexFile& file, std::vector<bool>& inUse) {
  std::vector<std::string> problems;
  std::int32_t number = file.AuxPage(static_cast<int>(kFullTextSlot));
  while (number != 0) {
    if (number < 1 || number > file.UnitCount() || !Mark(inUse, number)) {
      problems.push_back(Where(number) + "bad parameter chain link");
      break;
    }
    BufferPin pin;
    TPage& page = file.FetchPage(nullptr, number, PageFormat{}, pin);
    if (page.PageType() != kPageFullTextParams) {
      problems.push_back(Where(number) + "parameter chain page of type " +
                         std::to_string(page.PageType()));
      break;
    }
    number = page.NextPage();
  }
  return problems;
}

std::vector<std::string> CheckFreeChain(TIndexFile& file, const std::vector<bool>& inUse) {
  std::vector<std::string> problems;
  std::vector<bool> seen;
  std::int32_t number = file.FirstFreePage();
  while (number != 0) {
    if (number < 1 || number > file.UnitCount()) {
      problems.push_back(Where(number) + "free chain leaves the file");
      break;
    }
    if (!Mark(seen, number)) {
      problems.push_back(Where(number) + "free chain loops");
      break;
    }
    if (static_cast<std::size_t>(number) < inUse.size() && inUse[number]) {
      problems.push_back(Where(number) + "both in use and free");
    }
    BufferPin pin;
    TPage& page = file.FetchPage(nullptr, number, PageFormat{}, pin);
    if (page.EntryCount() != 0) problems.push_back(Where(number) + "free page holds entries");
    number = page.NextPage();
  }
  return problems;
}

}  // namespace strata
