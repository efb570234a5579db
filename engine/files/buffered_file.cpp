#include "engine/files/buffered_file.h"

#include <algorithm>
#include <stdexcept>

#include "engine/errors/engine_error.h"

namespace strata {

BufferPin& BufferPin::operator=(BufferPin&& other) noexcept {
  if (this != &other) {
    Release();
    buffer_ = other.buffer_;
    other.buffer_ = nullptr;
  }
  return *this;
}

void BufferPin::Release() {
  if (buffer_ == nullptr) return;
  TBuffer* buffer = buffer_;
  buffer_ = nullptr;
  buffer->Owner().ReleaseBuffer(buffer);
}

TBufferedFile::TBufferedFile(FileRegistry& registry, std::string path, bool inMemory,
                             BufferedFileTable& table)
    : TEngineFile(registry, std::move(path), inMemory), table_(table) {}

TBufferedFile::~TBufferedFile() {
  DropBuffers();
  orphans_.clear();
}

void TBufferedFile::Close() {
  DropBuffers();
  TEngineFile::Close();
}

void TBufferedFile::CorruptBuffers() {
  RaiseCorruptError();
  throw std::logic_error("RaiseCorruptError returned");
}

void TBufferedFile::CheckAppendLimits(bool countRecords) {
  const EngineLimits& limits = table_.Limits();
  if ((countRecords && UnitCount() >= limits.MaxRecordCount) ||
      EndOfUnits() + UnitSize() > limits.MaxFileSize) {
    RaiseTableError(STRATA_TABLEFULL, table_.ErrorTableName(), table_.ErrorDatabaseName());
  }
}

std::int32_t TBufferedFile::ReadAheadCount(TDataCursor* /*cursor*/, std::int32_t /*unit*/,
                                           int /*direction*/) {
  return 1;
}

std::int64_t TBufferedFile::EndOfUnits() {
  return FirstUnitOffset() + static_cast<std::int64_t>(UnitCount()) * UnitSize();
}

void TBufferedFile::ResetCache() {
  stats_ = Statistics{};
  capacity_ = CacheLimit();
  readAheadLimit_ = DefaultReadAheadLimit();
}

void TBufferedFile::EmptyFile() {
  {
    IoGuard io(*this);
    Seek(TBaseFile::kFromStart, FirstUnitOffset());
    Write({});
  }
  if (table_.ForceBufferFlush()) Flush();
  table_.MarkModified();
}

// The most-recently-used list.

void TBufferedFile::PushFront(TBuffer* buffer) {
  buffer->prev_ = nullptr;
  buffer->next_ = mruHead_;
  if (mruHead_ != nullptr) mruHead_->prev_ = buffer;
  mruHead_ = buffer;
  if (mruTail_ == nullptr) mruTail_ = buffer;
  buffer->linked_ = true;
}

void TBufferedFile::Unlink(TBuffer* buffer) {
  if (!buffer->linked_) return;
  if (buffer->prev_ != nullptr) buffer->prev_->next_ = buffer->next_;
  else mruHead_ = buffer->next_;
  if (buffer->next_ != nullptr) buffer->next_->prev_ = buffer->prev_;
  else mruTail_ = buffer->prev_;
  buffer->prev_ = nullptr;
  buffer->next_ = nullptr;
  buffer->linked_ = false;
}

void TBufferedFile::MoveToFront(TBuffer* buffer) {
  if (mruHead_ == buffer) return;
  Unlink(buffer);
  PushFront(buffer);
}

// The list sorted by unit number.

TBufferedFile::CacheList::iterator TBufferedFile::FindCached(std::int32_t unit) {
  return cached_.find(unit);
}

void TBufferedFile::InsertCached(std::unique_ptr<TBuffer> buffer) {
  const std::int32_t unit = buffer->Number;
  if (!cached_.try_emplace(unit, std::move(buffer)).second) CorruptBuffers();
}

void TBufferedFile::Discard(TBuffer* buffer) {
  const auto it = cached_.find(buffer->Number);
  if (it != cached_.end() && it->second.get() == buffer) cached_.erase(it);  // unlinks it
}

TBuffer* TBufferedFile::FindRecent(std::int32_t unit) {
  TBuffer* buffer = mruHead_;
  for (std::int32_t depth = ScanDepth(); depth > 0 && buffer != nullptr; --depth) {
    if (buffer->Number == unit) return buffer;
    buffer = buffer->next_;
  }
  const auto it = FindCached(unit);
  return it != cached_.end() ? it->second.get() : nullptr;
}

TBuffer* TBufferedFile::FindVictim() const {
  for (TBuffer* buffer = mruTail_; buffer != nullptr; buffer = buffer->prev_) {
    if (!buffer->Dirty && buffer->PinCount == 0) return buffer;
  }
  return nullptr;
}

// A buffer for a unit, cleared, at the front of the MRU list and in the
// sorted list: a new one while below capacity, else the least recently used
// clean and unpinned one, else (every buffer dirty or pinned) a new one with
// the capacity grown by one step.
TBuffer* TBufferedFile::Acquire(std::int32_t unit) {
  if (static_cast<std::int32_t>(cached_.size()) >= capacity_) {
    TBuffer* victim = FindVictim();
    if (victim == nullptr && !table_.InTransaction()) {
      WriteBack(true);
      victim = FindVictim();
    }
    if (victim != nullptr) {
      const auto it = FindCached(victim->Number);
      if (it == cached_.end() || it->second.get() != victim) CorruptBuffers();
      // The buffer moves to its new number without being freed.
      auto node = cached_.extract(it);
      MoveToFront(victim);
      victim->Clear();
      victim->Number = unit;
      node.key() = unit;
      if (!cached_.insert(std::move(node)).inserted) CorruptBuffers();
      return victim;
    }
    capacity_ += std::max(1, GrowthStep());
  }
  std::unique_ptr<TBuffer> buffer = NewBuffer();
  TBuffer* raw = buffer.get();
  raw->Clear();
  raw->Number = unit;
  PushFront(raw);
  InsertCached(std::move(buffer));
  return raw;
}

void TBufferedFile::Pin(TBuffer* buffer, BufferPin& pin) {
  ++buffer->PinCount;
  pin.buffer_ = buffer;
}

void TBufferedFile::ReleaseBuffer(TBuffer* buffer) {
  if (buffer == nullptr) return;
  if (buffer->PinCount > 0) --buffer->PinCount;
  if (buffer->orphaned_ && buffer->PinCount == 0) {
    const auto it = std::find_if(orphans_.begin(), orphans_.end(),
                                 [buffer](const std::unique_ptr<TBuffer>& b) { return b.get() == buffer; });
    if (it != orphans_.end()) orphans_.erase(it);
  }
}

bool TBufferedFile::GetBuffer(TDataCursor* cursor, int direction, bool readAheadAllowed,
                              std::int32_t unit, BufferPin& pin) {
  pin.Release();
  if (unit <= 0) CorruptBuffers();
  if (unit == UnitCount() + 1) {
    CheckAppend();
    TBuffer* buffer = Acquire(unit);
    Pin(buffer, pin);
    ++stats_.Requests;
    UnitAppended();
    return true;
  }
  if (TBuffer* hit = FindRecent(unit)) {
    MoveToFront(hit);
    ++stats_.Requests;
    Pin(hit, pin);
    return true;
  }
  if (!table_.StrictChangeDetection() && !table_.ReadLockForCacheMiss(cursor)) return false;
  const std::int32_t units = UnitCount();
  if (unit > units) CorruptBuffers();
  std::int32_t count = 1;
  if (readAheadAllowed && direction != kNoDirection) {
    // A backward run ends with the unit and must not reach below unit 1.
    const std::int32_t room = direction == kBackward ? unit : units - unit + 1;
    count = std::clamp(std::min(ReadAheadCount(cursor, unit, direction), room), 1, room);
  }
  ReadUnits(unit, count, direction);
  const auto it = FindCached(unit);
  if (it == cached_.end()) CorruptBuffers();
  Pin(it->second.get(), pin);
  return true;
}

bool TBufferedFile::InReadWindow(std::int32_t unit) const {
  if (readWindowLength_ <= 0) return false;
  const std::int64_t start = UnitOffset(unit);
  return start < readWindowOffset_ + readWindowLength_ && start + UnitSize() > readWindowOffset_;
}

void TBufferedFile::ReadUnits(std::int32_t unit, std::int32_t count, int direction) {
  const std::int32_t unitSize = UnitSize();
  const std::int32_t first = direction == kBackward ? unit - count + 1 : unit;
  const std::int64_t length = static_cast<std::int64_t>(count) * unitSize;
  readArea_.resize(static_cast<std::size_t>(length));
  readWindowOffset_ = UnitOffset(first);
  readWindowLength_ = length;
  // Buffers loaded by this read are pinned until it ends, so that acquiring
  // a later unit of the run never takes an earlier one as its victim.
  std::vector<TBuffer*> loaded;
  struct Cleanup {
    TBufferedFile& file;
    std::vector<TBuffer*>& loaded;
    ~Cleanup() {
      for (TBuffer* buffer : loaded) file.ReleaseBuffer(buffer);
      file.readWindowOffset_ = 0;
      file.readWindowLength_ = 0;
    }
  } cleanup{*this, loaded};

  const bool allowShort = (Exclusive || table_.InTransaction()) && table_.ModifiedSinceOpen();
  std::int64_t got = 0;
  {
    IoGuard io(*this);
    Seek(TBaseFile::kFromStart, readWindowOffset_);
    got = Read(readArea_, allowShort);
  }
  ++stats_.PhysicalReads;
  stats_.BytesRead += got;

  const std::int64_t complete = got / unitSize;
  loaded.reserve(static_cast<std::size_t>(complete));
  for (std::int64_t i = 0; i < complete; ++i) {
    const auto number = static_cast<std::int32_t>(first + i);
    const std::span<const std::byte> image(readArea_.data() + i * unitSize,
                                           static_cast<std::size_t>(unitSize));
    TBuffer* buffer = nullptr;
    const auto it = FindCached(number);
    if (it != cached_.end()) {
      buffer = it->second.get();
      if (buffer->Dirty || buffer->PinCount > 0) continue;  // newer than the file
      MoveToFront(buffer);
    } else {
      buffer = Acquire(number);
    }
    ++buffer->PinCount;
    loaded.push_back(buffer);
    try {
      buffer->LoadUnit(image);
    } catch (...) {
      loaded.pop_back();
      --buffer->PinCount;
      Discard(buffer);
      throw;
    }
    ++stats_.BufferedReads;
  }
}

bool TBufferedFile::WriteBack(bool fromEviction) {
  std::vector<TBuffer*> collected;
  for (const auto& [number, buffer] : cached_) {
    if (!buffer->Dirty) continue;
    if (buffer->PinCount > 0) {
      if (!fromEviction) CorruptBuffers();
      continue;
    }
    if (InReadWindow(buffer->Number)) continue;
    collected.push_back(buffer.get());
  }
  if (collected.empty()) return false;
  std::sort(collected.begin(), collected.end(),
            [](const TBuffer* a, const TBuffer* b) { return a->Number < b->Number; });

  const std::int32_t unitSize = UnitSize();
  std::size_t runStart = 0;
  while (runStart < collected.size()) {
    std::size_t runEnd = runStart + 1;
    while (runEnd < collected.size() &&
           collected[runEnd]->Number == collected[runEnd - 1]->Number + 1) {
      ++runEnd;
    }
    const std::span<TBuffer* const> run(collected.data() + runStart, runEnd - runStart);
    writeArea_.resize(run.size() * static_cast<std::size_t>(unitSize));
    for (std::size_t i = 0; i < run.size(); ++i) {
      run[i]->SaveUnit(std::span(writeArea_).subspan(i * static_cast<std::size_t>(unitSize),
                                                     static_cast<std::size_t>(unitSize)));
    }
    try {
      IoGuard io(*this);
      Seek(TBaseFile::kFromStart, UnitOffset(run.front()->Number));
      Write(writeArea_);
    } catch (...) {
      // The units did not reach the file: keep them dirty.
      for (TBuffer* buffer : run) buffer->Dirty = true;
      throw;
    }
    table_.MarkModified();
    ++stats_.PhysicalWrites;
    runStart = runEnd;
  }
  return true;
}

void TBufferedFile::TrimCache() {
  const std::int32_t limit = CacheLimit();
  TBuffer* buffer = mruTail_;
  while (buffer != nullptr && static_cast<std::int32_t>(cached_.size()) > limit) {
    TBuffer* newer = buffer->prev_;
    if (!buffer->Dirty && buffer->PinCount == 0) {
      const auto it = FindCached(buffer->Number);
      if (it == cached_.end() || it->second.get() != buffer) CorruptBuffers();
      cached_.erase(it);
    }
    buffer = newer;
  }
  capacity_ = std::max(static_cast<std::int32_t>(cached_.size()), limit);
}

void TBufferedFile::DropBuffers() {
  for (auto& [number, buffer] : cached_) {
    Unlink(buffer.get());
    if (buffer->PinCount > 0) {
      // Still in a caller's hands: kept until its pin is released.
      buffer->orphaned_ = true;
      orphans_.push_back(std::move(buffer));
    }
  }
  cached_.clear();
  mruHead_ = nullptr;
  mruTail_ = nullptr;
}

}  // namespace strata
