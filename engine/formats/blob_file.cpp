#include "engine/formats/blob_file.h"


#include <algorithm>
#include <array>
#include <limits>

#include "engine/formats/counters.h"
#include "engine/errors/engine_error.h"
#include "engine/files/base_file.h"

namespace strata {

TBlobFile::TBlobFile(FileRegistry& registry, std::string path, bool inMemory,
                     TableFileOwner& owner, std::int32_t blockSize)
    : TBufferedFile(registry, std::move(path), inMemory, owner),
      owner_(owner),
      blockSize_(blockSize) {
  if (blockSize < 64 || blockSize > 65536 || blockSize % 8 != 0) Raise(STRATA_HEADERCORRUPT);
}

void TBlobFile::Raise(ErrorCode code) const {
  RaiseTableError(code, owner_.ErrorTableName(), owner_.ErrorDatabaseName());
}

void TBlobFile::RaiseForField(ErrorCode code, const FieldDescriptor& field) const {
  RaiseEngineError(code, {}, {}, owner_.ErrorDatabaseName(), owner_.ErrorTableName(), field.Name);
}

void TBlobFile::RaiseCorruptError() { Raise(STRATA_MEMOCORRUPT); }

std::unique_ptr<TBuffer> TBlobFile::NewBuffer() { return std::make_unique<TBlock>(*this); }

void TBlobFile::CheckAppend() { CheckAppendLimits(false); }

void TBlobFile::UnitAppended() {
  ++header_.NextBlockNumber;
  header_.HeaderModified = true;
}

std::int32_t TBlobFile::CacheLimit() { return BlobCacheLimit(owner_.Limits(), PayloadSize()); }

std::int32_t TBlobFile::ReadAheadCount(TDataCursor* /*cursor*/, std::int32_t /*unit*/,
                                       int /*direction*/) {
  const std::int64_t payload = PayloadSize();
  const std::int64_t blocks = (readAheadBytes_ + payload - 1) / payload;
  if (scanAhead_ > 0) return static_cast<std::int32_t>(std::max<std::int64_t>(blocks, scanAhead_));
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(blocks, 1, ReadAheadLimit()));
}

void TBlobFile::Open() {
  TBufferedFile::Open();
  try {
    ReadHeader();
    if (header_.FormatVersion != kCurrentFormatVersion) {
      Raise(header_.FormatVersion < kCurrentFormatVersion ? STRATA_OLDVERSION
                                                          : STRATA_BADSIGNATURE);
    }
    if (header_.SignatureDigest != owner_.SignatureDigest() &&
        header_.SignatureDigest != kDefaultSignatureDigest) {
      Raise(STRATA_BADSIGNATURE);
    }
    ResetCache();
  } catch (...) {
    Close();
    throw;
  }
}

void TBlobFile::CreateNew() {
  TBufferedFile::CreateNew();
  header_ = BlobFileHeader{};
  header_.SignatureDigest = owner_.SignatureDigest();
  header_.HeaderModified = true;
  ResetCache();
}

void TBlobFile::ReadHeader() {
  std::array<std::uint8_t, kBlobHeaderSize> image{};
  if (ReadHeaderImage(*this, owner_, image, true) != static_cast<std::int64_t>(kBlobHeaderSize)) {
    Raise(STRATA_HEADERCORRUPT);
  }
  header_.Decode(image);
}

bool TBlobFile::WriteHeader(bool force) {
  if (!force && !header_.HeaderModified) return false;
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  std::array<std::uint8_t, kBlobHeaderSize> image{};
  header_.Encode(image);
  WriteHeaderImage(*this, owner_, image);
  header_.HeaderModified = false;
  return true;
}

void TBlobFile::TouchHeader() {
  header_.ChangeCount = NextChangeCount(header_.ChangeCount);
  header_.HeaderModified = true;
  owner_.MarkModified();
}

