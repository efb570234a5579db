#include "update/run_folder.h"

#include "components/default_components.h"
#include "components/strata_database.h"
#include "components/strata_session.h"
#include "engine/core/journal/scratch_folder.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/errors/set_aside.h"

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
  SetAsideError("closing a database the run only held must not hide the run's own outcome",
                [&] { session.CloseDatabase(*database_); });
  scratch_.reset();
}

}  // namespace strata
