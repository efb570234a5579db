// InsertOptions: how TDataCursor::InsertRecord treats the record it adds.
// The defaults are the ordinary insert; a caller names only what differs,
// e.g. InsertOptions{.KeepLink = true}.
#pragma once

namespace strata {

struct InsertOptions {
  // Accepted and ignored: after every insert the cursor's CurrentRecord is
  // the new record.
  bool Reposition = false;
  // The buffer's link (offset 1) is kept instead of being cleared first.
  bool KeepLink = false;
  // NULL AutoInc fields stay NULL instead of taking the next value.
  bool SkipAutoInc = false;
  // The unique indexes are not checked before the keys go in.
  bool SkipUniqueCheck = false;
  // The RecordHash is computed from the record's values.
  bool ComputeHash = true;
};

}  // namespace strata
