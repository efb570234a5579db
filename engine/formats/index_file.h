// TIndexFile: a table's index file. A 512-byte header (free page chain,
// page count, one root page and one auxiliary page per slot), 32 index
// descriptors of 768 bytes (slot 0 the primary index, 1 to 30 the secondary
// indexes, 31 the full-text index "Sys Text") and then pages of the table's
// IndexPageSize, cached as TPage buffers. When the table is enciphered the
// header, the descriptor area (as one unit) and every page go through the
// table's cipher.
//
// The header and descriptors are held in memory; setters mark them and
// WriteHeader writes what changed (descriptors first). Page numbers read
// from the file are checked against the page count before use: a bad page
// number raises STRATA_INDEXCORRUPT, a header that does not hold together STRATA_HEADERCORRUPT.
//
// Pages are fetched for one index at a time: the file expands a page with
// the format of the index it is fetched for (FetchPage). A cache miss that
// finds the table changed by another user throws ERestartRequired after the
// caches were dropped; the caller restarts its operation.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "engine/files/buffered_file.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/header_repair_log.h"
#include "engine/formats/index_file_header.h"
#include "engine/formats/index_page.h"
#include "engine/formats/table_file_owner.h"

namespace strata {

inline constexpr std::size_t kMaxSecondaryIndexes = 30;
inline constexpr char kFullTextIndexName[] = "Sys Text";
inline constexpr char kPrimaryIndexErrorName[] = "Primary";

// A cache miss found the table changed by another user; start again.
class ERestartRequired : public std::exception {
 public:
  const char* what() const noexcept override { return "table changed by another user"; }
};

class TIndexFile : public TBufferedFile {
 public:
  TIndexFile(FileRegistry& registry, std::string path, bool inMemory, TableFileOwner& owner,
             std::int32_t indexPageSize);

  // Opens the file, reads and checks the header (STRATA_OLDVERSION and STRATA_BADSIGNATURE for old
  // or foreign files, STRATA_HEADERCORRUPT for more than 30 secondary slots or a page size
  // outside 1024 to 16384), reads the descriptors.
  void Open() override;
  // Clears the descriptors and closes.
  void Close() override;
  // A new file: fresh header stamped with the engine's signature, all
  // descriptor slots zero; both marked for writing.
  void CreateNew() override;

  std::unique_ptr<TBuffer> NewBuffer() override;
  void RaiseCorruptError() override;  // STRATA_INDEXCORRUPT
  [[noreturn]] void RaiseHeaderCorrupt() const;  // STRATA_HEADERCORRUPT
  void CheckAppend() override { CheckAppendLimits(false); }
  void UnitAppended() override;
  std::int32_t CacheLimit() override;
  std::int32_t DefaultReadAheadLimit() override { return 1; }
  std::int32_t UnitSize() const override { return pageSize_; }
  std::int32_t PayloadSize() const override { return pageSize_ - kPageHeaderSize; }
  std::int64_t FirstUnitOffset() const override { return kFirstIndexPageOffset; }
  // A damaged header's lowest number counts as it is, not as the largest.
  std::int32_t UnitCount() const override { return CountBelow(header_.NextPageNumber); }
  std::int32_t HeaderChangeCount() const override { return header_.ChangeCount; }
  std::int32_t ScanDepth() const override { return 2; }
  std::int32_t GrowthStep() const override { return 4; }
  void ReadHeader() override;
  // Writes the descriptors when they changed, then the header when forced
  // or changed (ChangeCount + 1). True when the header was written.
  bool WriteHeader(bool force) override;
  void TouchHeader() override;
  // Truncates to the first page and resets the page count, the free chain
  // and every root and auxiliary page; the descriptors stay.
  void EmptyFile() override;
  // Re-reads the header; true when another user changed it.
  bool HeaderChanged();
  // The consistency checks run on an ordinary open; STRATA_HEADERCORRUPT on any failure.
  void VerifyHeader(std::span<const FieldDescriptor> fields) const;
  // The header and descriptor check of verification against the table's
  // fields, one line per finding; true when nothing was found. A repair
  // also fixes the descriptors (dropping unusable key fields and entries
  // past the end of a key field list, making flags 0 or 1, removing slots
  // whose keys cannot be built), stamps format 6 and marks header and
  // descriptors for writing; page pointers and a page count that disagrees
  // with the file's length are left for an index rebuild.
  bool RepairHeader(const RepairLog& log, bool verifyOnly, std::span<const FieldDescriptor> fields);
  // A page number of the file: 1 to the page count (and inside the file).
  bool PageInFile(std::int32_t page);

