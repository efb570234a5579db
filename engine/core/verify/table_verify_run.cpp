#include "engine/core/verify/table_verify_run.h"

#include "engine/core/indexing/sorted_index_build.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_set>

#include "engine/common/byte_order.h"
#include "engine/core/verify/blob_chain_check.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/stored_value_rules.h"
#include "engine/core/verify/index_consistency.h"
#include "engine/core/verify/record_rules.h"
#include "engine/core/indexing/table_index_writer.h"
#include "engine/formats/index_tree_check.h"
#include "engine/errors/engine_error.h"
#include "engine/formats/blob_buffer.h"
#include "engine/formats/counters.h"
#include "engine/formats/record_values.h"
#include "engine/locale/collation.h"
#include "engine/values/field_types.h"
#include "platform/process.h"

namespace strata {

namespace {

constexpr std::int32_t kMaxCounter = std::numeric_limits<std::int32_t>::max();

std::string NowText() {
  const platform::LocalDateTime now = platform::LocalNow();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return text;
}

std::string MessageOf(const std::exception& error) {
  if (const auto* database = dynamic_cast<const EDatabaseError*>(&error)) {
    return database->Message();
  }
  return error.what();
}

bool IsAutoInc(const FieldDescriptor& field) {
  return field.EngineType == kTypeInteger && field.SubType == kSubTypeAutoInc;
}

// The field's NullFlag and value lie inside the record image, and a BLOB
// field's value holds a reference (a damaged descriptor may say otherwise).
bool FieldInRecord(std::span<const std::uint8_t> record, const FieldDescriptor& field) {
  return field.FieldOffset + record_layout::kNullFlagSize + field.PhysicalSize <= record.size() &&
         (field.EngineType != kTypeBlob || field.PhysicalSize >= record_layout::kBlobReferenceSize);
}

std::int32_t RecordIdOf(std::span<const std::uint8_t> record) {
  return LoadI32(record.data() + record_layout::kId);
}

// Pins a record slot; a change by another user cannot happen while the
// table is held exclusively.
TRecord& FetchRecord(TDataFile& data, TDataCursor& cursor, std::int32_t number, BufferPin& pin) {
  if (!data.GetBuffer(&cursor, TBufferedFile::kForward, true, number, pin)) {
    data.RaiseCorruptError();
  }
  return TDataFile::RecordOf(pin);
}

}  // namespace

TableVerifyRun::TableVerifyRun(TDataCursor& cursor, bool repair, bool forceIndexRebuild)
    : cursor_(cursor), repair_(repair), force_(repair && forceIndexRebuild) {}

TableVerifyRun::~TableVerifyRun() = default;

void TableVerifyRun::Finding(const std::string& line) {
  result_ = false;
  cursor_.Log(line);
}

void TableVerifyRun::ReportLostIndexFile() {
  const LostIndexFile lost = table_->LostIndex();
  if (lost == LostIndexFile::None) return;
  const std::string path = table_->FilePath(TableFileKind::Index);
  const std::string keptAs = table_->LostIndexKeptAs();
  Finding("Index file " + path +
          (lost == LostIndexFile::Missing
               ? " missing,"
               : " unreadable, kept as " + keptAs.substr(keptAs.rfind('/') + 1) + ",") +
          " rebuilt with the default primary index; the table's index definitions are lost");
}

void TableVerifyRun::Report(std::uint16_t percent, std::string_view text) const {
  if (cursor_.OnProgress) cursor_.OnProgress(percent, text);
}

std::string TableVerifyRun::Mode(std::string_view verifying, std::string_view repairing) const {
  return std::string(repair_ ? repairing : verifying);
}

std::string TableVerifyRun::RecordEnding(std::int32_t record, std::int32_t recordId) const {
  return std::to_string(record) + " (logical record ID of " + std::to_string(recordId) +
         (repair_ ? "), error fixed" : ")");
}

void TableVerifyRun::UseOpenTable() {
  table_ = cursor_.Table();
  data_ = table_->DataFile();
  index_ = table_->IndexFile();
  blob_ = table_->BlobFile();
  tableName_ = table_->ErrorTableName();
}

bool TableVerifyRun::Run() {
  UseOpenTable();
  // Keys cannot be compared without the table's collation.
  if (data_->LocaleID() != kAnsiLocaleId && !LocaleAvailable(data_->LocaleID())) {
    RaiseTableError(STRATA_CANNOTLOADLDDRV, tableName_, table_->ErrorDatabaseName());
  }
  collation_ = Collation::For(data_->LocaleID());
  cursor_.Log(Mode("Verification of table ", "Repair of table ") + tableName_ + " " +
              "started at " + NowText());
  ReportLostIndexFile();
  const std::string headers = Mode("Verifying headers", "Repairing headers");
  Report(0, headers);
  CheckHeaders();
  CheckUnitSizes();
  CountUnits();
  CheckCompressionLevels();
  ReadTextParams();
  Report(100, headers);
  RecordPass();
  CheckFreeBlocks();
  if (indexesValid_ && !force_) TreePass();
  if (!indexesValid_ || force_) {
    if (!repair_) {
      Finding("Indexes do not match record data and are invalid");
    } else {
      if (!force_) {
        cursor_.Log("Indexes do not match record data and are invalid, starting to fix indexes");
      }
      RebuildIndexes();
      if (!force_) Finding("Invalid indexes fixed");
    }
    if (!force_) result_ = false;
  }
  CheckCounters();
  if (salvage_) salvage_->Close();
  cursor_.Log(Mode("Verification of table ", "Repair of table ") + tableName_ + " " +
              "completed at " + NowText());
  return result_;
}

// ---------------------------------------------------------------------------
// Headers

void TableVerifyRun::CheckHeaders() {
  const RepairLog log = [this](std::string_view line) { cursor_.Log(line); };
  bool clean = data_->RepairHeader(log, !repair_);
  if (repair_ && data_->BlobFieldCount() > 0 && blob_ == nullptr) {
    // The BLOB field count was wrong, so the BLOB file was never opened:
    // the repaired header is written and the table opened again with it.
    cursor_.Close();
    cursor_.Open(false);
    UseOpenTable();
  }
  const bool indexClean = index_->RepairHeader(log, !repair_, data_->Fields());
  clean = indexClean && clean;
  if (blob_ != nullptr) clean = blob_->RepairHeader(log, !repair_) && clean;
  if (!clean) result_ = false;
  indexesValid_ = indexClean;
}

void TableVerifyRun::CheckUnitSizes() {
  // The files were opened with usable sizes even when the header's were not
  // (a size the header cannot hold was replaced by one the file's length
  // bears out, or the default); the header must name them.
  const DataFileHeader& header = data_->Header();
  const std::int32_t pageSize = index_->PageSize();
  const std::int32_t blockSize = blob_ != nullptr ? blob_->UnitSize()
                                 : data_->UsableBlobBlockSize();
  const std::string suffix(FixedSuffix(repair_));
  if (header.IndexPageSize != pageSize) {
    Finding("Invalid index page size in table header" + suffix);
    // The trees cannot have been read with the size the header names.
    indexesValid_ = false;
  }
  if (header.BlobBlockSize != blockSize) {
    Finding("Invalid BLOB block size in table header" + suffix);
  }
  if (repair_) data_->SetUnitSizes(pageSize, blockSize);
}

void TableVerifyRun::ReadTextParams() {
  try {
    textParams_ = ReadFullTextParams(*index_, &cursor_);
  } catch (const EStrataEngineError&) {
    textParams_ = FullTextParams::Defaults();
    if (!repair_) {
      Finding("Invalid or corrupt text indexing parameters in index");
      return;
    }
    Finding("Invalid or corrupt text indexing parameters in index, error fixed");
    // The broken chain is let go; the index rebuild writes the defaults.
    index_->SetAuxPage(static_cast<int>(kFullTextSlot), 0);
    indexesValid_ = false;
  }
}

// ---------------------------------------------------------------------------
// Record pass

const std::vector<IndexKeyLayout>& TableVerifyRun::Layouts() {
  if (!layoutsBuilt_) {
    std::vector<IndexKeyLayout> layouts;
    for (int slot = 0; slot <= index_->SecondaryIndexCount(); ++slot) {
      layouts.push_back(IndexKeyLayout::Make(index_->Descriptor(slot), data_->Fields(), collation_,
                                             tableName_, table_->ErrorDatabaseName()));
    }
    textLayout_ = IndexKeyLayout::Make(index_->Descriptor(static_cast<int>(kFullTextSlot)),
                                       data_->Fields(), collation_, tableName_,
                                       table_->ErrorDatabaseName());
    layouts_ = std::move(layouts);
    layoutsBuilt_ = true;
  }
  return layouts_;
}

const IndexKeyLayout& TableVerifyRun::TextLayout() {
  Layouts();
  return textLayout_;
}

SalvageFile& TableVerifyRun::Salvage() {
  if (!salvage_) salvage_ = std::make_unique<SalvageFile>(*table_);
  return *salvage_;
}

TableIndexWriter& TableVerifyRun::Writer() {
  if (!writer_) {
    writer_ = std::make_unique<TableIndexWriter>(*index_, data_->Fields(), data_->LocaleID(),
                                                 tableName_, table_->ErrorDatabaseName(), &cursor_);
    writer_->Hooks = &table_->Engine().TextIndex;
  }
  return *writer_;
}

void TableVerifyRun::CountUnits() {
  // A verification reads no further than the file and its header agree.
  slotCount_ = repair_ ? data_->UnitCount() : std::min(data_->UnitCount(), data_->WholeSlotCount());
  if (blob_ != nullptr) {
    blockCount_ =
        repair_ ? blob_->UnitCount() : std::min(blob_->UnitCount(), blob_->WholeBlockCount());
  }
}

void TableVerifyRun::CheckCompressionLevels() {
  if (blob_ == nullptr) return;
  constexpr int kSample = 16;
  constexpr int kEnough = 3;
  const std::span<const FieldDescriptor> fields = data_->Fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldDescriptor& field = fields[i];
    if (field.EngineType != kTypeBlob || field.Compression == 0) continue;
    // The level says the values are stored compressed. When not one of the
    // first values of the field decompresses, it is the level that is
    // damaged, not every value: read as stored, they stay values.
    int sampled = 0;
    bool readable = false;
    for (std::int32_t record = 1; record <= slotCount_ && sampled < kSample && !readable;
         ++record) {
      BlobReference reference;
      {
        BufferPin pin;
        const TRecord& stored = FetchRecord(*data_, cursor_, record, pin);
        if (stored.Deleted() || !FieldInRecord(stored.Image(), field) ||
            stored.Image()[field.FieldOffset] != 1) {
          continue;
        }
        reference = ReadBlobReference(stored.Image(), field);
      }
      if (reference.FirstBlock < 1 || reference.FirstBlock > blockCount_) continue;
      const std::optional<std::vector<std::uint8_t>> value = StoredBlob(record, field, reference);
      if (!value) continue;
      ++sampled;
      try {
        table_->Compression().Decompress(*value);
        readable = true;
      } catch (const EStrataEngineError&) {
        // One value that does not decompress proves nothing yet.
      }
    }
    if (readable || sampled < kEnough) continue;
    Finding("Invalid compression level for field " + field.Name + " in table header" +
            std::string(FixedSuffix(repair_)));
    if (repair_) data_->SetFieldCompression(static_cast<std::uint16_t>(i + 1), 0);
  }
}

