// TableFileCheck: a reader of a plain table's three files that is written
// apart from the engine's verification, for tests that must not take the
// engine's word for a table being sound. It reads the bytes itself and
// returns one line per broken rule (empty when the table is sound):
//
// - every header and descriptor field within its rules, reserved bytes zero,
//   texts canonical; file lengths, page and block counts as the headers say;
// - every slot: RecordIDs unique and not 0, the free chain exactly the
//   deleted slots; every record in use with its link, digest and padding,
//   each value one its type can hold (strings terminated, zero-padded,
//   without trailing blanks, in the field's letter case) and the table's
//   rules kept (required fields, primary key fields not NULL, minimum and
//   maximum); the counters in the header at or above what the records hold;
// - every BLOB chain whole, each block in at most one chain or the free chain;
// - every index tree: page types, levels and neighbour links, node keys and
//   KeyCounts, key order, and its leaf entries exactly the keys the records
//   in use give (built here from the record bytes: ordinary keys and the
//   full-text words), each with its record's number.
//
// Only what a test table needs is covered: plain (not enciphered) tables,
// no text filter hooks.
#pragma once

#include <string>
#include <vector>

namespace strata::testing {

// base: the path of the table without extension; the files are base +
// ".dat", ".idx" and, when the table has BLOB fields, ".blb". ignoredBytes:
// also the bytes a reader ignores or works out itself (reserved bytes and
// the rest of a text zero, the stored HeaderModified 0 or 1, PhysicalSize
// and physical decimals, no PrevBlock in a value's first block) and BLOB
// blocks lost to both values and the free chain, all of which a repair
// puts right; off, only what a reader of the format takes in is checked.
std::vector<std::string> CheckTableFiles(const std::string& base, bool ignoredBytes = true);

}  // namespace strata::testing
