// TIndexTreeBuilder: builds the tree of one index slot from its entries in
// key order, bottom-up, instead of inserting them one at a time.
//
// The leaves are filled from left to right, each as full as a page takes
// (for a compressed leaf: until its packed entries would pass the payload);
// then each level of nodes is made from the first key and the key count of
// every page of the level below, up to a single root. A level of nodes is
// filled the same way, except that its last page takes entries from the one
// before it when it would hold fewer than half a page: deleting keys later
// keeps every node but the root at least half full, and so does this. A
// single page is a root leaf. The pages are numbered on from the end of the
// file, written in that order in pieces of about a megabyte past the cache
// (which holds none of them), and counted in the header; the slot's root is
// set at the end. The tree is an ordinary one: searches, inserts and
// deletes work on it unchanged.
//
// The slot's tree must be empty when the build starts, and nothing else may
// add pages to the file until Finish. Entries must come in the index's
// order; equal keys are the caller's concern (a unique index holds none).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/formats/index_page.h"

namespace strata {

class TIndexFile;

class TIndexTreeBuilder {
 public:
  TIndexTreeBuilder(TIndexFile& file, int slot);
  ~TIndexTreeBuilder();
  TIndexTreeBuilder(const TIndexTreeBuilder&) = delete;
  TIndexTreeBuilder& operator=(const TIndexTreeBuilder&) = delete;

  // The next leaf entry: a key of the slot's key length and its record
  // number.
  void Add(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  // Writes what is left, builds the levels above the leaves and sets the
  // slot's root page (0 when no entry came).
  void Finish();

  std::int64_t EntryCount() const { return entries_; }

 private:
  // One page of the level above: the first key of a page, the page, the
  // leaf entries below it.
  struct Child {
    std::int32_t Page = 0;
    std::int64_t Keys = 0;
  };
  std::int32_t NewPageNumber();
  // Numbers the leaf being filled, writes the one before it and starts an
  // empty leaf.
  void CloseLeaf();
  // Writes a finished page (its neighbour links set) and records it for
  // the level above.
  void Emit(TPage& page, std::vector<std::uint8_t>& firstKeys, std::vector<Child>& children);
  void FlushWrites();
  // Builds one level of nodes over children; returns the level's pages.
  void BuildNodeLevel(const std::vector<std::uint8_t>& keys, const std::vector<Child>& children,
                      std::vector<std::uint8_t>& levelKeys, std::vector<Child>& level);

  TIndexFile& file_;
  int slot_;
  PageFormat format_;
  std::unique_ptr<TPage> leaf_;     // the leaf being filled
  std::unique_ptr<TPage> pending_;  // the finished leaf not written yet
  std::vector<std::uint8_t> leafKeys_;  // first key of each written leaf
  std::vector<Child> leaves_;
  std::vector<std::uint8_t> writes_;  // pages not written yet, in order
  std::int32_t firstUnwritten_ = 0;   // the page at the start of writes_
  std::int32_t nextPage_ = 0;
  std::int64_t entries_ = 0;
};

}  // namespace strata