void TableVerifyRun::RecordPass() {
  privateCounter_ = data_->LastRecordID();
  for (const FieldDescriptor& field : data_->Fields()) {
    if (IsAutoInc(field)) autoIncFields_.push_back(&field);
    if (field.EngineType == kTypeBlob) blobFields_.push_back(&field);
  }
  const IndexDescriptor& primary = index_->Descriptor(0);
  for (std::size_t i = 0; i < std::min<std::size_t>(primary.FieldCount, kMaxKeyFields); ++i) {
    const FieldDescriptor* field = data_->FieldByNumber(primary.FieldNumbers[i]);
    if (field != nullptr && !IsSystemField(*field)) primaryKeyFields_.push_back(field);
  }
  cursor_.BeginProgress(
      Mode("Verifying record, index, and BLOB data", "Repairing record, index, and BLOB data"));
  for (std::int32_t record = 1; record <= slotCount_; ++record) {
    CheckRecord(record);
    cursor_.StepProgress(record, slotCount_);
  }
  cursor_.EndProgress();
}

void TableVerifyRun::CheckRecord(std::int32_t record) {
  std::vector<std::uint8_t> original;
  std::vector<std::uint8_t> work;
  std::int32_t recordId = 0;
  bool deleted = false;
  bool takenOut = false;
  try {
    {
      BufferPin pin;
      const auto image = FetchRecord(*data_, cursor_, record, pin).Image();
      original.assign(image.begin(), image.end());
    }
    work = original;
    deleted = work[record_layout::kStatus] == kRecordDeleted;
    recordId = RecordIdOf(work);
    if (recordId == 0 || recordIds_.contains(recordId)) {
      Finding("Record ID " + std::to_string(recordId) + " for physical record # " +
              std::to_string(record) + (repair_ ? " is invalid, error fixed" : " is invalid"));
      if (repair_) {
        recordId = data_->IncrementLastRecordID();
        StoreI32(work.data() + record_layout::kId, recordId);
      } else {
        privateCounter_ = NextCounterValue(privateCounter_);
        recordId = privateCounter_;
      }
    }
    recordIds_.insert(recordId);
    highestRecordId_ = std::max(highestRecordId_, recordId);

    if (deleted) {
      CheckDeletedBlobs(record, recordId, work);
    } else {
      // Counted while it stays in use: a failure below leaves it in use.
      ++recordsInUse_;
      const Md5Digest hash = ComputeRecordHash(work, data_->Fields());
      if (!std::equal(hash.begin(), hash.end(), work.begin() + record_layout::kHash)) {
        Finding("Checksum for physical record # " + std::to_string(record) +
                " (logical record ID of " + std::to_string(recordId) + ") is invalid and " +
                (repair_ ? "the data is most likely corrupted, error fixed"
                         : "the data is most likely corrupted"));
      }
      CheckStoredValues(record, recordId, work);
      std::vector<std::int32_t> blocks;
      CheckBlobs(record, recordId, work, blocks);
      if (const std::optional<std::string> broken =
              BrokenRecordRule(work, data_->Fields(), primaryKeyFields_, collation_)) {
        const std::string line = "Invalid record (" + *broken + ") for physical record # " +
                                 std::to_string(record) + " (logical record ID of " +
                                 std::to_string(recordId) + ")";
        if (!repair_) {
          Finding(line);
        } else {
          takenOut = TakeOut(record, recordId, *broken, line, original, work, blocks);
        }
      }
      if (takenOut) {
        --recordsInUse_;
        // Its keys are in the trees.
        indexesValid_ = false;
      } else {
        if (repair_) {
          // The digest of what the record holds once its values are fixed.
          const Md5Digest kept = ComputeRecordHash(work, data_->Fields());
          std::copy(kept.begin(), kept.end(), work.begin() + record_layout::kHash);
        }
        if (!force_ && indexesValid_) CheckRecordKeys(record, recordId, work);
        for (const FieldDescriptor* field : autoIncFields_) {
          if (FieldIsNull(work, *field)) continue;
          const auto value = static_cast<std::int32_t>(ReadInteger(work, *field));
          if (value != 0) highestAutoInc_ = std::max(highestAutoInc_, value);
        }
        if (!force_ && indexesValid_) CheckWords(record, recordId, work);
      }
    }
  } catch (const std::exception& error) {
    // The record may still name blocks its check did not reach.
    if (!blobFields_.empty()) blocksUnaccounted_ = true;
    Finding("Unexpected error '" + MessageOf(error) + "'" +
            Mode(" during verification for physical record # ",
                 " during repair for physical record # ") +
            std::to_string(record) + " (logical record ID of " + std::to_string(recordId) + "), " +
            Mode("continuing with verification", "continuing with repair"));
  }
  if (!repair_ || original.empty()) return;
  BufferPin pin;
  TRecord& stored = FetchRecord(*data_, cursor_, record, pin);
  if (work != original) {
    const auto image = stored.Image();
    std::copy(work.begin(), work.end(), image.begin());
    stored.Dirty = true;
  }
  // The header check emptied the free chain; pushing the deleted slots in
  // ascending order leaves the highest at its head.
  if (deleted || takenOut) data_->DeleteSlot(stored);
}

