// TDataFile: a table's data file. It holds the 512-byte header, the field
// descriptors (768 bytes each, from offset 512) and the record slots that
// follow them; slot n (from 1) is the buffered file's unit n, cached in a
// TRecord.
//
// The header and the descriptors live in memory while the file is open and
// are written only when marked changed (WriteHeader, WriteDescriptors); each
// header write increments ChangeCount and stamps LastUpdated. The header is
// never enciphered; the descriptor block and every slot are, when the table
// is. Open checks what it must before using a value read from the file (the
// format version, the signature, the field count against the file length,
// the descriptors against the record size); VerifyHeader checks the rest of
// the structure against itself and the file.
//
// Deleted slots form a free chain through their RecordLink, the head in
// FirstFreeRecord; new records reuse the last deleted slot first.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/data_file_header.h"
#include "engine/formats/field_descriptor.h"
#include "engine/formats/header_repair_log.h"
#include "engine/formats/record.h"
#include "engine/formats/table_file_owner.h"
#include "engine/files/buffered_file.h"
#include "engine/formats/counters.h"

namespace strata {

// The header values a table is created or restructured with.
struct TableInfo {
  std::uint32_t LocaleID = 0;
  std::uint16_t UserMajorVersion = 1;
  std::uint16_t UserMinorVersion = 0;
  std::int32_t LastAutoIncValue = -1;  // -1: the default, stored as 0
  std::int32_t BlobBlockSize = 512;
  std::int32_t IndexPageSize = 4096;
  std::string Description;
  Digest PasswordCheck{};
  bool Encrypted = false;
};


class TDataFile : public TBufferedFile {
 public:
  TDataFile(FileRegistry& registry, std::string path, bool inMemory, TableFileOwner& owner);

  // Opens the file and reads the header and the descriptors. Fails (closed)
  // with STRATA_OLDVERSION for an earlier format, STRATA_BADSIGNATURE for another format or
  // signature, STRATA_HEADERCORRUPT for a damaged header or descriptor block,
  // STRATA_NOTSUFFTABLERIGHTS when the table is enciphered and no cipher is available after
  // OnPasswordCheck.
  void Open() override;
  void Close() override;
  // An empty file: header zeroed, format 6, the engine's signature, no
  // fields, NextRecordNumber 1, header marked for writing.
  void CreateNew() override;

  std::unique_ptr<TBuffer> NewBuffer() override;
  void RaiseCorruptError() override;  // STRATA_FILECORRUPT
  void CheckAppend() override;
  void UnitAppended() override;
  std::int32_t CacheLimit() override;
  std::int32_t DefaultReadAheadLimit() override;
  // The records a forward read with read-ahead brings in: as many as the
  // reader asked for with SetRecordsAhead (1 unless asked), at most the
  // read-ahead limit.
  std::int32_t ReadAheadCount(TDataCursor* cursor, std::int32_t unit, int direction) override;
  void SetRecordsAhead(std::int32_t records) { recordsAhead_ = records; }
  std::int32_t UnitSize() const override { return header_.RecordSize; }
  std::int32_t PayloadSize() const override { return header_.RecordSize; }
  std::int64_t FirstUnitOffset() const override;
  // A damaged header's lowest number counts as it is, not as the largest.
  std::int32_t UnitCount() const override { return CountBelow(header_.NextRecordNumber); }
  std::int32_t HeaderChangeCount() const override { return header_.ChangeCount; }
  std::int32_t ScanDepth() const override { return 4; }
  std::int32_t GrowthStep() const override { return 64; }
  // Reads the 512 header bytes; HeaderModified is cleared. A file shorter
  // than a header, or a damaged description, raises STRATA_HEADERCORRUPT.
  void ReadHeader() override;
  // When forced or marked: ChangeCount + 1, LastUpdated := now, write, mark
  // the table modified, clear the mark. Returns whether it wrote.
  bool WriteHeader(bool force) override;
  // ChangeCount + 1, header marked, table marked modified.
  void TouchHeader() override;
  // Truncates to the descriptors and resets the counters.
  void EmptyFile() override;
  // The structure checks run after the table's files are open: STRATA_CANNOTLOADLDDRV for a
  // locale that is not installed, STRATA_HEADERCORRUPT for anything else.
  void VerifyHeader();
  // Re-reads the header; true when ChangeCount differs from the one held.
  bool HeaderChanged();
  // The header and descriptor check of verification, one line per finding;
  // true when nothing was found. A repair also fixes what it can (a record
  // size it cannot hold raises STRATA_HEADERCORRUPT before anything changes), cuts a
  // partial slot off the file, stamps format 6, empties the free chain for
  // the caller to rebuild and marks the header and descriptors for writing.
  bool RepairHeader(const RepairLog& log, bool verifyOnly);
  // The whole record slots the file holds after the descriptors.
  std::int32_t WholeSlotCount();

