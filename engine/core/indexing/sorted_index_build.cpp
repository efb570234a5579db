#include "engine/core/indexing/sorted_index_build.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "engine/common/bounded_queue.h"
#include "engine/common/large_allocator.h"

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

void StoreRecordNumber(std::int32_t recordNumber, std::uint8_t* out) {
  const auto value = static_cast<std::uint32_t>(recordNumber);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::int32_t LoadRecordNumber(const std::uint8_t* in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | in[i];
  return static_cast<std::int32_t>(value);
}

// The records the key thread gets at a time, and how many batches may wait
// for it: together they bound what the hand-over holds.
constexpr std::size_t kBatchBytes = std::size_t{256} << 10;
constexpr std::size_t kWaitingBatches = 2;
constexpr std::size_t kHandOverBytes = kBatchBytes * (kWaitingBatches + 2);

}  // namespace

// The thread that makes the keys: records and their texts are copied into
// batches, which it takes in the order they were handed over.
class SortedIndexBuild::KeyThread {
 public:
  explicit KeyThread(SortedIndexBuild& build)
      : build_(build), queue_(kWaitingBatches), thread_([this] { Run(); }) {}

  // Abandoned (the build failed elsewhere): what waits is dropped.
  ~KeyThread() {
    abandoned_.store(true, std::memory_order_release);
    queue_.Close();
    if (thread_.joinable()) thread_.join();
  }

  void Add(std::span<const std::uint8_t> record, std::int32_t recordId, std::int32_t recordNumber,
           std::span<const FieldText> texts) {
    RaiseFailure();
    Item item{batch_.Bytes.size(), record.size(), recordId, recordNumber, batch_.Texts.size(),
              texts.size()};
    batch_.Bytes.insert(batch_.Bytes.end(), record.begin(), record.end());
    for (const FieldText& text : texts) {
      batch_.Texts.push_back({text.FieldNumber, batch_.Bytes.size(), text.Text.size()});
      batch_.Bytes.insert(batch_.Bytes.end(), text.Text.begin(), text.Text.end());
    }
    batch_.Items.push_back(item);
    if (batch_.Bytes.size() >= kBatchBytes) HandOver();
  }

  // Waits until every record handed over has its keys in the sorts.
  void Drain() {
    HandOver();
    queue_.Close();
    if (thread_.joinable()) thread_.join();
    RaiseFailure();
  }

 private:
  struct Item {
    std::size_t RecordAt, RecordSize;
    std::int32_t RecordId, RecordNumber;
    std::size_t TextsAt, TextCount;
  };
  struct Text {
    std::uint16_t FieldNumber;
    std::size_t At, Size;
  };
  // Taken on one thread and freed on the other: from the system (see
  // LargeAllocator), so that the key thread keeps none of it.
  struct Batch {
    LargeVector<std::uint8_t> Bytes;
    LargeVector<Item> Items;
    LargeVector<Text> Texts;
  };

  void HandOver() {
    if (batch_.Items.empty()) return;
    if (!queue_.Push(std::move(batch_))) RaiseFailure();
    batch_ = Batch{};
    batch_.Bytes.reserve(kBatchBytes + kBatchBytes / 4);
  }

  void RaiseFailure() {
    if (failed_.load(std::memory_order_acquire)) std::rethrow_exception(failure_);
  }

  void Run() {
    try {
      std::vector<FieldText> texts;
      while (std::optional<Batch> batch = queue_.Pop()) {
        if (abandoned_.load(std::memory_order_acquire)) return;
        for (const Item& item : batch->Items) {
          texts.clear();
          for (std::size_t t = item.TextsAt; t < item.TextsAt + item.TextCount; ++t) {
            const Text& text = batch->Texts[t];
            texts.push_back({text.FieldNumber,
                             std::string_view(
                                 reinterpret_cast<const char*>(batch->Bytes.data() + text.At),
                                 text.Size)});
          }
          build_.AddKeys(std::span(batch->Bytes).subspan(item.RecordAt, item.RecordSize),
                         item.RecordId, item.RecordNumber, texts);
        }
      }
    } catch (...) {
      failure_ = std::current_exception();
      failed_.store(true, std::memory_order_release);
      // The caller learns of it at its next hand-over.
      queue_.Close();
    }
  }