bool TableVerifyRun::TakeOut(std::int32_t record, std::int32_t recordId,
                             const std::string& reason, const std::string& line,
                             std::span<const std::uint8_t> original, std::span<std::uint8_t> work,
                             const std::vector<std::int32_t>& blocks) {
  std::vector<SalvageFile::Value> values;
  for (const FieldDescriptor* field : blobFields_) {
    if (!FieldInRecord(work, *field)) continue;
    const BlobReference reference = ReadBlobReference(work, *field);
    if (reference.FirstBlock == 0) continue;
    values.push_back({field->FieldNumber, StoredBlob(record, *field, reference)});
  }
  try {
    Salvage().AddRecord(record, recordId, reason, original, values);
  } catch (const EStrataEngineError& error) {
    Finding(line + ", error cannot be fixed: the record could not be kept in " +
            Salvage().FileName() + " (" + error.Message() + ")");
    return false;
  }
  Finding(line + ", error fixed but physical record deleted and kept in " + Salvage().FileName());
  for (const FieldDescriptor* field : blobFields_) {
    if (FieldInRecord(work, *field)) WriteBlobReference(work, *field, BlobReference{});
  }
  FreeBlocks(blocks);
  return true;
}

void TableVerifyRun::FreeBlocks(const std::vector<std::int32_t>& blocks) {
  if (blob_ == nullptr) return;
  for (const std::int32_t block : blocks) {
    reachedBlocks_.erase(block);
    BufferPin pin;
    if (!blob_->GetBuffer(nullptr, TBufferedFile::kNoDirection, false, block, pin)) {
      blob_->RaiseCorruptError();
    }
    blob_->FreeBlock(TBlobFile::BlockOf(pin));
  }
}

