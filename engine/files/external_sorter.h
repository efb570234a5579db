// ExternalSorter: sorts entries of a fixed size within a memory budget.
// Entries are gathered in memory; whenever the budget is used up they are
// sorted and written out as a sorted run, to a file the caller's factory
// makes (a temporary file in the engine's temporary folder). Merge then
// hands every entry to a visitor in order: straight from memory when no run
// was written, else by merging the runs, each read in large pieces.
//
// The order is the comparison's, with ties kept in the order the entries
// were added (the sort is stable across memory and runs). Runs are written
// and read in pieces of at least 64 KiB; the budget covers the entries, the
// index used to sort them and the read pieces of a merge. Those buffers come
// from the system and go back to it when freed (LargeAllocator), so that
// sorters made ready on other threads leave no memory behind with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/common/large_allocator.h"

namespace strata {

class TEngineFile;

class ExternalSorter {
 public:
  // -1, 0 or 1 for two entries.
  using Compare = std::function<int(const std::uint8_t* a, const std::uint8_t* b)>;
  // A new, empty file for a run, open for reading and writing; it is
  // closed (and, being temporary, removed) when the sorter is done with it.
  using RunFileFactory = std::function<std::unique_ptr<TEngineFile>()>;

  // compare empty: the entries' bytes compare as unsigned bytes.
  ExternalSorter(std::size_t entrySize, std::size_t memoryBytes, Compare compare,
                 RunFileFactory newRunFile);
  ~ExternalSorter();
  ExternalSorter(const ExternalSorter&) = delete;
  ExternalSorter& operator=(const ExternalSorter&) = delete;

  // entry holds EntrySize() bytes.
  void Add(const std::uint8_t* entry);
  // Does what Merge must do before its first entry (sorting what memory
  // holds, or writing it out as the last run), so that sorters can be made
  // ready side by side and merged one after the other. Merge calls it when
  // nobody did; no Add may follow it.
  void PrepareMerge();
  // Every entry in order, once; the sorter is empty afterwards.
  void Merge(const std::function<void(const std::uint8_t* entry)>& visit);

  std::size_t EntrySize() const { return entrySize_; }
  std::int64_t Count() const { return count_; }
  std::size_t RunCount() const { return runs_.size(); }

 private:
  struct Run;
  int Order(const std::uint8_t* a, const std::uint8_t* b) const;
  // Sorts what memory holds (equal entries in the order added); returns
  // the entries in order.
  LargeVector<const std::uint8_t*> SortMemory();
  void SpillRun();

  std::size_t entrySize_;
  std::size_t capacity_;  // entries memory holds before a run is written
  std::size_t memoryBytes_;
  Compare compare_;
  RunFileFactory newRunFile_;
  LargeBuffer memory_;
  std::size_t held_ = 0;
  std::int64_t count_ = 0;
  std::vector<std::unique_ptr<Run>> runs_;
  bool prepared_ = false;
  LargeVector<const std::uint8_t*> sorted_;  // memory in order, when prepared without runs
};

}  // namespace strata
