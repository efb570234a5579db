#include "components/field_defs.h"

#include "components/definition_error.h"

namespace strata {

void TStrataFieldDef::SetDataType(TFieldType type) {
  data_type_ = type;
  size_ = DefaultFieldSize(type);
}

void TStrataFieldDef::SetSize(std::int32_t size) {
  if (data_type_ != ftUnknown && size != 0) ValidateFieldSize(data_type_, size);
  size_ = size;
}

void TStrataFieldDef::SetRequired(bool required) {
  if (required) {
    attributes_.Include(faRequired);
  } else {
    attributes_.Exclude(faRequired);
  }
}

TStrataFieldDef& TStrataFieldDefs::Add(std::string_view name, TFieldType dataType,
                                       std::int32_t size, bool required,
                                       std::string_view defaultValue, std::string_view minValue,
                                       std::string_view maxValue, std::string_view description,
                                       TFieldCharCase charCase, std::uint8_t compression) {
  return Add(0, name, dataType, size, required, defaultValue, minValue, maxValue, description,
             charCase, compression);
}

TStrataFieldDef& TStrataFieldDefs::Add(std::int32_t fieldNo, std::string_view name,
                                       TFieldType dataType, std::int32_t size, bool required,
                                       std::string_view defaultValue, std::string_view minValue,
                                       std::string_view maxValue, std::string_view description,
                                       TFieldCharCase charCase, std::uint8_t compression) {
  if (name.empty()) RaiseDatabaseError("Field name missing");
  // The item is complete before it joins the collection: a refused size
  // leaves the collection untouched.
  TStrataFieldDef def;
  def.SetFieldNo(fieldNo);
  def.SetName(name);
  def.SetDataType(dataType);
  def.SetSize(size);
  def.SetRequired(required);
  def.SetDefaultValue(defaultValue);
  def.SetMinValue(minValue);
  def.SetMaxValue(maxValue);
  def.SetDescription(description);
  def.SetCharCase(charCase);
  def.SetCompression(compression);
  return items_.emplace_back(std::move(def));
}

std::ptrdiff_t TStrataFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i].Name(), name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::size_t TStrataFieldDefs::FindIndex(std::string_view name) const {
  const std::ptrdiff_t index = IndexOf(name);
  if (index < 0) RaiseNamedDatabaseError("Field '", name, "' not found");
  return static_cast<std::size_t>(index);
}

TStrataFieldDef& TStrataFieldDefs::Find(std::string_view name) { return items_[FindIndex(name)]; }

const TStrataFieldDef& TStrataFieldDefs::Find(std::string_view name) const {
  return items_[FindIndex(name)];
}

}  // namespace strata