std::optional<std::vector<std::uint8_t>> TableVerifyRun::StoredBlob(
    std::int32_t record, const FieldDescriptor& field, const BlobReference& reference) {
  if (blob_ == nullptr) return std::nullopt;
  // Read as a field without compression: the bytes as stored.
  FieldDescriptor stored = field;
  stored.Compression = 0;
  TBlobBuffer value(stored, reference, record);
  try {
    if (blob_->ReadBlobChain(value, &cursor_)) return std::nullopt;
  } catch (const EStrataEngineError&) {
    // A chain that cannot be read has no bytes to keep.
    return std::nullopt;
  }
  return std::move(value.Value);
}

void TableVerifyRun::CheckStoredValues(std::int32_t record, std::int32_t recordId,
                                       std::span<std::uint8_t> work) {
  // BLOB buffers find their record through the link of a slot in use.
  if (LoadI32(work.data() + record_layout::kLink) != record) {
    Finding("Invalid record link for physical record # " + RecordEnding(record, recordId));
    if (repair_) StoreI32(work.data() + record_layout::kLink, record);
  }
  // 0 in use; 3 marks the engine's own temporary working tables.
  if (work[record_layout::kStatus] != 0 && work[record_layout::kStatus] != 3) {
    Finding("Invalid record status for physical record # " + RecordEnding(record, recordId));
    if (repair_) work[record_layout::kStatus] = 0;
  }
  for (const FieldDescriptor& field : data_->Fields()) {
    const std::size_t valueAt = field.FieldOffset + record_layout::kNullFlagSize;
    // A field the record cannot hold (a verification of a header whose
    // record size is wrong) is the value rules' to report.
    const bool inRecord = FieldInRecord(work, field);
    const std::uint8_t flag = inRecord ? work[field.FieldOffset] : 0;
    if (inRecord && field.EngineType == kTypeBlob && flag > 1 &&
        ReadBlobReference(work, field).FirstBlock != 0) {
      // A reference that names a chain holds a value, and its flag says so;
      // the chain check judges the rest.
      Finding("Invalid value (a NullFlag of " + std::to_string(flag) + ") of field " + field.Name +
              " for physical record # " + RecordEnding(record, recordId));
      if (repair_) work[field.FieldOffset] = 1;
      continue;
    }
    // A BLOB reference that names a first block is the chain check's to
    // judge.
    if (inRecord && field.EngineType == kTypeBlob && flag == 1 &&
        ReadBlobReference(work, field).FirstBlock != 0) {
      continue;
    }
    if (inRecord && flag == 1) {
      // What the write path would have stored for the value held: strings
      // ended, padded, trimmed and cased, booleans 0 or 1.
      std::optional<std::string> canonical;
      if (field.EngineType == kTypeString) {
        canonical = StringValueFault(work, field, collation_, repair_);
      } else if (field.EngineType == kTypeBoolean && LoadU16(work.data() + valueAt) > 1) {
        canonical = "a boolean of " + std::to_string(LoadU16(work.data() + valueAt));
        if (repair_) StoreU16(work.data() + valueAt, 1);
      }
      if (canonical) {
        Finding("Invalid value (" + *canonical + ") of field " + field.Name +
                " for physical record # " + RecordEnding(record, recordId));
        continue;
      }
    }
    const std::optional<std::string> fault = StoredValueFault(work, field);
    if (!fault) continue;
    Finding("Invalid value (" + *fault + ") of field " + field.Name + " for physical record # " +
            RecordEnding(record, recordId) + (repair_ ? ", field set to NULL" : ""));
    if (repair_) SetFieldNull(work, field);
  }
  if (!RecordPaddingIsZero(work, data_->Fields())) {
    Finding("Non-zero bytes after the last field for physical record # " +
            RecordEnding(record, recordId));
    if (repair_) ZeroRecordPadding(work, data_->Fields());
  }
}

