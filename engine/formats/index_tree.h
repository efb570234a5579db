// TIndexTree: the B+-tree of one index slot of an index file.
//
// Leaves hold (key, record number) in key order; nodes hold (first key of
// the child's subtree, child page, KeyCount = leaf entries below the child).
// Every level is chained through PrevPage and NextPage. Insertion copies a
// new smallest key of a page up the tree and splits an overfull page in
// two (the old page keeps the larger half of an odd count); a split root
// grows the tree by one level. Deletion frees a leaf only when it is empty;
// a node that falls below half its capacity merges with or shares entries
// with a neighbour under the same parent; a root node left with one entry
// hands the root to its child.
//
// The tree is a short-lived view: build it for an operation with the
// index's key layout. Pages met on the way are checked (type, entry count,
// neighbour links, depth at most 64): damage raises STRATA_INDEXCORRUPT, a descriptor whose
// key length does not fit the layout or the page size raises STRATA_HEADERCORRUPT.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"

namespace strata {

class TIndexTree {
 public:
  TIndexTree(TIndexFile& file, int slot, const IndexKeyLayout& layout,
             TDataCursor* cursor = nullptr);

  // Inserts a key (KeyLength() bytes) with its record number.
  void Insert(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  // Deletes the entry with exactly this key; STRATA_INDEXCORRUPT when there is none.
  void Delete(std::span<const std::uint8_t> key);
  // The record number of the entry with exactly this key.
  std::optional<std::int32_t> Find(std::span<const std::uint8_t> key);
  // STRATA_KEYVIOL with the index's name ("Primary" for slot 0) when the key exists.
  void CheckUnique(std::span<const std::uint8_t> key);
  // Frees every page of the tree (children before their parent) and
  // empties it.
  void DeleteAllPages();
  // Leaf entries in the tree.
  std::int64_t KeyTotal();

  const PageFormat& Format() const { return format_; }
  std::uint16_t KeyLength() const { return format_.KeyLength; }
  int Slot() const { return slot_; }

  // The last entry whose key is <= key (-1 when key is smaller than all).
  int SearchPage(const TPage& page, const std::uint8_t* key) const;

 private:
  struct Level {
    BufferPin pin;
    int pos = 0;
  };
  using Path = std::vector<Level>;

  TPage& Fetch(std::int32_t page, BufferPin& pin);
  static TPage& At(Path& path, std::size_t level) { return PageOf(path[level].pin); }
  int Compare(const std::uint8_t* a, const std::uint8_t* b) const {
    return layout_.CompareKeys(a, b, format_.KeyLength);
  }
  // Pins the pages from the root to the leaf where key belongs; in nodes
  // pos is the entry followed, in the leaf the search result.
  void Descend(const std::uint8_t* key, Path& path);
  void PropagateFirstKey(Path& path, std::size_t level);
  void Split(Path& path, std::size_t level);
  void RemoveEntry(Path& path, std::size_t level, int pos);
  void Rebalance(Path& path, std::size_t level);
  void UnlinkAndFree(TPage& page);
  void CollapseRoot(Path& path);
  void FreeSubtree(std::int32_t page, int depth, std::int64_t& visited);

  TIndexFile& file_;
  int slot_;
  const IndexKeyLayout& layout_;
  TDataCursor* cursor_;
  PageFormat format_;
};

}  // namespace strata
