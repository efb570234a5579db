// TableVerifyRun: one verification or repair of a table that a cursor holds
// open exclusively (TDataCursor::VerifyOrRepairTable opens and closes it).
//
// Run makes, in order: the start line; the header checks of the data, index
// and BLOB files (and of the index page and BLOB block sizes the files are
// read with); the reading of the full-text parameters; a pass over every
// record slot (RecordIDs, the free chain, RecordHash, stored values, BLOB
// chains, the table's rules, each record's keys, AutoInc values and
// full-text words); a pass over every index tree, the full-text one
// included, that compares the entries the leaves hold with the keys the
// records give and checks the index free chain; an index rebuild when the
// indexes cannot be trusted (or, in a repair, when asked); the header
// counters; the completion line. Findings are log lines through the cursor;
// progress goes through its progress hook. A failure inside one record's
// step is logged and the pass goes on; any other failure passes on. Returns
// true when nothing was found (in a repair: nothing had to be fixed).
//
// A repair never leaves a record the table's rules refuse (record_rules.h),
// nor one whose keys cannot be built: such a record is taken out of the
// table (its slot deleted, its BLOB blocks freed) after its bytes and BLOB
// values were kept in the salvage file (salvage_file.h), and named in the
// log. A compressed BLOB value that no longer decompresses is kept there
// too and the field made NULL.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/core/verify/index_consistency.h"
#include "engine/core/verify/salvage_file.h"
#include "engine/formats/full_text_params.h"
#include "engine/formats/index_key.h"
#include "engine/formats/record_values.h"
#include "engine/locale/collation.h"

namespace strata {

class SortedIndexBuild;

class TBlobFile;
class TDataCursor;
class TDataFile;
class TDataTable;
class TIndexFile;
class TableIndexWriter;
struct FieldDescriptor;
struct FieldText;

class TableVerifyRun {
 public:
  TableVerifyRun(TDataCursor& cursor, bool repair, bool forceIndexRebuild);
  ~TableVerifyRun();
  TableVerifyRun(const TableVerifyRun&) = delete;
  TableVerifyRun& operator=(const TableVerifyRun&) = delete;

  bool Run();

