// RestructurePreview: what a restructure of a table to a new structure
// would do, worked out by TDataCursor::PreviewRestructure without writing
// anything. The level is decided as the restructure decides it
// (DecideRestructure); the losses are counted by taking every record
// through the steps the chosen level takes: for a full rebuild the field
// matching by number, the value conversion, the defaults, AutoInc values
// for NULLs, the required, minimum and maximum checks and the unique keys
// of the new indexes; for an index-only rebuild the unique keys of the
// indexes that are built anew.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/schema/restructure_plan.h"

namespace strata {

// A stored field that a full rebuild drops or converts to another type,
// size or number of decimals.
struct FieldChangePreview {
  std::string Name;  // the stored field's name (Windows-1252)
  bool Dropped = false;
  std::uint8_t OldType = 0;
  std::uint16_t OldSize = 0;  // PhysicalSize
  std::uint8_t NewType = 0;
  std::uint16_t NewSize = 0;
  // Records holding a value in the field; of those, the values not carried
  // over (dropped, or failing the conversion), the texts or bytes cut to
  // the smaller size, and the other values the conversion changes: those
  // that do not convert back to the stored value (a time of day dropped, a
  // number rounded or out of the new range, a text written in another
  // form).
  std::int64_t Values = 0;
  std::int64_t Lost = 0;
  std::int64_t Cut = 0;
  std::int64_t Changed = 0;
};

struct RestructurePreview {
  RestructureLevel Level = RestructureLevel::HeaderOnly;
  // For a header-only update: whether any name, text, version or other
  // header value changes (false: the files keep their contents but for the
  // header's change count and time of writing).
  bool HeaderChanges = false;
  std::vector<FieldChangePreview> Fields;
  std::int64_t Records = 0;
  // Records the restructure would drop: for a duplicate key in a unique
  // index, and (full rebuild) for a required field without a value or a
  // value outside its minimum or maximum.
  std::int64_t KeyViolations = 0;
  std::int64_t ValidityFailures = 0;
  // Bytes written again: the header and descriptors (header-only), the index
  // file (index-only), or the new data file and the index and BLOB files as
  // they are now (full rebuild, an estimate for the last two).
  std::int64_t BytesToRewrite = 0;

  bool LosesValues() const {
    if (KeyViolations > 0 || ValidityFailures > 0) return true;
    for (const FieldChangePreview& field : Fields) {
      if (field.Lost > 0 || field.Cut > 0 || field.Changed > 0) return true;
    }
    return false;
  }
};

}  // namespace strata
