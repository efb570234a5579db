// TDataCursor::VerifyOrRepairTable: the preconditions, the open without the
// ordinary header checks, the run itself (TableVerifyRun) and the close that
// writes what a repair changed.
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_names.h"
#include "engine/core/verify/table_verify_run.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"

namespace strata {

bool TDataCursor::VerifyOrRepairTable(bool repair, bool forceIndexRebuild) {
  if (table_ != nullptr) Raise(STRATA_TABLEOPEN);
  if (!modes_.Exclusive) Raise(STRATA_NEEDEXCLACCESS);
  if (repair && modes_.ReadOnly) Raise(STRATA_OSEACCES);
  lostIndex_ = LostIndexFile::None;
  // Damaged headers must reach the checks: the ordinary ones are left out.
  // A repair replaces a lost index file; a verification reports it.
  try {
    OpenTable(false, repair);
  } catch (const EStrataEngineError& error) {
    const DataEngineOptions& options = directory_.Session().Engine().Options();
    const std::string indexPath =
        directory_.Path() +
        TableFileName(tableName_, options.TableDataExtension, options.TableIndexExtension);
    if (repair || error.TableName != indexPath || !LosesIndexFile(error.Code)) throw;
    lostIndex_ = error.Code == STRATA_OSENOENT ? LostIndexFile::Missing : LostIndexFile::Unreadable;
    Log("Index file " + indexPath + (error.Code == STRATA_OSENOENT ? " missing" : " unreadable") +
        ": the table's index definitions are lost; a repair rebuilds the default primary index");
    return false;
  }
  if (table_->LostIndex() != LostIndexFile::None) lostIndex_ = table_->LostIndex();
  bool result = false;
  try {
    if (repair && ReadOnly()) Raise(STRATA_OSEACCES);
    TableVerifyRun run(*this, repair, forceIndexRebuild);
    result = run.Run();
  } catch (...) {
    SetAsideError("cleanup after a failure; the first error wins", [&] { Close(); });
    throw;
  }
  Close();
  return result;
}

}  // namespace strata