void TableVerifyRun::CheckDeletedBlobs(std::int32_t record, std::int32_t recordId,
                                       std::span<std::uint8_t> work) {
  for (const FieldDescriptor* field : blobFields_) {
    if (ReadBlobReference(work, *field).FirstBlock == 0) continue;
    Finding("Invalid BLOB offset into BLOB file for physical record # " +
            RecordEnding(record, recordId));
    if (repair_) WriteBlobReference(work, *field, BlobReference{});
  }
}

void TableVerifyRun::CheckRecordKeys(std::int32_t record, std::int32_t recordId,
                                     std::span<const std::uint8_t> work) {
  try {
    const std::vector<IndexKeyLayout>& layouts = Layouts();
    std::vector<std::uint8_t> key;
    for (std::size_t slot = 0; slot < layouts.size(); ++slot) {
      key.assign(layouts[slot].KeyLength(), 0);
      layouts[slot].BuildKey(work, recordId, key);
      if (!KeyLeadsToRecord(*index_, static_cast<int>(slot), layouts[slot], key, record)) {
        indexesValid_ = false;
        return;
      }
      expectedEntries_[slot].Add(key, record);
    }
  } catch (const std::exception&) {
    indexesValid_ = false;
  }
}

void TableVerifyRun::CheckBlobs(std::int32_t record, std::int32_t recordId,
                                std::span<std::uint8_t> work, std::vector<std::int32_t>& blocks) {
  // Without a BLOB file (a verification of a header that miscounts the
  // BLOB fields) there are no chains to check.
  if (blob_ == nullptr) return;
  for (const FieldDescriptor* field : blobFields_) {
    if (!FieldInRecord(work, *field)) continue;
    const BlobReference stored = ReadBlobReference(work, *field);
    if (stored.FirstBlock == 0) continue;
    const auto finding = [&](std::string_view text) {
      Finding(std::string(text) + RecordEnding(record, recordId));
    };
    BlobReference reference = stored;
    std::vector<std::int32_t> kept;
    if (FieldIsNull(work, *field) || reference.FirstBlock < 0 ||
        reference.FirstBlock > blockCount_) {
      finding("Invalid BLOB offset into BLOB file for physical record # ");
      reference.FirstBlock = 0;
    } else {
      kept = CheckBlobChain(*blob_, blockCount_, reference, repair_, finding, reachedBlocks_);
    }
    if (reference.FirstBlock != 0 && field->Compression != 0 &&
        CheckCompressedValue(record, recordId, *field, reference)) {
      FreeBlocks(kept);
      kept.clear();
      reference.FirstBlock = 0;
    }
    blocks.insert(blocks.end(), kept.begin(), kept.end());
    // An emptied value is NULL, its reference all zero.
    if (reference.FirstBlock == 0) reference = BlobReference{};
    if (repair_ && reference != stored) WriteBlobReference(work, *field, reference);
  }
}

