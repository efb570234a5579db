// The check of one stored BLOB value's block chain, made by table
// verification: the first block must carry the reference's revision and a
// length above 0; every block but the last must be full; each NextBlock must
// name another block of the file, not met before in the chain, carrying the
// same revision; the data lengths must add up to the stored length.
//
// Each finding is reported by its text (the caller adds which record it
// belongs to). A repair cuts the chain at the first bad link (the blocks cut
// off stay where they are), zeroes PrevBlock of the first block, sets the
// stored length to the bytes the chain holds, and empties the reference
// (first block 0) when the value cannot be read at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/formats/record_values.h"

namespace strata {

class TBlobFile;

// blockCount: the blocks the file holds; reference.FirstBlock must lie in
// 1..blockCount. reached: the blocks of the values checked before, which no
// other chain may enter (a first block among them empties the value, a link
// into them cuts the chain); the blocks this value keeps are added, and
// returned (none when the value is left without a first block).
std::vector<std::int32_t> CheckBlobChain(TBlobFile& file, std::int32_t blockCount, BlobReference& reference, bool repair,
                    const std::function<void(std::string_view text)>& report,
                    std::unordered_set<std::int32_t>& reached);

}  // namespace strata