  void ReadDescriptors();
  // Writes the descriptor area when forced or changed; true when written.
  bool WriteDescriptors(bool force);

  // Index definitions.
  void DefinePrimaryIndex(const IndexDescriptor& descriptor,
                          std::span<const FieldDescriptor> fields);
  // Returns the slot taken.
  int AddSecondaryIndex(const IndexDescriptor& descriptor,
                        std::span<const FieldDescriptor> fields);
  // Stores a new definition in a secondary slot in use, with an empty tree
  // (the old tree's pages must have been freed). The name is checked as
  // AddSecondaryIndex checks it except against the other slots: slots that
  // are redefined one after the other may exchange their names.
  void ReplaceSecondaryIndex(int slot, const IndexDescriptor& descriptor,
                             std::span<const FieldDescriptor> fields);
  void SetTextIndex(const IndexDescriptor& descriptor, std::span<const FieldDescriptor> fields);
  // Replaces the name, the key fields and the descending flags.
  void UpdateIndexInfo(int slot, const IndexDescriptor& descriptor);
  // remove on a secondary slot moves the later slots down; otherwise the
  // slot's tree is emptied, and slot 0 returns to the default index.
  void RemoveIndex(int slot, bool remove);
  bool IndexExists(std::string_view name) const;
  bool IsDefaultPrimary() const;
  static IndexDescriptor DefaultPrimaryDescriptor();
  static IndexDescriptor EmptyTextDescriptor();

  const IndexDescriptor& Descriptor(int slot) const;
  // The name errors carry: "Primary" for slot 0.
  std::string IndexName(int slot) const;
  std::int32_t RootPage(int slot) const;
  void SetRootPage(int slot, std::int32_t page);
  std::int32_t AuxPage(int slot) const;
  void SetAuxPage(int slot, std::int32_t page);
  std::int32_t FirstFreePage() const { return header_.FirstFreePage; }
  void SetFirstFreePage(std::int32_t page);
  int SecondaryIndexCount() const { return header_.SecondaryIndexCount; }
  void SetSecondaryIndexCount(int count);
  const IndexFileHeader& Header() const { return header_; }
  std::int32_t PageSize() const { return pageSize_; }
  TableFileOwner& Owner() const { return owner_; }
  const UnitCipher* Cipher() const { return owner_.Cipher(); }

  // Pages. FetchPage raises STRATA_INDEXCORRUPT for a number outside the file or a page
  // that holds entries of another format.
  TPage& FetchPage(TDataCursor* cursor, std::int32_t page, const PageFormat& format,
                   BufferPin& pin);
  // A page from the free chain, else a new one, made an empty page of the
  // format and type.
  TPage& AllocatePage(TDataCursor* cursor, const PageFormat& format, std::uint8_t type,
                      BufferPin& pin);
  // Puts the page at the head of the free chain; it keeps its PageType.
  void FreePage(TPage& page);
  // The format pages are expanded with while being loaded.
  const PageFormat& LoadFormat() const { return loadFormat_; }

 private:
  void MarkHeader();
  void MarkDescriptors() { descriptorsModified_ = true; }
  void CheckSlot(int slot) const;
  // A secondary index definition as stored: the name trimmed and checked
  // (STRATA_INDEXLIMIT, STRATA_INDEXNAMEREQUIRED, STRATA_INVALIDINDEXNAME), the key length computed
  // and checked (STRATA_INVALIDKEY).
  IndexDescriptor SecondaryDescriptor(const IndexDescriptor& descriptor,
                                      std::span<const FieldDescriptor> fields) const;
  // STRATA_INVALIDKEY unless the key's field bytes lie between 1 and 4106 and within
  // a third of the payload.
  void CheckKeyLength(std::uint32_t fieldBytes, const std::string& indexName) const;
  [[noreturn]] void RaiseIndexError(ErrorCode code, std::string_view indexName,
                                    std::string_view fieldName = {}) const;

  TableFileOwner& owner_;
  std::int32_t pageSize_;
  IndexFileHeader header_;
  std::array<IndexDescriptor, kIndexSlotCount> descriptors_{};
  bool descriptorsModified_ = false;
  PageFormat loadFormat_;
};

// The pinned page of a pin.
inline TPage& PageOf(const BufferPin& pin) { return static_cast<TPage&>(*pin.get()); }

}  // namespace strata
