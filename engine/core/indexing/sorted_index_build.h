// SortedIndexBuild: fills empty index slots of an open table from records
// that are there, by sorting their keys instead of inserting them one at a
// time. AddRecord takes each record's keys for the slots being built (and
// its full-text words when the full-text slot is one of them); Finish sorts
// each slot's keys (within the memory budget, spilling sorted runs to
// temporary files in the given folder, see ExternalSorter) and builds its
// tree bottom-up (TIndexTreeBuilder), one slot after the other.
//
// Threads. With more than one thread, AddRecord copies the record and its
// texts and hands them in batches to a thread of the build's own, which
// makes the keys and fills the sorts while the caller goes on with the next
// record; Finish sorts what the slots hold in memory side by side before
// the trees are written one after the other. The keys reach each sort in
// the order the records were added and the trees are written in slot
// order, so the index file is the same byte for byte whatever the number
// of threads. A failure on that thread is raised by the next AddRecord or
// by Finish. The key hooks of the engine (full-text filters) are then
// called on that thread.
//
// Duplicates. Inserted one by one into a unique index, a record whose key
// is there already is refused, in record order, and a refused record's keys
// go into no index. Finish gives the same outcome: in each unique slot the
// records of equal keys form a group whose first record (by record number)
// takes the tree entry; then the records of all groups are walked in record
// order, and a record is refused when one of its groups already kept a
// record; the first such slot, in slot order, is the one that refuses it.
// The caller takes the refused records out of the table, which removes
// their keys (TableIndexWriter::DeleteRecordKeys leaves keys of other
// records alone), and then inserts each kept key: a group whose first
// record was refused by another slot keeps its first record that stays.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/core/indexing/table_index_writer.h"
#include "engine/formats/index_file_header.h"

namespace strata {

class ExternalSorter;
class FileRegistry;
class TEngineFile;

struct SortedBuildSettings {
  // Bytes for all sort buffers together.
  std::size_t MemoryBytes = std::size_t{16} << 20;
  // The folder (ending in "/") for the runs of a sort beyond the budget,
  // and whether it is the memory database's.
  std::string TempDirectory;
  bool TempInMemory = false;
  // Threads the build may use, the caller's included; 1 keeps all the work
  // on the caller's thread.
  int Threads = 1;
};

// A new, empty file for a sort's spilled run in the settings' temporary
// folder, named with the extension under a name nobody holds (another
// process taking a name between the test and the creation is tried again).
std::unique_ptr<TEngineFile> NewSortRunFile(FileRegistry& registry,
                                            const SortedBuildSettings& settings,
                                            const char* extension);

class SortedIndexBuild {
 public:
  struct RefusedRecord {
    std::int32_t RecordNumber = 0;
    int Slot = 0;
  };
  struct KeptKey {
    int Slot = 0;
    std::vector<std::uint8_t> Key;
    std::int32_t RecordNumber = 0;
  };
  struct Outcome {
    std::vector<RefusedRecord> Refused;  // in record order
    std::vector<KeptKey> Kept;
  };

  // slots: the slots to build (0 to 30, and 31 for the full-text index),
  // each with an empty tree.
  SortedIndexBuild(TIndexFile& file, TableIndexWriter& writer, std::span<const int> slots,
                   FileRegistry& registry, const SortedBuildSettings& settings);
  ~SortedIndexBuild();
  SortedIndexBuild(const SortedIndexBuild&) = delete;
  SortedIndexBuild& operator=(const SortedIndexBuild&) = delete;

  void AddRecord(std::span<const std::uint8_t> record, std::int32_t recordId,
                 std::int32_t recordNumber, std::span<const FieldText> texts);
  Outcome Finish();

  bool Builds(int slot) const { return build_[static_cast<std::size_t>(slot)]; }

 private:
  struct Group {
    int Slot = 0;
    std::vector<std::uint8_t> Key;
    std::vector<std::int32_t> Records;  // ascending
  };
  class KeyThread;

  std::unique_ptr<ExternalSorter> NewSorter(int slot, std::size_t memoryBytes);
  // Makes the record's keys and adds them to the sorts.
  void AddKeys(std::span<const std::uint8_t> record, std::int32_t recordId,
               std::int32_t recordNumber, std::span<const FieldText> texts);
  void PrepareSorts();
  void BuildSlot(int slot, std::vector<Group>& groups);
  static Outcome ResolveGroups(std::vector<Group>& groups);

  TIndexFile& file_;
  TableIndexWriter& writer_;
  FileRegistry& registry_;
  SortedBuildSettings settings_;
  std::array<bool, kIndexSlotCount> build_{};
  std::array<std::unique_ptr<ExternalSorter>, kIndexSlotCount> sorters_;
  std::vector<std::uint8_t> entry_;
  std::unique_ptr<KeyThread> keyThread_;  // with more than one thread
};

}  // namespace strata
