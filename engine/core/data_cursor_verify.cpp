// TDataCursor::VerifyOrRepairTable: the preconditions, the open without the
// ordinary header checks, the run itself (TableVerifyRun) and the close that
// writes what a repair changed.
#include "engine/core/data_cursor.h"
#include "engine/core/table_verify_run.h"
#include "engine/errors/engine_error.h"

namespace strata {

bool TDataCursor::VerifyOrRepairTable(bool repair, bool forceIndexRebuild) {
  if (table_ != nullptr) Raise(STRATA_TABLEOPEN);
  if (!modes_.Exclusive) Raise(STRATA_NEEDEXCLACCESS);
  if (repair && modes_.ReadOnly) Raise(STRATA_OSEACCES);
  // Damaged headers must reach the checks: the ordinary ones are left out.
  Open(false);
  bool result = false;
  try {
    if (repair && ReadOnly()) Raise(STRATA_OSEACCES);
    TableVerifyRun run(*this, repair, forceIndexRebuild);
    result = run.Run();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
  Close();
  return result;
}

}  // namespace strata