  // Replaces the structure: completes PhysicalSize and FieldOffset, counts
  // the BLOB fields (over 128: STRATA_BLOBLIMIT), computes RecordSize (over 65534:
  // STRATA_RECTOOBIG); more than 1024 fields: STRATA_FLDLIMIT. Header and descriptors marked for
  // writing.
  void SetStructure(std::span<const FieldDescriptor> fields);
  void SetTableInfo(const TableInfo& info);
  // The descriptor block as one unit (deciphered or enciphered as a whole).
  // Reading recomputes each field's PhysicalSize and physical decimals from
  // its type, sub-type and declared values (the stored ones are not used)
  // and raises STRATA_HEADERCORRUPT when a field's NullFlag and value do not lie
  // inside the record size: a value read by its descriptor never reaches
  // past its record.
  void ReadDescriptors();
  bool WriteDescriptors();
  // Replaces number, name, sub-type, description, required flag and value
  // texts of the descriptor at position `position` (from 1), leaving the
  // record layout alone.
  void UpdateFieldInfo(std::uint16_t position, const FieldDescriptor& field);
  // Replaces the compression level of the descriptor at `position` (a
  // repair naming how the field's values are stored).
  void SetFieldCompression(std::uint16_t position, std::uint8_t level);
  // Writes dirty slots, then the descriptors and the header when changed.
  bool WriteChanges(bool forceHeader = false);

  // 65535 and 65534 (or "RecordID" and "RecordHash") give the system
  // descriptors; nullptr when there is no such field.
  const FieldDescriptor* FieldByNumber(std::uint16_t number) const;
  const FieldDescriptor* FieldByName(std::string_view name) const;
  std::span<const FieldDescriptor> Fields() const { return fields_; }

  // The record in a pin that GetBuffer filled.
  static TRecord& RecordOf(const BufferPin& pin);
  // Pins the slot for a new record: the head of the free chain when there is
  // one (taken off the chain, RecordStatus 0, RecordLink its own number),
  // else a new slot at the end. False when the table was changed by another
  // user and the caller must restart.
  bool AllocateSlot(TDataCursor* cursor, BufferPin& pin);
  // Puts a slot on the free chain. RecordCount is the caller's.
  void DeleteSlot(TRecord& record);
  // The slot the next new record goes to.
  std::int32_t NextSlotNumber() const;

  // Counters.
  std::int32_t RecordCount() const { return header_.RecordCount; }
  void SetRecordCount(std::int32_t count);
  void IncrementRecordCount() { SetRecordCount(header_.RecordCount + 1); }
  void DecrementRecordCount() { SetRecordCount(header_.RecordCount - 1); }
  std::int32_t LastRecordID() const { return header_.LastRecordID; }
  void SetLastRecordID(std::int32_t id);
  std::int32_t IncrementLastRecordID();
  std::int32_t LastAutoIncValue() const { return header_.LastAutoIncValue; }
  void SetLastAutoIncValue(std::int32_t value);
  std::int32_t NextAutoIncValue() const { return NextCounterValue(header_.LastAutoIncValue); }
  std::int32_t LastBlobRevision() const { return header_.LastBlobRevision; }
  std::int32_t IncrementLastBlobRevision();

  // Header values.
  const DataFileHeader& Header() const { return header_; }
  std::array<std::uint8_t, kDataHeaderSize> HeaderImage() const;
  std::int32_t FirstFreeRecord() const { return header_.FirstFreeRecord; }
  bool Encrypted() const { return header_.Encrypted == 1; }
  std::uint32_t LocaleID() const { return header_.LocaleID; }
  std::uint16_t FieldCount() const { return header_.FieldCount; }
  std::uint16_t BlobFieldCount() const { return header_.BlobFieldCount; }
  bool HeaderModified() const { return header_.HeaderModified; }
  // The sizes the index and BLOB files are opened with; STRATA_HEADERCORRUPT when outside
  // their ranges (1024..16384 and 64..65536) or not multiples of 8.
  std::int32_t CheckedIndexPageSize() const;
  std::int32_t CheckedBlobBlockSize() const;
  // The sizes verification and repair read the files with: the header's
  // when within range, else the defaults a new table gets (4096 and 512).
  std::int32_t UsableIndexPageSize() const;
  std::int32_t UsableBlobBlockSize() const;
  // Stores both sizes in the header (a repair naming the sizes in use).
  void SetUnitSizes(std::int32_t indexPageSize, std::int32_t blobBlockSize);

  // The cipher of the slots and the descriptor block; nullptr for a plain
  // table.
  const UnitCipher* Cipher() const;
  TableFileOwner& Owner() const { return owner_; }

  // Called while opening an enciphered table, after the header is read: the
  // table checks its password against PasswordCheck and makes the owner's
  // Cipher() available.
  std::function<void(const DataFileHeader&)> OnPasswordCheck;

 private:
  [[noreturn]] void Raise(ErrorCode code) const;
  void CheckSignature() const;
  void MarkHeader() { header_.HeaderModified = true; }

  TableFileOwner& owner_;
  DataFileHeader header_;
  std::vector<FieldDescriptor> fields_;
  bool descriptorsChanged_ = false;
  std::int32_t recordsAhead_ = 1;
};

}  // namespace strata
