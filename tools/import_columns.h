// ColumnMatcher: which field of a table each column of an import's input
// fills. Columns are matched to fields by name, letter case ignored as the
// engine compares field names (the column names, UTF-8, in the table's code
// page), or, when the fields are given (--fields), by position: column i
// fills the i-th field given, whatever the column is called. A column named
// "reject_reason" (the reason column of a rejects file) is skipped when the
// table has no field of that name. The system fields RecordID and
// RecordHash are the engine's and match no column.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/field_descriptor.h"

namespace strata::tools {

class ColumnMatcher {
 public:
  // given: the fields named by --fields (UTF-8), in column order, or none.
  // A given name that is no field of the table raises std::invalid_argument
  // naming it.
  ColumnMatcher(std::span<const FieldDescriptor> fields, std::string_view table,
                const std::vector<std::string>& given);

  // The field position (from 1; 0: skipped) of each column named; false
  // with the reason (UTF-8) when a name matches no field, two columns name
  // one field, or the given fields are not as many as the columns.
  bool Match(std::span<const std::string_view> names, std::vector<std::uint16_t>& positions,
             std::string& reason) const;

 private:
  // 0 when no field has the name.
  std::uint16_t PositionOf(std::string_view utf8) const;

  std::vector<FieldDescriptor> fields_;
  std::string table_;
  std::vector<std::uint16_t> given_;
};

}  // namespace strata::tools
