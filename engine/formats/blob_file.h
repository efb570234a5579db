// TBlobFile: a table's BLOB file. After a 512-byte header come blocks of the
// table's BLOB block size (taken from the data file header, not stored
// here); block n (from 1) is the buffered file's unit n, cached in a TBlock.
//
// A value of stored length L > 0 is a chain of ceil(L / B) blocks (B = block
// size - 18) linked both ways; every block carries the value's revision and
// the first its length. Freed blocks form a free chain through NextBlock,
// the head in FirstFreeBlock; allocation takes the last freed block first.
// Every block number read from the file is checked before it is followed: a
// pointer outside the file, a cycle or an unreadable block is STRATA_MEMOCORRUPT, a chain
// shorter than its length STRATA_ENDOFBLOB.
//
// Revisions are assigned by the caller (the data file's LastBlobRevision);
// this file only stamps and checks them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "engine/formats/blob_block.h"
#include "engine/formats/blob_buffer.h"
#include "engine/formats/blob_file_header.h"
#include "engine/formats/header_repair_log.h"
#include "engine/formats/table_file_owner.h"
#include "engine/files/buffered_file.h"

namespace strata {

class TBlobFile : public TBufferedFile {
 public:
  // blockSize must be a multiple of 8 from 64 to 65536, else STRATA_HEADERCORRUPT.
  TBlobFile(FileRegistry& registry, std::string path, bool inMemory, TableFileOwner& owner,
            std::int32_t blockSize);

  // Opens the file and reads the header: STRATA_OLDVERSION for an earlier format,
  // STRATA_BADSIGNATURE for another format or signature, STRATA_HEADERCORRUPT for a file shorter
  // than a header.
  void Open() override;
  // An empty file: format 6, the engine's signature, NextBlockNumber 1.
  void CreateNew() override;

  std::unique_ptr<TBuffer> NewBuffer() override;
  void RaiseCorruptError() override;  // STRATA_MEMOCORRUPT
  void CheckAppend() override;
  void UnitAppended() override;
  std::int32_t CacheLimit() override;
  std::int32_t DefaultReadAheadLimit() override { return 1; }
  std::int32_t UnitSize() const override { return blockSize_; }
  std::int32_t PayloadSize() const override { return blockSize_ - kBlockHeaderSize; }
  std::int64_t FirstUnitOffset() const override { return kBlobHeaderSize; }
  // A damaged header's lowest number counts as it is, not as the largest.
  std::int32_t UnitCount() const override { return CountBelow(header_.NextBlockNumber); }
  std::int32_t HeaderChangeCount() const override { return header_.ChangeCount; }
  std::int32_t ScanDepth() const override { return 4; }
  std::int32_t GrowthStep() const override { return 32; }
  // While a chain is read: the blocks the value still needs, or, while a
  // scan reads the values of records one after the other, at least the
  // blocks SetScanAhead gave.
  std::int32_t ReadAheadCount(TDataCursor* cursor, std::int32_t unit, int direction) override;
  // Blocks to read at least per read while a whole table is scanned (0:
  // only the value's own).
  void SetScanAhead(std::int32_t blocks) { scanAhead_ = blocks; }
  void ReadHeader() override;
  bool WriteHeader(bool force) override;
  void TouchHeader() override;
  // Truncates to the header and resets it.
  void EmptyFile() override;
  // STRATA_HEADERCORRUPT unless FirstFreeBlock is 0 or a block of the file and the blocks
  // the header counts lie within the file.
  void VerifyHeader();
  bool HeaderChanged();
  // The header check of verification, one line per finding; true when
  // nothing was found. A repair also cuts a partial block off the file,
  // fixes the block count and the free block pointer, stamps format 6 and
  // marks the header for writing.
  bool RepairHeader(const RepairLog& log, bool verifyOnly);
  // The whole blocks the file holds after its header.
  std::int32_t WholeBlockCount();

  // Pins a block for a chain: the head of the free chain, else a new block
  // at the end; its header zeroed.
  void AllocateBlock(BufferPin& pin);
  // Puts a block on the free chain.
  void FreeBlock(TBlock& block);
  // The head of the free chain; ClearFreeChain lets the whole chain go (a
  // repair then frees every block no value keeps).
  std::int32_t FirstFreeBlock() const { return header_.FirstFreeBlock; }
  void ClearFreeChain() {
    header_.FirstFreeBlock = 0;
    header_.HeaderModified = true;
  }
  static TBlock& BlockOf(const BufferPin& pin);

  // Reads the value the blob's reference names into blob.Value (decompressed
  // when the field has a level). True, with the value left incomplete, when a
  // block carries another revision: the value was changed by another user.
  bool ReadBlobChain(TBlobBuffer& blob, TDataCursor* cursor = nullptr);
  // Writes blob.Value (its stored form) under blob.Revision, reusing the old
  // chain's blocks and freeing those left over; an empty value frees the
  // chain and sets FirstBlock to 0. A value that could not be read back is
  // refused before any block changes, naming the table and the field: a
  // compressed value over the hooks' MaxValueBytes, or a stored form over
  // 2 GiB (STRATA_INVALIDBLOBLEN); a failed compression raises STRATA_COMPRESS.
  void WriteBlobChain(TBlobBuffer& blob);
  // Frees every block of the chain that starts at firstBlock (0: none).
  void FreeBlobChain(std::int32_t firstBlock);

  const BlobFileHeader& Header() const { return header_; }
  std::int32_t BlockPayload() const { return PayloadSize(); }
  const UnitCipher* Cipher() const { return owner_.Cipher(); }

 private:
  [[noreturn]] void Raise(ErrorCode code) const;
  [[noreturn]] void RaiseForField(ErrorCode code, const FieldDescriptor& field) const;
  std::vector<std::uint8_t> StoredFormOf(const TBlobBuffer& blob) const;
  // Pins a block of a chain after checking its number and that the chain
  // has not visited it yet.
  void FetchChainBlock(std::int32_t block, std::unordered_set<std::int32_t>& visited, BufferPin& pin);
  void FreeChain(std::int32_t firstBlock, std::unordered_set<std::int32_t>& visited);
  bool InFile(std::int32_t block) const { return block >= 1 && block <= UnitCount(); }

  TableFileOwner& owner_;
  std::int32_t blockSize_;
  BlobFileHeader header_;
  std::int64_t readAheadBytes_ = 0;
  std::int32_t scanAhead_ = 0;
};

}  // namespace strata
