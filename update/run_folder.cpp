#include "update/run_folder.h"

#include "components/default_components.h"
#include "components/strata_database.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/journal/scratch_folder.h"

namespace strata {

RunFolder::RunFolder(const std::string& directory) {
  TStrataSession& session = DefaultSession();
  database_ = &session.OpenDatabase(directory);
  try {
    TDataDirectory& data = database_->DataDirectory();
    data.RecoverTables();
    if (!data.InMemory()) {
      ScratchFolder::RemoveAbandoned(data.Engine().Files(), data.Path());
      scratch_ = std::make_unique<ScratchFolder>(data.Engine().Files(), data.Path(), data.Engine().Options().LockFileName);
      previousPrivateDir_ = session.PrivateDir();
      session.SetPrivateDir(scratch_->Path());
    }
  } catch (...) {
    session.CloseDatabase(*database_);
    throw;
  }
}

RunFolder::~RunFolder() {
  TStrataSession& session = DefaultSession();
  if (scratch_) session.SetPrivateDir(previousPrivateDir_);
  try {
    session.CloseDatabase(*database_);
  } catch (...) {
    // Closing a database that the run only held for this must not hide the
    // run's own outcome.
  }
  scratch_.reset();
}

}  // namespace strata
