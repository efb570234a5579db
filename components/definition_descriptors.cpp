#include "components/definition_descriptors.h"

#include <cstdint>
#include <string>
#include <vector>

#include "components/definition_error.h"

namespace strata {

namespace {

constexpr std::size_t kNameLength = 60;
constexpr std::size_t kTextLength = 100;
constexpr std::uint16_t kGuidLength = 38;

std::string Cut(std::string_view text, std::size_t length) {
  return std::string(text.substr(0, length));
}

constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The names of a ";"-separated list, at most kMaxKeyFields of them. An
// empty list, or an empty place in it, names no field.
std::vector<std::string_view> SplitFieldNames(std::string_view list) {
  std::vector<std::string_view> names;
  while (names.size() < kMaxKeyFields) {
    const std::size_t end = list.find(';');
    const std::string_view name = Trim(list.substr(0, end));
    if (!name.empty()) names.push_back(name);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return names;
}

std::uint16_t KeyFieldNumber(const TStrataFieldDefs& fieldDefs, std::string_view name) {
  if (SameText(name, "RecordID")) return kRecordIdFieldNumber;
  if (SameText(name, "RecordHash")) return kRecordHashFieldNumber;
  return static_cast<std::uint16_t>(fieldDefs.Find(name).FieldNo());
}

std::uint16_t DeclaredLengthOf(const TStrataFieldDef& def) {
  switch (def.DataType()) {
    case ftString:
    case ftBytes:
    case ftVarBytes:
    case ftFixedChar:
    case ftWideString:
      return static_cast<std::uint16_t>(def.Size());
    case ftGuid:
      return kGuidLength;
    default:
      return 0;
  }
}

}  // namespace

FieldDescriptor BuildFieldDescriptor(const TStrataFieldDef& def) {
  FieldDescriptor d;
  d.FieldNumber = static_cast<std::uint16_t>(def.FieldNo());
  d.Name = Cut(def.Name(), kNameLength);
  const EngineFieldType engine = EngineFieldTypeOf(def.DataType());
  d.EngineType = engine.Type;
  d.SubType = engine.SubType;
  d.DeclaredLength = DeclaredLengthOf(def);
  if (def.DataType() == ftBCD) d.DeclaredDecimals = static_cast<std::uint8_t>(def.Size());
  d.Required = def.Required() ? 1 : 0;
  d.CharCase = static_cast<std::uint8_t>(def.CharCase());
  d.Compression = def.Compression();
  d.Description = Cut(def.Description(), kTextLength);
  d.MinValue = Cut(def.MinValue(), kTextLength);
  d.MaxValue = Cut(def.MaxValue(), kTextLength);
  d.DefaultValue = Cut(def.DefaultValue(), kTextLength);
  return d;
}

IndexDescriptor BuildIndexDescriptor(const TStrataFieldDefs& fieldDefs, std::string_view name,
                                     std::string_view keyFields, TIndexOptions options,
                                     std::string_view descFields, TIndexCompression compression,
                                     bool fullText) {
  IndexDescriptor d;
  d.Name = Cut(name, kNameLength);
  d.Descending = options.Contains(ixDescending) ? 1 : 0;
  d.CaseInsensitive = options.Contains(ixCaseInsensitive) ? 1 : 0;
  d.Unique = options.Contains(ixUnique) ? 1 : 0;

  const std::vector<std::string_view> keys = SplitFieldNames(keyFields);
  for (std::size_t i = 0; i < keys.size(); ++i)
    d.FieldNumbers[i] = KeyFieldNumber(fieldDefs, keys[i]);
  d.FieldCount = static_cast<std::uint8_t>(keys.size());

  for (std::string_view descName : SplitFieldNames(descFields)) {
    const std::uint16_t number = KeyFieldNumber(fieldDefs, descName);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (d.FieldNumbers[i] == number) d.DescendingFields[i] = 1;
    }
  }

  d.Compression = static_cast<std::uint8_t>(compression);
  d.FullText = fullText ? 1 : 0;
  return d;
}

IndexDescriptor BuildIndexDescriptor(const TStrataFieldDefs& fieldDefs,
                                     const TStrataIndexDef& def) {
  return BuildIndexDescriptor(fieldDefs, def.Name(), def.Fields(), def.Options(), def.DescFields(),
                              def.Compression(), false);
}

}  // namespace strata