void TBlobFile::EmptyFile() {
  DropBuffers();
  TBufferedFile::EmptyFile();
  header_.FormatVersion = kCurrentFormatVersion;
  header_.ChangeCount = 0;
  header_.NextBlockNumber = 1;
  header_.FirstFreeBlock = 0;
  header_.HeaderModified = true;
}

void TBlobFile::VerifyHeader() {
  const std::int32_t blocks = UnitCount();
  if (blocks < 0 || EndOfUnits() > GetFileSize()) Raise(STRATA_HEADERCORRUPT);
  if (header_.FirstFreeBlock != 0 && !InFile(header_.FirstFreeBlock)) Raise(STRATA_HEADERCORRUPT);
}

bool TBlobFile::HeaderChanged() {
  const std::int32_t held = header_.ChangeCount;
  ReadHeader();
  return header_.ChangeCount != held;
}

TBlock& TBlobFile::BlockOf(const BufferPin& pin) { return static_cast<TBlock&>(*pin); }

void TBlobFile::AllocateBlock(BufferPin& pin) {
  const std::int32_t head = header_.FirstFreeBlock;
  if (head != 0) {
    if (!InFile(head)) Raise(STRATA_MEMOCORRUPT);
    if (!GetBuffer(nullptr, kNoDirection, false, head, pin)) Raise(STRATA_MEMOCORRUPT);
    TBlock& block = BlockOf(pin);
    // A free block that points at itself would be handed out twice.
    if (block.Header().NextBlock == head) Raise(STRATA_MEMOCORRUPT);
    header_.FirstFreeBlock = block.Header().NextBlock;
    block.ClearHeader();
  } else if (!GetBuffer(nullptr, kNoDirection, false, UnitCount() + 1, pin)) {
    Raise(STRATA_MEMOCORRUPT);
  }
  header_.HeaderModified = true;
}

void TBlobFile::FreeBlock(TBlock& block) {
  block.SetNextBlock(header_.FirstFreeBlock);
  header_.FirstFreeBlock = block.Number;
  header_.HeaderModified = true;
}

void TBlobFile::FetchChainBlock(std::int32_t block, std::unordered_set<std::int32_t>& visited,
                                BufferPin& pin) {
  if (!InFile(block) || !visited.insert(block).second) Raise(STRATA_MEMOCORRUPT);
  if (!GetBuffer(nullptr, kNoDirection, false, block, pin)) Raise(STRATA_MEMOCORRUPT);
}

bool TBlobFile::ReadBlobChain(TBlobBuffer& blob, TDataCursor* cursor) {
  blob.Value.clear();
  if (blob.FirstBlock != 0) {
    std::unordered_set<std::int32_t> visited;
    const std::int64_t payload = PayloadSize();
    std::int64_t length = -1;
    std::int64_t read = 0;
    std::int32_t next = blob.FirstBlock;
    struct ResetReadAhead {
      std::int64_t& bytes;
      ~ResetReadAhead() { bytes = 0; }
    } reset{readAheadBytes_};
    while (true) {
      if (!InFile(next) || !visited.insert(next).second) Raise(STRATA_MEMOCORRUPT);
      readAheadBytes_ = length < 0 ? payload : length - read;
      BufferPin pin;
      if (!GetBuffer(cursor, kForward, true, next, pin)) return true;
      const TBlock& block = BlockOf(pin);
      const BlockHeader& header = block.Header();
      if (header.BlobRevision != blob.Revision) return true;
      if (header.DataLength > payload) Raise(STRATA_MEMOCORRUPT);
      if (length < 0) {
        length = header.BlobLength;
        // A length the file cannot hold is damage, not an allocation size.
        if (length < 0 || length > static_cast<std::int64_t>(UnitCount()) * payload) {
          Raise(STRATA_MEMOCORRUPT);
        }
        blob.Value.resize(static_cast<std::size_t>(length));
      }
      const std::int64_t n = std::min(payload, length - read);
      std::copy_n(block.Data().begin(), n,
                  reinterpret_cast<std::byte*>(blob.Value.data()) + read);
      read += n;
      next = header.NextBlock;
      if (read >= length || next == 0) break;
    }
    if (read < length) Raise(STRATA_ENDOFBLOB);
    blob.DecompressAfterRead(owner_.Compression());
  }
  blob.Modified = false;
  return false;
}

