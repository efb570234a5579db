// The index checks of table verification, made on one index slot's tree
// without changing it:
//
// KeyLeadsToRecord searches a record's key from the root: in every node the
// entry followed must carry the first key of its child page, and the leaf
// must hold the key with the record's number.
//
// TreeHoldsRecords walks the whole tree: every page is readable, of the
// type its place calls for and not empty; below the root its first key is
// its parent entry's key; leaf entries name record slots 1 to slotCount;
// each node entry's KeyCount is the number of leaf entries below it; and the
// tree holds `expected` leaf entries. A tree that reaches a page twice or
// goes deeper than 64 levels fails.
//
// Both return false on any failure; damage that keeps a page from being read
// raises the index file's error, which the caller counts as a failure too.
#pragma once

#include <cstdint>
#include <span>

namespace strata {

class IndexKeyLayout;
class TIndexFile;

bool KeyLeadsToRecord(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                      std::span<const std::uint8_t> key, std::int32_t recordNumber);

bool TreeHoldsRecords(TIndexFile& file, int slot, std::int64_t expected, std::int32_t slotCount);

}  // namespace strata
