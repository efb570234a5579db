// ReadTableRows: every record of a table in physical order, as export
// values, for the exports. The table is opened shared and read-only in a
// directory opened for reading (its index file checked first, as
// ReadTableReport does), so nothing in the directory changes and a program
// that holds the table exclusively gives the engine's sharing error.
//
// fields selects the exported fields by name (letter case ignored, in the
// order given; empty: all in table order); an unknown name raises
// std::invalid_argument. The report passed to begin holds the selected
// fields only and the indexes whose key fields are all selected.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "tools/export_value.h"
#include "tools/table_report.h"

namespace strata {
class TDataDirectory;
}

namespace strata::tools {

struct RowCallbacks {
  std::function<void(const TableReport& selected, std::span<const std::string> names)> Begin;
  // record: the record's physical number, for messages about it.
  std::function<void(std::int32_t record, std::span<const ExportValue* const> values)> Row;
  // Whole percent of the physical records read.
  std::function<void(std::uint16_t percent)> Progress;
};

void ReadTableRows(TDataDirectory& directory, std::string_view table,
                   std::span<const std::string> fields, const RowCallbacks& callbacks);

}  // namespace strata::tools
