// TStrataIndexDef: one index definition of a table component (name, key
// fields, descending key fields, options, key compression).
// TStrataIndexDefs: the ordered collection of them.
//
// The setters keep Options and DescFields consistent: non-empty DescFields
// add ixDescending; options gaining ixDescending while DescFields is empty
// make every key field descending. Setting Fields drops ixExpression, and
// Fields reads as empty while ixExpression is set. An unnamed definition is
// the primary index's usual form; names are unique without regard to ASCII
// letter case, the empty name included.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "components/index_options.h"

namespace strata {

class TStrataIndexDef {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = name; }

  // Key field names separated by ";"; empty while ixExpression is set.
  std::string Fields() const;
  void SetFields(std::string_view fields);

  // The key fields that sort descending, separated by ";".
  const std::string& DescFields() const { return desc_fields_; }
  void SetDescFields(std::string_view fields);

  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions options);

  TIndexCompression Compression() const { return compression_; }
  void SetCompression(TIndexCompression compression) { compression_ = compression; }

  // Copying takes every property as it is, without the setters' effects.

 private:
  std::string name_;
  std::string fields_;
  std::string desc_fields_;
  TIndexOptions options_;
  TIndexCompression compression_ = icNone;
};

class TStrataIndexDefs {
 public:
  // Adds a definition; raises "Duplicate index name '<name>'" when the name
  // is taken. ixDescending with empty descFields makes every key field
  // descending; non-empty descFields add ixDescending.
  TStrataIndexDef& Add(std::string_view name, std::string_view fields, TIndexOptions options = {},
                       std::string_view descFields = {}, TIndexCompression compression = icNone);

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  TStrataIndexDef& operator[](std::size_t index) { return items_.at(index); }
  const TStrataIndexDef& operator[](std::size_t index) const { return items_.at(index); }
  void Clear() { items_.clear(); }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // Moves the definition at from to position to; the others keep their
  // relative order.
  void Move(std::size_t from, std::size_t to);

  // Position of the definition of that name, or -1.
  std::ptrdiff_t IndexOf(std::string_view name) const;

  // The definition of that name; raises "Index '<name>' not found".
  TStrataIndexDef& Find(std::string_view name);
  const TStrataIndexDef& Find(std::string_view name) const;

  // The first ascending, non-expression definition (case-insensitive ones
  // only when asked) whose key fields equal fields, else the first whose
  // key fields begin with them as whole names. Raises
  // "No index for fields '<fields>'" when none serves.
  const TStrataIndexDef& FindIndexForFields(std::string_view fields,
                                            bool caseInsensitive = false) const;

 private:
  std::size_t FindIndex(std::string_view name) const;

  std::vector<TStrataIndexDef> items_;
};

}  // namespace strata
