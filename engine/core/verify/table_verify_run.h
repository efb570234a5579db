// TableVerifyRun: one verification or repair of a table that a cursor holds
// open exclusively (TDataCursor::VerifyOrRepairTable opens and closes it).
//
// Run makes, in order: the start line; the header checks of the data, index
// and BLOB files; the reading of the full-text parameters; a pass over every
// record slot (RecordIDs, the free chain, RecordHash, each record's keys,
// AutoInc values, BLOB chains and full-text words); a pass over every index
// tree; an index rebuild when the indexes cannot be trusted (or, in a
// repair, when asked); the header counters; the completion line. Findings
// are log lines through the cursor; progress goes through its progress
// hook. A failure inside one record's step is logged and the pass goes on;
// any other failure passes on. Returns true when nothing was found (in a
// repair: nothing had to be fixed).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/formats/full_text_params.h"
#include "engine/formats/index_key.h"

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
  void ReadTextParams();
  void UseOpenTable();
  void RecordPass();
  void CheckRecord(std::int32_t record);
  // A record in use: its link, its status byte, every field's stored
  // bytes and the padding (see stored_value_rules.h).
  void CheckStoredValues(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work);
  void CheckDeletedBlobs(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work);
  void CheckRecordKeys(std::int32_t record, std::int32_t recordId,
                       std::span<const std::uint8_t> work);
  void CheckBlobs(std::int32_t record, std::int32_t recordId, std::span<std::uint8_t> work);
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
  void DeleteRefusedRecord(std::int32_t record);
  void CheckCounters();
  const std::vector<IndexKeyLayout>& Layouts();
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
  bool layoutsBuilt_ = false;
  std::unique_ptr<TableIndexWriter> writer_;
};

}  // namespace strata
