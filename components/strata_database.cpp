#include "components/strata_database.h"

#include <vector>

#include "components/definition_error.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"

namespace strata {

TStrataDatabase::TStrataDatabase(TStrataSession& session, bool temporary)
    : session_(session), temporary_(temporary) {}

TStrataDatabase::~TStrataDatabase() {
  SetAsideError("closing the engine directory must not keep the component from going",
                [&] { Disconnect(); });
}

const std::string& TStrataDatabase::SessionName() const { return session_.SessionName(); }

void TStrataDatabase::CheckConnected() const {
  if (!Connected()) RaiseDatabaseError("Cannot perform this operation on a closed database");
}

void TStrataDatabase::CheckDisconnected() const {
  if (Connected()) RaiseDatabaseError("Cannot perform this operation on an open database");
}

void TStrataDatabase::SetDatabaseName(std::string_view value) {
  std::string name = NormalizeSlashes(value);
  if (name == databaseName_) return;
  CheckDisconnected();
  databaseName_ = std::move(name);
}

void TStrataDatabase::SetDirectory(std::string_view value) {
  std::string directory = NormalizeSlashes(value);
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (directory == directory_) return;
  CheckDisconnected();
  directory_ = std::move(directory);
}

void TStrataDatabase::SetKeepTablesOpen(bool value) {
  if (value == keepTablesOpen_) return;
  CheckDisconnected();
  keepTablesOpen_ = value;
}

void TStrataDatabase::SetConnected(bool value) {
  if (value) {
    Connect();
  } else {
    Disconnect();
  }
}

void TStrataDatabase::CheckNameForConnect() {
  if (databaseName_.empty()) RaiseDatabaseError("Database name is missing");
  if (databaseName_.find('/') != std::string::npos) {
    RaiseNamedDatabaseError("Database name '", databaseName_, "' is not valid");
  }
  std::vector<TStrataDatabase*> unused;
  for (const auto& other : session_.Databases()) {
    if (other.get() == this || !SameTableName(other->databaseName_, databaseName_)) continue;
    if (!other->temporary_ || other->userCount_ > 0) {
      RaiseNamedDatabaseError("Database name '", databaseName_, "' already exists");
    }
    unused.push_back(other.get());
  }
  for (TStrataDatabase* other : unused) session_.FreeDatabase(*other);
}

void TStrataDatabase::Connect() {
  if (Connected()) return;
  session_.SetActive(true);
  if (!temporary_) CheckNameForConnect();
  std::string_view name = databaseName_;
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  while (!name.empty() && name.back() == '/') name.remove_suffix(1);
  dataDirectory_ = &session_.DataSession().OpenDirectory(name, directory_, false, keepTablesOpen_);
}

void TStrataDatabase::Disconnect() {
  TDataDirectory* directory = dataDirectory_;
  if (directory == nullptr) return;
  dataDirectory_ = nullptr;
  session_.DataSession().CloseDirectory(*directory);
}

TDataDirectory& TStrataDatabase::DataDirectory() const {
  CheckConnected();
  return *dataDirectory_;
}

}  // namespace strata
