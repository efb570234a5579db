#include "engine/core/verify/record_rules.h"

#include <algorithm>
#include <vector>

#include "engine/core/schema/field_value_rules.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"

namespace strata {

namespace {

bool SameIgnoringCase(std::string_view text, std::string_view keyword) {
  return text.size() == keyword.size() &&
         std::equal(text.begin(), text.end(), keyword.begin(), [](char a, char b) {
           return (a >= 'a' && a <= 'z' ? a - 'a' + 'A' : a) == b;
         });
}

bool NamesTheMoment(std::string_view text) {
  return SameIgnoringCase(text, "CURRENT_DATE") || SameIgnoringCase(text, "CURRENT_TIME") ||
         SameIgnoringCase(text, "CURRENT_TIMESTAMP");
}

}  // namespace

std::optional<std::string> StringValueFault(std::span<std::uint8_t> record,
                                            const FieldDescriptor& field,
                                            const Collation& collation, bool fix) {
  if (field.EngineType != kTypeString ||
      field.FieldOffset + record_layout::kNullFlagSize + field.PhysicalSize > record.size() ||
      FieldIsNull(record, field)) {
    return std::nullopt;
  }
  const std::span<std::uint8_t> slot =
      record.subspan(field.FieldOffset + record_layout::kNullFlagSize, field.PhysicalSize);
  // The value as the write path stores the text the slot holds.
  std::vector<std::uint8_t> canonical(record.begin(), record.end());
  const bool wide = IsWideString(field.EngineType, field.SubType);
  std::size_t characters = 0;
  bool trailingBlank = false;
  if (wide) {
    const std::u16string units = WideUnitsOf(slot);
    characters = units.size();
    trailingBlank = !units.empty() && units.back() == u' ';
    WriteWideString(canonical, field, units, collation);
  } else {
    const auto end = std::find(slot.begin(), slot.end(), std::uint8_t{0});
    const std::string text(slot.begin(), end);
    characters = text.size();
    trailingBlank =
        field.SubType != kSubTypeFixedChar && !text.empty() && text.back() == ' ';
    WriteString(canonical, field, text, collation);
  }
  if (std::equal(canonical.begin(), canonical.end(), record.begin())) return std::nullopt;
  const std::size_t unit = wide ? 2 : 1;
  std::string fault;
  if (characters == 0) {
    fault = "an empty text";
  } else if (!wide && characters >= slot.size()) {
    fault = "a text without its terminating zero";
  } else if (trailingBlank) {
    fault = "trailing blanks";
  } else if (!std::all_of(slot.begin() + static_cast<std::ptrdiff_t>(characters * unit),
                          slot.end(), [](std::uint8_t b) { return b == 0; })) {
    fault = "bytes after the text's terminating zero";
  } else {
    fault = "letter case";
  }
  if (fix) std::copy(canonical.begin(), canonical.end(), record.begin());
  return fault;
}

std::optional<std::string> BrokenRecordRule(
    std::span<const std::uint8_t> record, std::span<const FieldDescriptor> fields,
    const std::vector<const FieldDescriptor*>& primaryKeyFields, const Collation& collation) {
  for (const FieldDescriptor& stored : fields) {
    // A field the record cannot hold has no value to judge.
    if (stored.FieldOffset + record_layout::kNullFlagSize + stored.PhysicalSize > record.size()) {
      continue;
    }
    const bool null = FieldIsNull(record, stored);
    if (null && std::find(primaryKeyFields.begin(), primaryKeyFields.end(), &stored) !=
                    primaryKeyFields.end()) {
      if (stored.Required != 0) return "required field " + stored.Name + " is NULL";
      return "primary key field " + stored.Name + " is NULL";
    }
    if (!HasValueRules(stored)) continue;
    FieldDescriptor field = stored;
    if (NamesTheMoment(field.MinValue)) field.MinValue.clear();
    if (NamesTheMoment(field.MaxValue)) field.MaxValue.clear();
    switch (CheckFieldValue(record, field, collation)) {
      case STRATA_REQDERR: return "required field " + field.Name + " is NULL";
      case STRATA_MINVALERR: return "value of field " + field.Name + " below its minimum";
      case STRATA_MAXVALERR: return "value of field " + field.Name + " above its maximum";
      default: break;
    }
  }
  return std::nullopt;
}

}  // namespace strata