 private:
  void Finding(const std::string& line);
  void Report(std::uint16_t percent, std::string_view text) const;
  std::string Mode(std::string_view verifying, std::string_view repairing) const;
  // "<n> (logical record ID of <id>)", in a repair "<n> (logical record ID
  // of <id>), error fixed".
  std::string RecordEnding(std::int32_t record, std::int32_t recordId) const;
  // A repair that had to replace a missing or unreadable index file says so.
  void ReportLostIndexFile();
  void CheckHeaders();
  // The index page and BLOB block sizes of the data header against the
  // sizes the files were opened with.
  void CheckUnitSizes();
  // The record slots and BLOB blocks the passes read.
  void CountUnits();
  // A BLOB field with a compression level none of whose values
  // decompress: the level is reported (a repair stores 0).
  void CheckCompressionLevels();
  void ReadTextParams();
  void UseOpenTable();
  void RecordPass();
  void CheckRecord(std::int32_t record);
  // A record in use: its link, its status byte, every field's stored
  // bytes (see stored_value_rules.h; strings as record_rules.h says) and
  // the padding.
  void CheckStoredValues(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work);
  void CheckDeletedBlobs(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work);
  void CheckRecordKeys(std::int32_t record, std::int32_t recordId,
                       std::span<const std::uint8_t> work);
  // The chains of the record's BLOB values; the blocks each value keeps
  // are added to blocks.
  void CheckBlobs(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work,
                  std::vector<std::int32_t>& blocks);
  // A compressed value that does not decompress: kept in the salvage file
  // and made NULL by a repair. True when it was taken out.
  bool CheckCompressedValue(std::int32_t record, std::int32_t recordId,
                            const FieldDescriptor& field, const BlobReference& reference);
  // The stored bytes of a value (compressed when its field compresses);
  // nullopt when its chain cannot be read.
  std::optional<std::vector<std::uint8_t>> StoredBlob(std::int32_t record,
                                                      const FieldDescriptor& field,
                                                      const BlobReference& reference);
  // Keeps a record in the salvage file and deletes its slot (the caller
  // writes the slot back and counts it out); its BLOB blocks are freed and
  // its references emptied in work. False, with a finding, when the
  // salvage file could not take it: the record then stays.
  bool TakeOut(std::int32_t record, std::int32_t recordId, const std::string& reason,
               const std::string& line, std::span<const std::uint8_t> original,
               std::span<std::uint8_t> work, const std::vector<std::int32_t>& blocks);
  // Frees BLOB blocks a value no longer keeps.
  void FreeBlocks(const std::vector<std::int32_t>& blocks);
  SalvageFile& Salvage();
  // After the record pass: the free chain, and the blocks no value keeps
  // that are not on it (a repair frees every such block).
  void CheckFreeBlocks();
  void CheckWords(std::int32_t record, std::int32_t recordId, std::span<const std::uint8_t> work);
  // The texts of the record's full-text fields (memo contents read from
  // the BLOB file) in store, with views into it.
  std::vector<FieldText> TextsOf(std::int32_t record, std::span<const std::uint8_t> work,
                                 std::vector<std::string>& store);
  void TreePass();
  void RebuildIndexes();
  // The keys of one record into the build; a record whose keys cannot be
  // made is a finding.
  void AddRecordKeys(SortedIndexBuild& build, std::int32_t record);
  // A record the rebuild cannot index: kept in the salvage file, its keys
  // taken out of the trees that hold them, its BLOBs freed, its slot
  // deleted.
  // keyViolation: a unique index refused it (the line says so).
  void DeleteRefusedRecord(std::int32_t record, const std::string& reason, bool keyViolation);
  // The same, a failure logged as unexpected.
  void TakeOutUnindexed(std::int32_t record, const std::string& reason, bool keyViolation);
  void CheckCounters();
  const std::vector<IndexKeyLayout>& Layouts();
  const IndexKeyLayout& TextLayout();
  TableIndexWriter& Writer();

  TDataCursor& cursor_;
  bool repair_;
  bool force_;
  TDataTable* table_ = nullptr;
  TDataFile* data_ = nullptr;
  TIndexFile* index_ = nullptr;
  TBlobFile* blob_ = nullptr;
  std::string tableName_;

  bool result_ = true;
  bool indexesValid_ = true;
  std::set<std::int32_t> recordIds_;
  std::int32_t highestRecordId_ = 0;
  std::int32_t highestAutoInc_ = 0;
  std::int64_t recordsInUse_ = 0;
  // Stands in for LastRecordID while verifying: counts the temporary
  // RecordIDs given to invalid ones.
  std::int32_t privateCounter_ = 0;
  std::int32_t slotCount_ = 0;
  std::int32_t blockCount_ = 0;
  // The blocks of the BLOB values the record pass kept.
  std::unordered_set<std::int32_t> reachedBlocks_;
  bool blocksUnaccounted_ = false;
  FullTextParams textParams_;
  std::vector<const FieldDescriptor*> autoIncFields_;
  std::vector<const FieldDescriptor*> blobFields_;
  std::vector<IndexKeyLayout> layouts_;
  IndexKeyLayout textLayout_;
  bool layoutsBuilt_ = false;
  Collation collation_;
  std::vector<const FieldDescriptor*> primaryKeyFields_;
  // The entries the records give, slot by slot (slot 31 the full-text
  // one), added up while the indexes are still trusted.
  std::array<IndexEntrySum, kIndexSlotCount> expectedEntries_{};
  std::unique_ptr<SalvageFile> salvage_;
  // Records the rebuild could not index, with the reason.
  std::vector<std::pair<std::int32_t, std::string>> unindexable_;
  std::unique_ptr<TableIndexWriter> writer_;
};

}  // namespace strata
