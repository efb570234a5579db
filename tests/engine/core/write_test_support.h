// Helpers for the tests of table creation and the record write path: a
// directory in a temporary folder, tables created through a cursor, typed
// field values for record buffers, and the engine error a call raises.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/indexing/table_index_writer.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/support/definitions.h"

namespace strata::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes TextBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline Bytes Int32Bytes(std::int32_t value) {
  Bytes bytes(4);
  StoreI32(bytes.data(), value);
  return bytes;
}

// The engine error a call raises (nullopt when it raises none).
inline std::optional<EStrataEngineError> ErrorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const EStrataEngineError& error) {
    return error;
  }
  return std::nullopt;
}

class WriteTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    session_ = &QuickSession(engine_);
    directory_ = &session_->OpenDirectory("books", dir_);
  }

  // Creates a table: primary (none: RecordID), secondary indexes, full-text
  // fields.
  void Create(const std::string& name, std::vector<FieldDescriptor> fields,
              std::vector<std::uint16_t> primary = {}, std::vector<IndexDescriptor> secondary = {},
              std::vector<std::uint16_t> textFields = {}, TableCreateOptions options = {}) {
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
    indexes[0] = IndexDef("", primary).Unique();
    for (std::size_t i = 0; i < secondary.size(); ++i) indexes[i + 1] = secondary[i];
    for (std::size_t i = 0; i < textFields.size(); ++i) {
      indexes[kFullTextSlot].FieldNumbers[i] = textFields[i];
    }
    TDataCursor cursor(*directory_, name, CursorModes{.Exclusive = true});
    cursor.CreateTableFiles(options, {fields, indexes, static_cast<int>(secondary.size())});
  }

  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
};

// Every stored record of a table as one text: its field values joined by
// "|" ("-" for NULL, integers in decimal, strings and BLOBs as their bytes).
inline std::vector<std::string> RowTexts(TDataDirectory& directory, const std::string& table) {
  TDataCursor cursor(directory, table);
  cursor.Open(true);
  std::vector<std::string> rows;
  Bytes record = cursor.NewRecordBuffer();
  for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
    if (!cursor.ReadRecord(n, record)) continue;
    std::string row;
    for (std::uint16_t f = 1; f <= cursor.Fields().size(); ++f) {
      const FieldDescriptor& field = cursor.Fields()[f - 1];
      const auto value = cursor.GetField(record, f);
      if (!row.empty()) row += "|";
      if (!value) {
        row += "-";
      } else if (field.EngineType == kTypeInteger) {
        row += std::to_string(LoadI32(value->data()));
      } else if (field.EngineType == kTypeBlob) {
        cursor.OpenBlob(record, f);
        const auto content = cursor.BlobValue(record, f);
        row += std::string(content.begin(), content.end());
        cursor.CloseBlob(record, f);
      } else {
        row += std::string(reinterpret_cast<const char*>(value->data()));
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// Every leaf entry of an index slot, left to right: key and record number.
using LeafEntryList = std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>>;
inline LeafEntryList LeafEntries(TIndexFile& file, int slot) {
  LeafEntryList entries;
  const PageFormat format = PageFormat::Of(file.Descriptor(slot));
  std::int32_t page = file.RootPage(slot);
  for (int depth = 0; page != 0 && depth < 64; ++depth) {
    BufferPin pin;
    const TPage& node = file.FetchPage(nullptr, page, format, pin);
    if (node.IsLeaf()) break;
    page = node.Pointer(0);
  }
  while (page != 0) {
    BufferPin pin;
    const TPage& leaf = file.FetchPage(nullptr, page, format, pin);
    for (int i = 0; i < leaf.EntryCount(); ++i) {
      const auto key = leaf.Key(i);
      entries.emplace_back(std::vector<std::uint8_t>(key.begin(), key.end()), leaf.Pointer(i));
    }
    page = leaf.NextPage();
  }
  return entries;
}

// The engine's own verification of a table finds nothing; else its lines.
inline ::testing::AssertionResult VerifiedTable(TDataDirectory& directory,
                                                const std::string& table) {
  TDataCursor cursor(directory, table, CursorModes{.Exclusive = true});
  std::string findings;
  cursor.OnLog = [&](std::string_view line) { findings += std::string(line) + "\n"; };
  if (cursor.VerifyOrRepairTable(false)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << findings;
}

}  // namespace strata::testing
