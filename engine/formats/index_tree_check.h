// Structural checks of an index file's trees and free chain, for
// verification and tests. Each returns a line per broken rule (empty when
// the structure is sound): page types, key order within and across pages,
// each node entry's key equal to its child's first key, KeyCount equal to
// the leaf entries below, neighbour links on every level, all leaves at one
// depth, UsedBytes of compressed leaves, no page reached twice, and no page
// both in a tree and on the free chain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"

namespace strata {

// Checks the tree of a slot; marks its pages in inUse (indexed by page
// number, grown as needed).
std::vector<std::string> CheckIndexTree(TIndexFile& file, int slot, const IndexKeyLayout& layout,
                                        std::vector<bool>& inUse);

// Marks the pages of the full-text parameter chain in inUse.
std::vector<std::string> MarkParameterChain(TIndexFile& file, std::vector<bool>& inUse);

// Checks that the free chain ends, stays inside the file and holds no page
// marked in inUse.
std::vector<std::string> CheckFreeChain(TIndexFile& file, const std::vector<bool>& inUse);

}  // namespace strata