bool TableVerifyRun::CheckCompressedValue(std::int32_t record, std::int32_t recordId,
                                          const FieldDescriptor& field,
                                          const BlobReference& reference) {
  const std::optional<std::vector<std::uint8_t>> stored = StoredBlob(record, field, reference);
  // A chain that cannot be read was reported by its check.
  if (!stored) return false;
  try {
    table_->Compression().Decompress(*stored);
    return false;
  } catch (const EStrataEngineError&) {
    // The finding follows.
  }
  const std::string line = "BLOB value of field " + field.Name +
                           " that cannot be decompressed for physical record # " +
                           std::to_string(record) + " (logical record ID of " +
                           std::to_string(recordId) + ")";
  if (!repair_) {
    Finding(line);
    return false;
  }
  try {
    Salvage().AddValue(record, recordId, "a value that cannot be decompressed",
                       {field.FieldNumber, stored});
  } catch (const EStrataEngineError& error) {
    Finding(line + ", error cannot be fixed: the value could not be kept in " +
            Salvage().FileName() + " (" + error.Message() + ")");
    return false;
  }
  Finding(line + ", error fixed, field set to NULL and its value kept in " + Salvage().FileName());
  return true;
}

void TableVerifyRun::CheckFreeBlocks() {
  if (blob_ == nullptr || blocksUnaccounted_) return;
  // The free chain must run through blocks of the file that no value keeps,
  // each once.
  std::unordered_set<std::int32_t> free;
  bool broken = false;
  try {
    for (std::int32_t block = blob_->FirstFreeBlock(); block != 0;) {
      if (block < 1 || block > blockCount_ || reachedBlocks_.contains(block) ||
          !free.insert(block).second) {
        broken = true;
        break;
      }
      BufferPin pin;
      if (!blob_->GetBuffer(nullptr, TBufferedFile::kNoDirection, false, block, pin)) {
        broken = true;
        break;
      }
      block = TBlobFile::BlockOf(pin).Header().NextBlock;
    }
  } catch (const EStrataEngineError&) {
    broken = true;
  }
  const std::int64_t lost = static_cast<std::int64_t>(blockCount_) -
                            static_cast<std::int64_t>(reachedBlocks_.size()) -
                            static_cast<std::int64_t>(free.size());
  if (broken) Finding(Mode("Invalid free BLOB block chain", "Invalid free BLOB block chain, error fixed"));
  if (!broken && lost > 0) {
    // Space lost, nothing else: an interrupted change can leave such blocks
    // and the table reads the same. Said, freed by a repair, not a fault.
    cursor_.Log(std::to_string(lost) + " BLOB blocks in use by no record and not free" +
                (repair_ ? ", freed" : ""));
  }
  if (!repair_ || (!broken && lost <= 0)) return;
  // Freed in ascending order: the lowest block is handed out last.
  blob_->ClearFreeChain();
  for (std::int32_t block = blockCount_; block >= 1; --block) {
    if (reachedBlocks_.contains(block)) continue;
    BufferPin pin;
    if (!blob_->GetBuffer(nullptr, TBufferedFile::kNoDirection, false, block, pin)) {
      blob_->RaiseCorruptError();
    }
    blob_->FreeBlock(TBlobFile::BlockOf(pin));
  }
}

std::vector<FieldText> TableVerifyRun::TextsOf(std::int32_t record,
                                               std::span<const std::uint8_t> work,
                                               std::vector<std::string>& store) {
  const std::vector<const FieldDescriptor*>& fields = Writer().TextFields();
  std::vector<std::uint16_t> numbers;
  store.clear();
  store.reserve(fields.size());
  for (const FieldDescriptor* field : fields) {
    if (FieldIsNull(work, *field)) continue;
    if (field->EngineType == kTypeString) {
      store.push_back(ReadString(work, *field));
    } else {
      if (blob_ == nullptr) continue;
      TBlobBuffer value(*field, ReadBlobReference(work, *field), record);
      if (blob_->ReadBlobChain(value, &cursor_)) {
        RaiseTableError(STRATA_MEMOCORRUPT, tableName_, table_->ErrorDatabaseName());
      }
      store.emplace_back(value.Value.begin(), value.Value.end());
    }
    numbers.push_back(field->FieldNumber);
  }
  std::vector<FieldText> texts;
  for (std::size_t i = 0; i < numbers.size(); ++i) texts.push_back({numbers[i], store[i]});
  return texts;
}

