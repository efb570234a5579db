#include "tools/import_columns.h"

#include <stdexcept>

#include "engine/formats/field_rules.h"
#include "engine/locale/windows1252.h"
#include "tools/reject_writer.h"

namespace strata::tools {

ColumnMatcher::ColumnMatcher(std::span<const FieldDescriptor> fields, std::string_view table,
                             const std::vector<std::string>& given)
    : fields_(fields.begin(), fields.end()), table_(table) {
  for (const std::string& name : given) {
    const std::uint16_t position = PositionOf(name);
    if (position == 0) {
      throw std::invalid_argument("table '" + table_ + "' has no field '" + name + "'");
    }
    given_.push_back(position);
  }
}

std::uint16_t ColumnMatcher::PositionOf(std::string_view utf8) const {
  const std::string name = Utf8ToWindows1252(utf8);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (SameFieldName(fields_[i].Name, name)) return static_cast<std::uint16_t>(i + 1);
  }
  return 0;
}

bool ColumnMatcher::Match(std::span<const std::string_view> names,
                          std::vector<std::uint16_t>& positions, std::string& reason) const {
  positions.assign(names.size(), 0);
  if (!given_.empty()) {
    if (names.size() != given_.size()) {
      reason = std::to_string(names.size()) + " columns, but --fields names " +
               std::to_string(given_.size()) + " fields";
      return false;
    }
    positions = given_;
    return true;
  }
  std::vector<std::string> unknown;
  for (std::size_t i = 0; i < names.size(); ++i) {
    positions[i] = PositionOf(names[i]);
    if (positions[i] != 0) {
      for (std::size_t k = 0; k < i; ++k) {
        if (positions[k] == positions[i]) {
          reason = "the columns '" + std::string(names[k]) + "' and '" + std::string(names[i]) +
                   "' both name the field '" + Windows1252ToUtf8(fields_[positions[i] - 1u].Name) +
                   "'";
          return false;
        }
      }
    } else if (!SameFieldName(names[i], kRejectReasonColumn)) {
      unknown.push_back("'" + std::string(names[i]) + "'");
    }
  }
  if (unknown.empty()) return true;
  reason = "table '" + table_ + "' has no field " + unknown.front();
  for (std::size_t i = 1; i < unknown.size(); ++i) {
    reason += (i + 1 == unknown.size() ? " or " : ", ") + unknown[i];
  }
  reason += unknown.size() == 1 ? " (an unknown column)" : " (unknown columns)";
  return false;
}

}  // namespace strata::tools
