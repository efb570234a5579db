// TStrataFieldDef: one field definition of a table component (name, number,
// type, size, flags and value texts). TStrataFieldDefs: the ordered
// collection of them; the order is the order the engine receives.
//
// Setting DataType also resets Size to the type's default size; setting a
// non-zero Size of a typed definition checks it first (ValidateFieldSize),
// so a refused size leaves the definition unchanged. Add builds the whole
// item before appending it, so a failed add leaves the collection as it was.
// Names are found without regard to ASCII letter case; duplicates are not
// refused here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/field_type.h"

namespace strata {

class TStrataFieldDef {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = name; }

  // 0 means not yet numbered.
  std::int32_t FieldNo() const { return field_no_; }
  void SetFieldNo(std::int32_t fieldNo) { field_no_ = fieldNo; }

  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type);

  std::int32_t Size() const { return size_; }
  void SetSize(std::int32_t size);

  TFieldAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFieldAttributes attributes) { attributes_ = attributes; }
  bool Required() const { return attributes_.Contains(faRequired); }
  void SetRequired(bool required);

  const std::string& DefaultValue() const { return default_value_; }
  void SetDefaultValue(std::string_view text) { default_value_ = text; }
  const std::string& MinValue() const { return min_value_; }
  void SetMinValue(std::string_view text) { min_value_ = text; }
  const std::string& MaxValue() const { return max_value_; }
  void SetMaxValue(std::string_view text) { max_value_ = text; }
  const std::string& Description() const { return description_; }
  void SetDescription(std::string_view text) { description_ = text; }

  TFieldCharCase CharCase() const { return char_case_; }
  void SetCharCase(TFieldCharCase charCase) { char_case_ = charCase; }

  // Compression level of the field's BLOB data; 0 = none.
  std::uint8_t Compression() const { return compression_; }
  void SetCompression(std::uint8_t level) { compression_ = level; }

  // Copying takes every property as it is, without the setters' effects.

 private:
  std::string name_;
  std::int32_t field_no_ = 0;
  std::int32_t size_ = 0;
  TFieldType data_type_ = ftUnknown;
  TFieldAttributes attributes_;
  std::string default_value_;
  std::string min_value_;
  std::string max_value_;
  std::string description_;
  TFieldCharCase char_case_ = fcNoChange;
  std::uint8_t compression_ = 0;
};

class TStrataFieldDefs {
 public:
  // Adds a definition numbered 0. Raises "Field name missing" for an empty
  // name and "Invalid field size" for a size its type refuses.
  TStrataFieldDef& Add(std::string_view name, TFieldType dataType, std::int32_t size = 0,
                       bool required = false, std::string_view defaultValue = {},
                       std::string_view minValue = {}, std::string_view maxValue = {},
                       std::string_view description = {}, TFieldCharCase charCase = fcNoChange,
                       std::uint8_t compression = 0);

  // The same with a given field number (definitions taken from a table's
  // existing fields).
  TStrataFieldDef& Add(std::int32_t fieldNo, std::string_view name, TFieldType dataType,
                       std::int32_t size = 0, bool required = false,
                       std::string_view defaultValue = {}, std::string_view minValue = {},
                       std::string_view maxValue = {}, std::string_view description = {},
                       TFieldCharCase charCase = fcNoChange, std::uint8_t compression = 0);

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  TStrataFieldDef& operator[](std::size_t index) { return items_.at(index); }
  const TStrataFieldDef& operator[](std::size_t index) const { return items_.at(index); }
  void Clear() { items_.clear(); }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // Position of the first definition of that name, or -1.
  std::ptrdiff_t IndexOf(std::string_view name) const;

  // The definition of that name; raises "Field '<name>' not found".
  TStrataFieldDef& Find(std::string_view name);
  const TStrataFieldDef& Find(std::string_view name) const;

 private:
  std::size_t FindIndex(std::string_view name) const;

  std::vector<TStrataFieldDef> items_;
};

}  // namespace strata