void TableVerifyRun::CheckWords(std::int32_t record, std::int32_t recordId,
                                std::span<const std::uint8_t> work) {
  try {
    TableIndexWriter& writer = Writer();
    if (writer.TextFields().empty()) return;
    std::vector<std::string> store;
    for (const FieldText& text : TextsOf(record, work, store)) {
      const FieldDescriptor* field = data_->FieldByNumber(text.FieldNumber);
      if (field == nullptr) continue;
      const TLocaleStringList words = writer.WordsOf(*field, text.Text);
      std::array<std::uint8_t, kFullTextKeyLength> key{};
      for (const std::string& word : words.Strings()) {
        if (writer.FindWord(text.FieldNumber, word, recordId) != record) {
          indexesValid_ = false;
          return;
        }
        BuildTextKey(text.FieldNumber, word, recordId, collation_, key);
        expectedEntries_[kFullTextSlot].Add(key, record);
      }
    }
  } catch (const std::exception&) {
    indexesValid_ = false;
  }
}

// ---------------------------------------------------------------------------
// Index trees and rebuild

void TableVerifyRun::TreePass() {
  const int count = index_->SecondaryIndexCount();
  // Every tree, the full-text one last, then the parameter and free page
  // chains: no page may serve two of them.
  std::vector<int> slots;
  for (int slot = 0; slot <= count; ++slot) slots.push_back(slot);
  slots.push_back(static_cast<int>(kFullTextSlot));
  std::vector<bool> inUse;
  cursor_.BeginProgress(Mode("Verifying index data", "Repairing index data"));
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const int slot = slots[i];
    if (indexesValid_) {
      try {
        const IndexKeyLayout& layout =
            slot == static_cast<int>(kFullTextSlot) ? TextLayout() : Layouts()[slot];
        if (!TreeHoldsRecords(*index_, slot, layout, expectedEntries_[slot], slotCount_, inUse)) {
          indexesValid_ = false;
        }
      } catch (const std::exception&) {
        indexesValid_ = false;
      }
    }
    if (slot <= count) cursor_.StepProgress(slot, count);
  }
  if (indexesValid_) {
    try {
      if (!MarkParameterChain(*index_, inUse).empty() || !FreePagesApart(*index_, inUse)) {
        indexesValid_ = false;
      }
    } catch (const std::exception&) {
      indexesValid_ = false;
    }
  }
  cursor_.EndProgress();
}

void TableVerifyRun::RebuildIndexes() {
  // All trees and the free chain go; the definitions stay.
  writer_.reset();
  layouts_.clear();
  layoutsBuilt_ = false;
  index_->EmptyFile();
  WriteFullTextParams(*index_, textParams_, &cursor_);
  TableIndexWriter& writer = Writer();
  std::vector<int> slots;
  for (int slot = 0; slot <= writer.SecondaryIndexCount(); ++slot) slots.push_back(slot);
  if (!writer.TextFields().empty()) slots.push_back(static_cast<int>(kFullTextSlot));
  SortedIndexBuild build(*index_, writer, slots, table_->Engine().Registry(),
                         cursor_.SortSettingsHere());
  cursor_.BeginProgress(force_ ? "Rebuilding indexes" : "Repairing indexes");
  for (std::int32_t record = 1; record <= slotCount_; ++record) {
    AddRecordKeys(build, record);
    cursor_.StepProgress(record, slotCount_);
  }
  const SortedIndexBuild::Outcome outcome = build.Finish();
  // A record whose key a unique index holds already is deleted; its keys
  // go from the trees that took them, and its group's key goes to the
  // record it keeps instead.
  for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
    TakeOutUnindexed(refused.RecordNumber,
                     "a key the index " + index_->IndexName(refused.Slot) +
                         " holds for another record",
                     true);
  }
  for (const auto& [record, reason] : unindexable_) TakeOutUnindexed(record, reason, false);
  for (const SortedIndexBuild::KeptKey& kept : outcome.Kept) {
    writer.InsertKey(kept.Slot, kept.Key, kept.RecordNumber);
  }
  cursor_.EndProgress();
}

