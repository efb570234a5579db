#include "engine/core/indexing/sorted_index_build.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/errors/engine_error.h"
#include "engine/files/engine_file.h"
#include "engine/files/external_sorter.h"
#include "engine/formats/index_file.h"
#include "engine/formats/index_key.h"
#include "engine/formats/index_tree_builder.h"

namespace strata {

namespace {

// A sort entry: the key, then the record number big-endian, so that equal
// keys order by record number (the order the records were added).
constexpr std::size_t kRecordNumberBytes = 4;
// Extension of the temporary files that hold sorted runs.
constexpr char kRunExtension[] = ".srt";
// Attempts at a run file name that nobody took.
constexpr int kRunNameAttempts = 100;

void StoreRecordNumber(std::int32_t recordNumber, std::uint8_t* out) {
  const auto value = static_cast<std::uint32_t>(recordNumber);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::int32_t LoadRecordNumber(const std::uint8_t* in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | in[i];
  return static_cast<std::int32_t>(value);
}

}  // namespace

SortedIndexBuild::SortedIndexBuild(TIndexFile& file, TableIndexWriter& writer,
                                   std::span<const int> slots, FileRegistry& registry,
                                   const SortedBuildSettings& settings)
    : file_(file), writer_(writer), registry_(registry), settings_(settings) {
  for (const int slot : slots) build_[static_cast<std::size_t>(slot)] = true;
  const std::size_t share = settings.MemoryBytes / std::max<std::size_t>(1, slots.size());
  for (const int slot : slots) sorters_[static_cast<std::size_t>(slot)] = NewSorter(slot, share);
}

SortedIndexBuild::~SortedIndexBuild() = default;

std::unique_ptr<ExternalSorter> SortedIndexBuild::NewSorter(int slot, std::size_t memoryBytes) {
  const IndexKeyLayout& layout = writer_.Layout(slot);
  const std::size_t keyLength = layout.KeyLength();
  ExternalSorter::Compare compare;
  if (!layout.BytewiseOrder()) {
    compare = [&layout, keyLength](const std::uint8_t* a, const std::uint8_t* b) {
      const int c = layout.CompareKeys(a, b, keyLength);
      return c != 0 ? c : std::memcmp(a + keyLength, b + keyLength, kRecordNumberBytes);
    };
  }
  auto newRunFile = [this]() {
    for (int attempt = 0;; ++attempt) {
      auto run = std::make_unique<TEngineFile>(
          registry_,
          registry_.MakeUniqueFileName(settings_.TempDirectory, kRunExtension,
                                       settings_.TempInMemory),
          settings_.TempInMemory);
      run->FailIfExists = true;
      run->Temporary = true;
      try {
        run->CreateNew();
        return run;
      } catch (const EStrataEngineError& error) {
        // Another process took the name between the test and the creation.
        if (error.Code != STRATA_OSEACCES || attempt >= kRunNameAttempts) throw;
      }
    }
  };
  return std::make_unique<ExternalSorter>(keyLength + kRecordNumberBytes, memoryBytes,
                                          std::move(compare), std::move(newRunFile));
}

void SortedIndexBuild::AddRecord(std::span<const std::uint8_t> record, std::int32_t recordId,
                                 std::int32_t recordNumber, std::span<const FieldText> texts) {
  writer_.VisitRecordKeys(record, recordId, texts, build_,
                          [&](int slot, std::span<const std::uint8_t> key) {
                            entry_.assign(key.begin(), key.end());
                            entry_.resize(key.size() + kRecordNumberBytes);
                            StoreRecordNumber(recordNumber, entry_.data() + key.size());
                            sorters_[static_cast<std::size_t>(slot)]->Add(entry_.data());
                          });
}

void SortedIndexBuild::BuildSlot(int slot, std::vector<Group>& groups) {
  ExternalSorter& sorter = *sorters_[static_cast<std::size_t>(slot)];
  const IndexKeyLayout& layout = writer_.Layout(slot);
  const std::size_t keyLength = layout.KeyLength();
  const bool unique = layout.Unique() && !layout.FullText();
  TIndexTreeBuilder builder(file_, slot);
  std::vector<std::uint8_t> previous(keyLength);
  std::int32_t previousRecord = 0;
  bool havePrevious = false;
  bool inGroup = false;
  sorter.Merge([&](const std::uint8_t* entry) {
    const std::int32_t recordNumber = LoadRecordNumber(entry + keyLength);
    if (unique && havePrevious && layout.CompareKeys(previous.data(), entry, keyLength) == 0) {
      if (!inGroup) groups.push_back({slot, previous, {previousRecord}});
      inGroup = true;
      groups.back().Records.push_back(recordNumber);
      return;
    }
    inGroup = false;
    builder.Add(std::span(entry, keyLength), recordNumber);
    std::memcpy(previous.data(), entry, keyLength);
    previousRecord = recordNumber;
    havePrevious = true;
  });
  builder.Finish();
  sorters_[static_cast<std::size_t>(slot)].reset();
}

SortedIndexBuild::Outcome SortedIndexBuild::Finish() {
  std::vector<Group> groups;
  for (int slot = 0; slot < static_cast<int>(kIndexSlotCount); ++slot) {
    if (build_[static_cast<std::size_t>(slot)]) BuildSlot(slot, groups);
  }
  return ResolveGroups(groups);
}

SortedIndexBuild::Outcome SortedIndexBuild::ResolveGroups(std::vector<Group>& groups) {
  Outcome outcome;
  if (groups.empty()) return outcome;
  // The groups of each record, in slot order (the groups come slot by slot).
  std::map<std::int32_t, std::vector<std::size_t>> groupsOf;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (const std::int32_t record : groups[g].Records) groupsOf[record].push_back(g);
  }
  std::vector<std::int32_t> kept(groups.size(), 0);
  for (const auto& [record, of] : groupsOf) {
    const auto refusing = std::find_if(of.begin(), of.end(),
                                       [&](std::size_t g) { return kept[g] != 0; });
    if (refusing != of.end()) {
      outcome.Refused.push_back({record, groups[*refusing].Slot});
      continue;
    }
    for (const std::size_t g : of) kept[g] = record;
  }
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (kept[g] != 0 && kept[g] != groups[g].Records.front()) {
      outcome.Kept.push_back({groups[g].Slot, std::move(groups[g].Key), kept[g]});
    }
  }
  return outcome;
}

}  // namespace strata
