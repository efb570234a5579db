#include "components/index_defs.h"

#include <algorithm>

#include "components/definition_error.h"

namespace strata {

std::string TStrataIndexDef::Fields() const {
  return options_.Contains(ixExpression) ? std::string() : fields_;
}

void TStrataIndexDef::SetFields(std::string_view fields) {
  if (fields != fields_ || options_.Contains(ixExpression)) {
    options_.Exclude(ixExpression);
    fields_ = fields;
  }
}

void TStrataIndexDef::SetDescFields(std::string_view fields) {
  if (fields == desc_fields_) return;
  desc_fields_ = fields;
  if (!desc_fields_.empty()) options_.Include(ixDescending);
}

void TStrataIndexDef::SetOptions(TIndexOptions options) {
  if (options == options_) return;
  options_ = options;
  // Descending without a list of descending fields means the whole key.
  if (options_.Contains(ixDescending) && desc_fields_.empty()) desc_fields_ = Fields();
}

TStrataIndexDef& TStrataIndexDefs::Add(std::string_view name, std::string_view fields,
                                       TIndexOptions options, std::string_view descFields,
                                       TIndexCompression compression) {
  if (IndexOf(name) >= 0) RaiseNamedDatabaseError("Duplicate index name '", name, "'");
  TStrataIndexDef def;
  def.SetName(name);
  def.SetFields(fields);
  def.SetDescFields(descFields);
  if (def.Options().Contains(ixDescending)) options.Include(ixDescending);
  def.SetOptions(options);
  def.SetCompression(compression);
  return items_.emplace_back(std::move(def));
}

void TStrataIndexDefs::Move(std::size_t from, std::size_t to) {
  if (from >= items_.size() || to >= items_.size() || from == to) return;
  const auto first = items_.begin();
  if (from > to) {
    std::rotate(first + static_cast<std::ptrdiff_t>(to), first + static_cast<std::ptrdiff_t>(from),
                first + static_cast<std::ptrdiff_t>(from) + 1);
  } else {
    std::rotate(first + static_cast<std::ptrdiff_t>(from),
                first + static_cast<std::ptrdiff_t>(from) + 1,
                first + static_cast<std::ptrdiff_t>(to) + 1);
  }
}

std::ptrdiff_t TStrataIndexDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i].Name(), name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::size_t TStrataIndexDefs::FindIndex(std::string_view name) const {
  const std::ptrdiff_t index = IndexOf(name);
  if (index < 0) RaiseNamedDatabaseError("Index '", name, "' not found");
  return static_cast<std::size_t>(index);
}

TStrataIndexDef& TStrataIndexDefs::Find(std::string_view name) { return items_[FindIndex(name)]; }

const TStrataIndexDef& TStrataIndexDefs::Find(std::string_view name) const {
  return items_[FindIndex(name)];
}

const TStrataIndexDef& TStrataIndexDefs::FindIndexForFields(std::string_view fields,
                                                            bool caseInsensitive) const {
  auto serves = [caseInsensitive](const TStrataIndexDef& def) {
    const TIndexOptions options = def.Options();
    if (options.Contains(ixDescending) || options.Contains(ixExpression)) return false;
    return !caseInsensitive || options.Contains(ixCaseInsensitive);
  };
  for (const TStrataIndexDef& def : items_) {
    if (serves(def) && SameText(def.Fields(), fields)) return def;
  }
  for (const TStrataIndexDef& def : items_) {
    if (!serves(def)) continue;
    const std::string keys = def.Fields();
    if (keys.size() < fields.size() ||
        !SameText(std::string_view(keys).substr(0, fields.size()), fields)) {
      continue;
    }
    if (keys.size() == fields.size() || keys[fields.size()] == ';') return def;
  }
  RaiseNamedDatabaseError("No index for fields '", fields, "'");
}

}  // namespace strata
