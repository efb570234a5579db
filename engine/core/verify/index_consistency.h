// The index checks of table verification, made on one index slot's tree
// without changing it:
//
// KeyLeadsToRecord searches a record's key from the root: in every node the
// entry followed must carry the first key of its child page, and the leaf
// must hold the key with the record's number.
//
// IndexEntrySum adds up (key, record number) pairs so that two collections
// of entries can be compared without holding them: equal collections give
// equal sums, and a collection that differs in any entry (a key byte, a
// record number, an entry more or less) gives another sum but for a chance
// of about 2^-128 (each entry's 128-bit hash is made for damage, not for an
// adversary). The record pass adds the keys the records give; the tree walk
// adds what the leaves hold.
//
// TreeHoldsRecords walks the whole tree: every page is readable, of the
// type its place calls for and not empty, its UsedBytes 0 unless it is a
// compressed leaf; below the root its first key is
// its parent entry's key; each node entry's KeyCount is the number of leaf
// entries below it (not kept in the full-text index); all leaves lie at one
// depth; the pages of each level are linked left to right through PrevPage
// and NextPage, the first with no left and the last with no right
// neighbour; leaf keys rise strictly from the first leaf to the last; leaf
// entries name record slots 1 to slotCount; and the leaf entries add up to
// `expected`. A tree that reaches a page twice (also one marked in inUse,
// which is indexed by page number) or goes deeper than 64 levels fails. The
// pages it reaches are marked in inUse.
//
// Both return false on any failure; damage that keeps a page from being read
// raises the index file's error, which the caller counts as a failure too.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace strata {

class IndexKeyLayout;
class TIndexFile;

class IndexEntrySum {
 public:
  void Add(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  bool operator==(const IndexEntrySum&) const = default;

 private:
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
  std::int64_t count_ = 0;
};

bool KeyLeadsToRecord(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                      std::span<const std::uint8_t> key, std::int32_t recordNumber);

bool TreeHoldsRecords(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                      const IndexEntrySum& expected, std::int32_t slotCount,
                      std::vector<bool>& inUse);

// The free page chain runs through pages of the file that nothing else
// (inUse) holds, each once, to its end; its pages are marked too.
bool FreePagesApart(TIndexFile& file, std::vector<bool>& inUse);

}  // namespace strata
