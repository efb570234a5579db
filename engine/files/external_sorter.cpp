#include "engine/files/external_sorter.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "engine/files/engine_file.h"

namespace strata {

namespace {

// Bytes of one piece written to or read from a run.
constexpr std::size_t kMinPieceBytes = std::size_t{64} << 10;
constexpr std::size_t kWritePieceBytes = std::size_t{1} << 20;
// Entries memory holds at least, whatever the budget (a budget gives
// thousands; the least makes a sort of a few entries spill, for tests).
constexpr std::size_t kMinCapacity = 2;

}  // namespace

struct ExternalSorter::Run {
  std::unique_ptr<TEngineFile> file;
  std::int64_t entries = 0;
  std::int64_t offset = 0;  // next byte to read
  std::int64_t left = 0;    // entries not read yet
  LargeVector<std::uint8_t> piece;
  std::size_t at = 0;       // next entry's byte in piece
  std::size_t end = 0;      // bytes of piece holding entries

  // The current entry, reading the next piece when needed; null at the end.
  const std::uint8_t* Current(std::size_t entrySize) {
    if (at < end) return piece.data() + at;
    if (left == 0) return nullptr;
    const std::size_t want = std::min<std::size_t>(
        piece.size() / entrySize, static_cast<std::size_t>(left)) * entrySize;
    file->ReadAt(offset, std::as_writable_bytes(std::span(piece.data(), want)), false);
    offset += static_cast<std::int64_t>(want);
    left -= static_cast<std::int64_t>(want / entrySize);
    at = 0;
    end = want;
    return piece.data();
  }
};

ExternalSorter::ExternalSorter(std::size_t entrySize, std::size_t memoryBytes, Compare compare,
                               RunFileFactory newRunFile)
    : entrySize_(entrySize),
      // Each entry also takes its place in the sort's index: a pointer and,
      // comparing bytes, eight bytes of it.
      capacity_(std::max(kMinCapacity, memoryBytes / (entrySize + 2 * sizeof(void*) + 8))),
      memoryBytes_(memoryBytes),
      compare_(std::move(compare)),
      newRunFile_(std::move(newRunFile)) {}

ExternalSorter::~ExternalSorter() = default;

int ExternalSorter::Order(const std::uint8_t* a, const std::uint8_t* b) const {
  return compare_ ? compare_(a, b) : std::memcmp(a, b, entrySize_);
}

void ExternalSorter::Add(const std::uint8_t* entry) {
  if (held_ == capacity_) SpillRun();
  // Taken whole but not touched: only the pages entries reach use memory.
  if (!memory_) memory_ = LargeBuffer(capacity_ * entrySize_);
  std::memcpy(memory_.Data() + held_ * entrySize_, entry, entrySize_);
  ++held_;
  ++count_;
}

LargeVector<const std::uint8_t*> ExternalSorter::SortMemory() {
  LargeVector<const std::uint8_t*> order(held_);
  if (compare_) {
    for (std::size_t i = 0; i < held_; ++i) order[i] = memory_.Data() + i * entrySize_;
    // Equal entries keep the order they were added in, which is the order
    // of their places in memory; sorting in place needs no second buffer.
    std::sort(order.begin(), order.end(), [this](const std::uint8_t* a, const std::uint8_t* b) {
      const int c = compare_(a, b);
      return c != 0 ? c < 0 : a < b;
    });
    return order;
  }
  // Bytes in order: most entries differ in their first eight bytes, which
  // are compared as one number held beside the entry's place.
  struct Keyed {
    std::uint64_t Prefix;
    const std::uint8_t* Entry;
  };
  LargeVector<Keyed> keyed(held_);
  for (std::size_t i = 0; i < held_; ++i) {
    const std::uint8_t* entry = memory_.Data() + i * entrySize_;
    std::uint64_t prefix = 0;
    for (std::size_t b = 0; b < 8; ++b) prefix = (prefix << 8) | (b < entrySize_ ? entry[b] : 0);
    keyed[i] = {prefix, entry};
  }
  std::sort(keyed.begin(), keyed.end(), [this](const Keyed& a, const Keyed& b) {
    if (a.Prefix != b.Prefix) return a.Prefix < b.Prefix;
    const int c = entrySize_ > 8 ? std::memcmp(a.Entry + 8, b.Entry + 8, entrySize_ - 8) : 0;
    return c != 0 ? c < 0 : a.Entry < b.Entry;
  });
  for (std::size_t i = 0; i < held_; ++i) order[i] = keyed[i].Entry;
  return order;
}

void ExternalSorter::SpillRun() {
  const LargeVector<const std::uint8_t*> order = SortMemory();
  auto run = std::make_unique<Run>();
  run->file = newRunFile_();
  LargeVector<std::uint8_t> piece;
  piece.reserve(std::max(kWritePieceBytes, entrySize_));
  std::int64_t offset = 0;
  const auto write = [&] {
    run->file->WriteAt(offset, std::as_bytes(std::span(piece)));
    offset += static_cast<std::int64_t>(piece.size());
    piece.clear();
  };
  for (const std::uint8_t* entry : order) {
    if (piece.size() + entrySize_ > piece.capacity()) write();
    piece.insert(piece.end(), entry, entry + entrySize_);
  }
  if (!piece.empty()) write();
  run->entries = static_cast<std::int64_t>(held_);
  run->left = run->entries;
  runs_.push_back(std::move(run));
  held_ = 0;
}

void ExternalSorter::PrepareMerge() {
  if (prepared_) return;
  prepared_ = true;
  if (runs_.empty()) {
    sorted_ = SortMemory();
    return;
  }
  if (held_ > 0) SpillRun();
  memory_.Reset();
}

void ExternalSorter::Merge(const std::function<void(const std::uint8_t* entry)>& visit) {
  PrepareMerge();
  prepared_ = false;
  if (runs_.empty()) {
    for (const std::uint8_t* entry : sorted_) visit(entry);
    sorted_ = LargeVector<const std::uint8_t*>();
    held_ = 0;
    memory_.Reset();
    count_ = 0;
    return;
  }

  const std::size_t pieceEntries =
      std::max(kMinPieceBytes, memoryBytes_ / runs_.size()) / entrySize_ + 1;
  for (const auto& run : runs_) run->piece.resize(pieceEntries * entrySize_);
  // The smallest current entry on top; between equal entries the earlier
  // run, which holds the entries added earlier.
  const auto later = [this](const std::pair<const std::uint8_t*, std::size_t>& a,
                            const std::pair<const std::uint8_t*, std::size_t>& b) {
    const int c = Order(a.first, b.first);
    return c != 0 ? c > 0 : a.second > b.second;
  };
  std::priority_queue<std::pair<const std::uint8_t*, std::size_t>,
                      std::vector<std::pair<const std::uint8_t*, std::size_t>>, decltype(later)>
      heads(later);
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    if (const std::uint8_t* entry = runs_[i]->Current(entrySize_)) heads.emplace(entry, i);
  }
  while (!heads.empty()) {
    const auto [entry, index] = heads.top();
    heads.pop();
    visit(entry);
    Run& run = *runs_[index];
    run.at += entrySize_;
    if (const std::uint8_t* next = run.Current(entrySize_)) heads.emplace(next, index);
  }
  runs_.clear();
  count_ = 0;
}

}  // namespace strata