std::vector<std::uint8_t> TBlobFile::StoredFormOf(const TBlobBuffer& blob) const {
  const FieldDescriptor& field = blob.Field();
  const CompressionHooks& hooks = owner_.Compression();
  if (field.Compression != 0 && blob.Value.size() > hooks.MaxValueBytes) {
    RaiseForField(STRATA_INVALIDBLOBLEN, field);
  }
  std::vector<std::uint8_t> stored;
  try {
    stored = blob.StoredForm(hooks);
  } catch (const EStrataEngineError& error) {
    if (error.Code != STRATA_COMPRESS) throw;
    RaiseForField(STRATA_COMPRESS, field);
  }
  if (stored.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    RaiseForField(STRATA_INVALIDBLOBLEN, field);
  }
  return stored;
}

void TBlobFile::WriteBlobChain(TBlobBuffer& blob) {
  const std::vector<std::uint8_t> stored = StoredFormOf(blob);
  if (stored.empty()) {
    FreeBlobChain(blob.FirstBlock);
    blob.FirstBlock = 0;
    blob.Modified = false;
    return;
  }
  const auto length = static_cast<std::int32_t>(stored.size());
  const std::size_t payload = static_cast<std::size_t>(PayloadSize());
  std::unordered_set<std::int32_t> visited;
  BufferPin current;
  if (blob.FirstBlock != 0) {
    FetchChainBlock(blob.FirstBlock, visited, current);
  } else {
    AllocateBlock(current);
    blob.FirstBlock = current->Number;
    visited.insert(blob.FirstBlock);
  }
  {
    TBlock& first = BlockOf(current);
    first.SetPrevBlock(0);
    first.SetBlobRevision(blob.Revision);
    first.SetBlobLength(length);
  }
  std::size_t written = 0;
  const auto writeNext = [&](TBlock& block) {
    const std::size_t n = std::min(payload, stored.size() - written);
    block.WritePayload(0, std::span(stored).subspan(written, n));
    written += n;
  };
  writeNext(BlockOf(current));
  while (written < stored.size()) {
    TBlock& block = BlockOf(current);
    BufferPin next;
    if (block.Header().NextBlock != 0) {
      FetchChainBlock(block.Header().NextBlock, visited, next);
    } else {
      AllocateBlock(next);
      if (!visited.insert(next->Number).second) Raise(STRATA_MEMOCORRUPT);
    }
    block.SetNextBlock(next->Number);
    TBlock& following = BlockOf(next);
    following.SetPrevBlock(block.Number);
    following.SetBlobRevision(blob.Revision);
    following.SetBlobLength(0);
    writeNext(following);
    current = std::move(next);
  }
  if (written < stored.size()) Raise(STRATA_ENDOFBLOB);
  TBlock& last = BlockOf(current);
  if (const std::int32_t rest = last.Header().NextBlock; rest != 0) {
    last.SetNextBlock(0);
    FreeChain(rest, visited);
  }
  blob.Modified = false;
}

void TBlobFile::FreeBlobChain(std::int32_t firstBlock) {
  std::unordered_set<std::int32_t> visited;
  FreeChain(firstBlock, visited);
}

void TBlobFile::FreeChain(std::int32_t firstBlock, std::unordered_set<std::int32_t>& visited) {
  std::int32_t next = firstBlock;
  while (next != 0) {
    BufferPin pin;
    FetchChainBlock(next, visited, pin);
    TBlock& block = BlockOf(pin);
    next = block.Header().NextBlock;
    FreeBlock(block);
  }
}

}  // namespace strata
