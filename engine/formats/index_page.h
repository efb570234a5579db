// TPage: one page of an index file in the cache.
//
// On disk a page is a 13-byte header (PageType, EntryCount, PrevPage,
// NextPage, UsedBytes) and a packed payload: node entries (key, child page,
// KeyCount; the full-text index has no KeyCount), leaf entries (key, record
// number) packed by the index's compression (1 leading bytes shared with the
// previous key, 2 trailing zero bytes, 3 both), or for a full-text parameter
// page (type 4) raw bytes. In memory every entry is held expanded: key,
// pointer, KeyCount, DupCount and TrailCount, so the tree works on whole
// keys; UsedBytes (the packed size of a compressed leaf's entries) and each
// entry's counts are kept up to date as entries change.
//
// A page is expanded with the format (key length, uniqueness, full text,
// compression) of the index it belongs to, which the file supplies while it
// loads the page (TIndexFile::LoadFormat). Every size read from the file is
// checked against the payload before it is used; a page that does not parse
// raises STRATA_INDEXCORRUPT. Entry positions are 0-based.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/files/buffer.h"
#include "engine/formats/index_file_header.h"
#include "engine/formats/index_page_layout.h"

namespace strata {

class TIndexFile;

enum : std::uint8_t {
  kPageRootNode = 0,
  kPageNode = 1,
  kPageLeaf = 2,
  kPageRootLeaf = 3,
  kPageFullTextParams = 4,
};

// How the entries of an index's pages are laid out.
struct PageFormat {
  std::uint16_t KeyLength = 0;  // 0: no index (free or parameter pages)
  bool Unique = true;
  bool FullText = false;
  std::uint8_t Compression = 0;

  static PageFormat Of(const IndexDescriptor& descriptor);
  bool operator==(const PageFormat&) const = default;
};

class TPage : public TBuffer {
 public:
  explicit TPage(TIndexFile& owner);

  // Header zeroed, no entries, the file's current load format.
  void Clear() override;
  // Deciphers (when the table is enciphered) and expands a page image.
  void LoadUnit(std::span<const std::byte> unit) override;
  // Packs the entries (or the raw payload of a parameter page), enciphers.
  void SaveUnit(std::span<std::byte> unit) override;

  // Makes the page an empty page of a format and type; marks it dirty.
  void Reset(const PageFormat& format, std::uint8_t type);
  // Takes a format for a page without entries (a free page being reused).
  void Adopt(const PageFormat& format);

  const PageFormat& Format() const { return format_; }
  std::uint8_t PageType() const { return type_; }
  void SetPageType(std::uint8_t type);
  bool IsLeaf() const { return type_ == kPageLeaf || type_ == kPageRootLeaf; }
  bool IsRoot() const { return type_ == kPageRootNode || type_ == kPageRootLeaf; }
  bool IsCompressedLeaf() const { return IsLeaf() && format_.Compression != 0; }

  int EntryCount() const { return count_; }
  // Resizes the entry area; new entries are zero.
  void SetEntryCount(int count);
  std::int32_t PrevPage() const { return prev_; }
  std::int32_t NextPage() const { return next_; }
  void SetPrevPage(std::int32_t page);
  void SetNextPage(std::int32_t page);
  // Packed bytes of a compressed leaf's entries, else 0.
  std::uint16_t UsedBytes() const { return static_cast<std::uint16_t>(used_); }
  std::int32_t UsedBytesWide() const { return used_; }
  // UsedBytes as the page image held it when the page was read (0 for a
  // page made in memory); verification compares it with the rule above.
  std::uint16_t StoredUsedBytes() const { return usedOnDisk_; }

  std::span<const std::uint8_t> Key(int i) const;
  void SetKey(int i, std::span<const std::uint8_t> key);
  std::int32_t Pointer(int i) const;
  void SetPointer(int i, std::int32_t pointer);
  // KeyCount operations do nothing for leaves and the full-text index.
  std::int32_t KeyCount(int i) const;
  void SetKeyCount(int i, std::int64_t count);
  void AddKeyCount(int i, std::int32_t delta);
  std::uint8_t DupCount(int i) const;
  std::uint8_t TrailCount(int i) const;

  // Inserts an entry before position i (0 to EntryCount()).
  void InsertEntry(int i, std::span<const std::uint8_t> key, std::int32_t pointer,
                   std::int32_t keyCount);
  void DeleteEntry(int i);
  // Moves count entries starting at first to the page `to`, before its
  // position at.
  void MoveEntries(int first, int count, TPage& to, int at);

  // Leaf: EntryCount; node: the sum of its entries' KeyCount.
  std::int64_t PageKeyCount() const;
  // Leaf entries under the entries before position i.
  std::int64_t KeysBefore(int i) const;
  // Entries a node or an uncompressed leaf holds.
  int Capacity() const;
  bool Overflow() const;
  // The packed size of entry i and UsedBytes recomputed from the keys alone.
  int EntrySize(int i) const;
  std::int32_t ComputeUsedBytes() const;

  // The raw payload of a parameter page.
  std::span<std::uint8_t> Payload();

 private:
  TIndexFile& File() const;
  int Stride() const { return format_.KeyLength + 10; }
  std::uint8_t* Entry(int i) { return entries_.data() + static_cast<std::size_t>(i) * Stride(); }
  const std::uint8_t* Entry(int i) const {
    return entries_.data() + static_cast<std::size_t>(i) * Stride();
  }
  int SizeFor(int dup, int trail) const;
  // The counts entry i takes after the entry before it.
  void CountsFor(int i, int& dup, int& trail) const;
  // Recomputes the counts of entry i (when present) and UsedBytes.
  void Recount(int i);
  void RecountAll();
  void MarkDirty() { Dirty = true; }
  [[noreturn]] void Corrupt() const;
  void Expand(const std::uint8_t* payload, std::int32_t payloadSize);
  void Pack(std::uint8_t* payload, std::int32_t payloadSize) const;

  PageFormat format_;
  std::uint8_t type_ = 0;
  int count_ = 0;
  std::int32_t prev_ = 0;
  std::int32_t next_ = 0;
  std::int32_t used_ = 0;
  std::uint16_t usedOnDisk_ = 0;
  std::vector<std::uint8_t> entries_;
};

}  // namespace strata