void TableVerifyRun::AddRecordKeys(SortedIndexBuild& build, std::int32_t record) {
  std::int32_t recordId = 0;
  try {
    std::vector<std::uint8_t> work;
    {
      BufferPin pin;
      const TRecord& stored = FetchRecord(*data_, cursor_, record, pin);
      if (stored.Deleted()) return;
      const auto image = stored.Image();
      work.assign(image.begin(), image.end());
    }
    recordId = RecordIdOf(work);
    std::vector<std::string> store;
    const std::vector<FieldText> texts =
        Writer().TextFields().empty() ? std::vector<FieldText>{} : TextsOf(record, work, store);
    build.AddRecord(work, recordId, record, texts);
  } catch (const std::exception& error) {
    Finding("Unexpected error '" + MessageOf(error) + "'" +
            " during rebuild of index keys for physical record # " + std::to_string(record) +
            " (logical record ID of " + std::to_string(recordId) + "), " +
            "continuing with repair");
    // A record the indexes cannot hold would be found through none of them:
    // it goes once the trees are built (any keys it gave go with it).
    unindexable_.push_back({record, "its keys could not be built: " + MessageOf(error)});
  }
}

void TableVerifyRun::TakeOutUnindexed(std::int32_t record, const std::string& reason,
                                      bool keyViolation) {
  try {
    DeleteRefusedRecord(record, reason, keyViolation);
  } catch (const std::exception& error) {
    if (!blobFields_.empty()) blocksUnaccounted_ = true;
    Finding("Unexpected error '" + MessageOf(error) + "'" +
            " during repair for physical record # " + std::to_string(record) + ", " +
            "continuing with repair");
  }
}

void TableVerifyRun::DeleteRefusedRecord(std::int32_t record, const std::string& reason,
                                         bool keyViolation) {
  BufferPin pin;
  TRecord& stored = FetchRecord(*data_, cursor_, record, pin);
  const std::span<std::uint8_t> image = stored.Image();
  const std::int32_t recordId = RecordIdOf(image);
  const std::string ending = std::to_string(record) + " (logical record ID of " +
                             std::to_string(recordId) + ")";
  // Nothing of the record goes before its bytes are safe.
  std::vector<SalvageFile::Value> values;
  for (const FieldDescriptor* field : blobFields_) {
    const BlobReference reference = ReadBlobReference(image, *field);
    if (reference.FirstBlock > 0) {
      values.push_back({field->FieldNumber, StoredBlob(record, *field, reference)});
    }
  }
  try {
    Salvage().AddRecord(record, recordId, reason, image, values);
  } catch (const EStrataEngineError& error) {
    Finding("Physical record # " + ending + " could not be kept in " + Salvage().FileName() +
            " (" + error.Message() + "), error cannot be fixed");
    return;
  }
  if (keyViolation) {
    Finding("Error rebuilding index keys for physical record # " + std::to_string(record) +
            " (logical record ID of " + std::to_string(recordId) + "), " +
            "error fixed but physical record deleted");
  }
  Finding("Physical record # " + ending + " kept in " + Salvage().FileName());
  try {
    std::vector<std::string> store;
    const std::vector<std::uint8_t> work(image.begin(), image.end());
    const std::vector<FieldText> texts =
        Writer().TextFields().empty() ? std::vector<FieldText>{} : TextsOf(record, work, store);
    Writer().DeleteRecordKeys(work, recordId, record, texts);
  } catch (const std::exception&) {
    // Its keys could not be read again: the trees are checked by the next
    // verification, and a key left behind names a deleted slot.
  }
  for (const FieldDescriptor* field : blobFields_) {
    const BlobReference reference = ReadBlobReference(stored.Image(), *field);
    if (reference.FirstBlock > 0 && blob_ != nullptr) {
      try {
        blob_->FreeBlobChain(reference.FirstBlock);
      } catch (const EStrataEngineError&) {
        // A chain that cannot be followed stays where it is.
      }
    }
    WriteBlobReference(stored.Image(), *field, BlobReference{});
    stored.Dirty = true;
  }
  data_->DeleteSlot(stored);
  --recordsInUse_;
}

// ---------------------------------------------------------------------------
// Counters

void TableVerifyRun::CheckCounters() {
  const std::string suffix(FixedSuffix(repair_));
  const std::int32_t idCounter = repair_ ? data_->LastRecordID() : privateCounter_;
  if (idCounter < highestRecordId_ || privateCounter_ == kMaxCounter) {
    Finding("Invalid next available record ID of " + std::to_string(idCounter) + suffix);
    if (repair_) data_->SetLastRecordID(highestRecordId_);
  }
  const std::int32_t lastAutoInc = data_->LastAutoIncValue();
  if (lastAutoInc < highestAutoInc_ || lastAutoInc == kMaxCounter) {
    Finding("Invalid next available auto-increment value of " + std::to_string(lastAutoInc) +
            suffix);
    if (repair_) data_->SetLastAutoIncValue(highestAutoInc_);
  }
  if (data_->RecordCount() != recordsInUse_) {
    Finding("Invalid total record count of " + std::to_string(data_->RecordCount()) + suffix);
    if (repair_) data_->SetRecordCount(static_cast<std::int32_t>(recordsInUse_));
  }
}

}  // namespace strata