  SortedIndexBuild& build_;
  Batch batch_;
  BoundedQueue<Batch> queue_;
  std::exception_ptr failure_;
  std::atomic<bool> failed_{false};
  std::atomic<bool> abandoned_{false};
  std::thread thread_;  // last: it starts once the rest is in place
};

std::unique_ptr<TEngineFile> NewSortRunFile(FileRegistry& registry,
                                            const SortedBuildSettings& settings,
                                            const char* extension) {
  // Attempts at a run file name that nobody took.
  constexpr int kRunNameAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    auto run = std::make_unique<TEngineFile>(
        registry,
        registry.MakeUniqueFileName(settings.TempDirectory, extension, settings.TempInMemory),
        settings.TempInMemory);
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
}

SortedIndexBuild::SortedIndexBuild(TIndexFile& file, TableIndexWriter& writer,
                                   std::span<const int> slots, FileRegistry& registry,
                                   const SortedBuildSettings& settings)
    : file_(file), writer_(writer), registry_(registry), settings_(settings) {
  for (const int slot : slots) build_[static_cast<std::size_t>(slot)] = true;
  const bool keyThread = settings.Threads > 1 && !slots.empty();
  // The hand-over to the key thread comes out of the sorts' budget.
  const std::size_t sortBytes =
      keyThread && settings.MemoryBytes > 2 * kHandOverBytes ? settings.MemoryBytes - kHandOverBytes
                                                             : settings.MemoryBytes;
  const std::size_t share = sortBytes / std::max<std::size_t>(1, slots.size());
  for (const int slot : slots) sorters_[static_cast<std::size_t>(slot)] = NewSorter(slot, share);
  if (keyThread) keyThread_ = std::make_unique<KeyThread>(*this);
}

// The key thread stops before the sorts it fills go.
SortedIndexBuild::~SortedIndexBuild() { keyThread_.reset(); }

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
  auto newRunFile = [this] { return NewSortRunFile(registry_, settings_, kRunExtension); };
  return std::make_unique<ExternalSorter>(keyLength + kRecordNumberBytes, memoryBytes,
                                          std::move(compare), std::move(newRunFile));
}

void SortedIndexBuild::AddRecord(std::span<const std::uint8_t> record, std::int32_t recordId,
                                 std::int32_t recordNumber, std::span<const FieldText> texts) {
  if (keyThread_) {
    keyThread_->Add(record, recordId, recordNumber, texts);
    return;
  }
  AddKeys(record, recordId, recordNumber, texts);
}

void SortedIndexBuild::AddKeys(std::span<const std::uint8_t> record, std::int32_t recordId,
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

void SortedIndexBuild::PrepareSorts() {
  std::vector<ExternalSorter*> sorters;
  for (const auto& sorter : sorters_) {
    if (sorter) sorters.push_back(sorter.get());
  }
  const std::size_t threads =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(1, settings_.Threads)),
                            sorters.size());
  if (threads <= 1) return;  // Merge prepares each sort itself
  // The largest sorts first, so that no thread is left with a big one last.
  std::sort(sorters.begin(), sorters.end(), [](const ExternalSorter* a, const ExternalSorter* b) {
    return a->Count() > b->Count();
  });
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureMutex;
  const auto work = [&] {
    for (std::size_t i = next++; i < sorters.size(); i = next++) {
      try {
        sorters[i]->PrepareMerge();
      } catch (...) {
        std::lock_guard lock(failureMutex);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

SortedIndexBuild::Outcome SortedIndexBuild::Finish() {
  if (keyThread_) {
    keyThread_->Drain();
    keyThread_.reset();
  }
  PrepareSorts();
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
