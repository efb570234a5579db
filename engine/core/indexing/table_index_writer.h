// TableIndexWriter: the key maintenance of one open table's index file:
// building a record's key for an index slot, the unique check, inserting and
// deleting a record's keys in every index, the words of the full-text index,
// and the structural check of every tree.
//
// The key layouts, the collation and the full-text word splitter (with the
// table's stored parameters) are resolved once, when the writer is built;
// keys are built into one fixed buffer. Build a new writer when the table's
// index descriptors or full-text parameters change.
//
// InsertRecordKeys is all or nothing: when a key cannot be inserted, the
// keys and words it inserted before are deleted again and the failure is
// passed on.
//
// Held keys. A writer of an exclusive table may hold the keys of its
// non-unique indexes and full-text words in memory instead of inserting
// each at once (HoldKeys): such a key never refuses a record. The held keys
// of a slot go into its tree, in key order, so that neighbouring keys meet
// their pages in the cache, before anything else of the writer reads or
// changes that tree, when the held keys pass their budget, and at
// ApplyHeldKeys, which the writer's user calls before the table's files are
// written or the writer is dropped. Nobody else reads the trees meanwhile:
// the table is exclusive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/schema/full_text_words.h"
#include "engine/formats/field_descriptor.h"

namespace strata {

class IndexKeyLayout;
class TDataCursor;
class TIndexFile;

// The text of one field of the full-text index for one record: a string
// field's value or a memo's content.
struct FieldText {
  std::uint16_t FieldNumber = 0;
  std::string_view Text;
};

class TableIndexWriter {
 public:
  static constexpr int kNoIndex = 255;

  TableIndexWriter(TIndexFile& file, std::span<const FieldDescriptor> fields,
                   std::uint32_t localeId, std::string tableName, std::string databaseName,
                   TDataCursor* cursor = nullptr);
  ~TableIndexWriter();
  TableIndexWriter(const TableIndexWriter&) = delete;
  TableIndexWriter& operator=(const TableIndexWriter&) = delete;

  // Slots 0 to SecondaryIndexCount() hold the ordinary indexes.
  int SecondaryIndexCount() const;
  bool SlotUnique(int slot) const;
  // The fields of the full-text index, in key order (none: empty).
  const std::vector<const FieldDescriptor*>& TextFields() const;

  // The key of a record for an ordinary slot, in the writer's key buffer
  // (valid until the next key is built).
  std::span<const std::uint8_t> BuildKey(int slot, std::span<const std::uint8_t> record,
                                         std::int32_t recordId);
  std::optional<std::int32_t> FindKey(int slot, std::span<const std::uint8_t> key);
  void InsertKey(int slot, std::span<const std::uint8_t> key, std::int32_t recordNumber);
  void DeleteKey(int slot, std::span<const std::uint8_t> key);

  // STRATA_KEYVIOL naming the first unique index that already holds the record's key
  // ("Primary" for slot 0).
  void CheckUnique(std::span<const std::uint8_t> record, std::int32_t recordId);
  // The record's key in every ordinary index (slots in order), then one
  // full-text key per distinct word of each text. All or nothing.
  void InsertRecordKeys(std::span<const std::uint8_t> record, std::int32_t recordId,
                        std::int32_t recordNumber, std::span<const FieldText> texts);
  // Deletes what InsertRecordKeys inserted for the record. A key that is
  // missing, or that belongs to another record, is left alone.
  void DeleteRecordKeys(std::span<const std::uint8_t> record, std::int32_t recordId,
                        std::int32_t recordNumber, std::span<const FieldText> texts);
  // Hands every key InsertRecordKeys would insert to visit instead: the
  // record's key in each ordinary slot that build marks (in slot order), then,
  // when build marks the full-text slot, one key per distinct word of each
  // text. build has kIndexSlotCount entries.
  void VisitRecordKeys(std::span<const std::uint8_t> record, std::int32_t recordId,
                       std::span<const FieldText> texts, std::span<const bool> build,
                       const std::function<void(int slot, std::span<const std::uint8_t> key)>& visit);
  // The key layout of a slot (31: the full-text index).
  const IndexKeyLayout& Layout(int slot) const;

  // The full-text keys of the texts alone.
  void InsertWords(std::int32_t recordId, std::int32_t recordNumber,
                   std::span<const FieldText> texts);

  // The distinct words of a field's text, stop words left out, after the
  // engine's filters.
  TLocaleStringList WordsOf(const FieldDescriptor& field, std::string_view text) const;

  // Holds keys within budgetBytes from now on (0: inserts them at once
  // again, after applying what is held).
  void HoldKeys(std::size_t budgetBytes);
  void ApplyHeldKeys();
  bool HoldsKeys() const;

  // Leaf entries in a slot's tree (31: the full-text index).
  std::int64_t KeyCount(int slot);
  // The record number the full-text key of a word leads to.
  std::optional<std::int32_t> FindWord(std::uint16_t fieldNumber, std::string_view word,
                                       std::int32_t recordId);

  // Every tree's structure and the free page chain; one line per fault.
  std::vector<std::string> CheckTrees();

  // The filters the words go through (the engine's; none when null). They
  // must outlive the writer.
  const TextIndexHooks* Hooks = nullptr;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace strata
