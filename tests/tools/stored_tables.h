// The rows of a table as the engine reads them, for comparing a table
// before and after an update: its fields and, by RecordID, every field's
// value (BLOB fields with their contents, NULL as no value).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "components/default_components.h"
#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"

namespace strata::testing {

using Value = std::optional<std::vector<std::uint8_t>>;  // BLOBs hold their contents

struct StoredTable {
  std::vector<FieldDescriptor> Fields;
  std::map<std::int32_t, std::vector<Value>> Rows;  // by RecordID
  bool operator==(const StoredTable&) const = default;
};

// Reads through the default session, which must be active.
inline StoredTable ReadStored(const std::string& path, const std::string& name) {
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& directory = session.OpenDirectory("", path);
  StoredTable stored;
  {
    TDataCursor cursor(directory, name);
    cursor.Open(true);
    stored.Fields.assign(cursor.Fields().begin(), cursor.Fields().end());
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      std::vector<Value> values;
      for (std::uint16_t f = 1; f <= stored.Fields.size(); ++f) {
        Value value = cursor.GetField(record, f);
        if (value && stored.Fields[f - 1].EngineType == kTypeBlob) {
          cursor.OpenBlob(record, f);
          const auto content = cursor.BlobValue(record, f);
          value.emplace(content.begin(), content.end());
          cursor.CloseBlob(record, f);
        }
        values.push_back(std::move(value));
      }
      stored.Rows[LoadI32(record.data() + record_layout::kId)] = std::move(values);
    }
  }
  session.CloseDirectory(directory);
  return stored;
}

}  // namespace strata::testing
