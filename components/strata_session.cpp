#include "components/strata_session.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "components/definition_error.h"
#include "components/strata_database.h"
#include "components/strata_engine.h"
#include "engine/common/owned_list.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"

namespace strata {

namespace {

// Numbers the engine-side sessions of the process's session objects.
std::atomic<std::uint64_t> nextSerial{1};

}  // namespace

TStrataSession::TStrataSession(TStrataEngine& engine, std::string componentName, const void* owner)
    : engine_(engine),
      componentName_(std::move(componentName)),
      owner_(owner),
      serial_(nextSerial.fetch_add(1)) {}

TStrataSession::~TStrataSession() {
  SetAsideError("a failing shutdown callback must not keep the session from going",
                [&] { SetActive(false); });
  ReleaseAutoSlot();
  while (!databases_.empty()) databases_.pop_back();
}

bool TStrataSession::IsDefault() const { return engine_.DefaultSession() == this; }

std::string TStrataSession::EngineVersion() const { return TStrataEngine::kEngineVersion; }

void TStrataSession::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void TStrataSession::Activate() {
  if (engine_.EngineType() == etServer && sessionType_ == stRemote) {
    RaiseDatabaseError("Cannot activate a remote session with the server engine");
  }
  CheckAutoSessionAlone();
  engine_.SetActive(true);
  if (OnStartup) OnStartup();
  if (sessionName_.empty()) RaiseDatabaseError("Session name is missing");
  if (TStrataSession* defaultSession = engine_.DefaultSession();
      defaultSession != nullptr && defaultSession != this) {
    defaultSession->SetActive(true);
  }
  // A remote session runs locally here: this program has no server to
  // connect to, and its remote settings are only stored.
  dataSession_ = &engine_.Core().NewSession();
  try {
    dataSessionName_ = sessionName_ + "_" + std::to_string(serial_);
    dataSession_->SetPrivateDirectory(privateDir_);
    dataSession_->SetSettings(settings_);
    dataSession_->OnPassword = [this] { return OnPassword ? OnPassword() : false; };
  } catch (...) {
    Deactivate();
    throw;
  }
}

void TStrataSession::Deactivate() {
  for (std::size_t i = databases_.size(); i-- > 0;) {
    TStrataDatabase& database = *databases_[i];
    if (database.Temporary()) {
      RemoveDatabase(database);
    } else {
      database.Disconnect();
    }
  }
  TDataSession* released = std::exchange(dataSession_, nullptr);
  dataSessionName_.clear();
  engine_.Core().FreeSession(*released);
  if (OnShutdown) OnShutdown();
}

void TStrataSession::CheckInactive(bool changes) const {
  if (Active() && changes) RaiseDatabaseError("Cannot perform this operation on an active session");
}

void TStrataSession::CheckAutoSessionAlone() const {
  if (owner_ == nullptr) return;
  for (TStrataSession* other : engine_.SessionsSnapshot()) {
    if (other == this || other->owner_ != owner_ || !other->Active()) continue;
    if (autoSessionName_ || other->autoSessionName_) {
      RaiseDatabaseError("The active auto-session can be the only active session");
    }
  }
}

void TStrataSession::SetSessionName(std::string_view value) {
  if (autoSessionName_) {
    RaiseDatabaseError("Cannot perform this operation on the active auto-session");
  }
  if (value == sessionName_) return;
  CheckInactive(true);
  if (!value.empty() && engine_.SessionNameTaken(value, this)) {
    RaiseNamedDatabaseError("Session name '", value, "' already exists");
  }
  sessionName_ = std::string(value);
}

void TStrataSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  CheckInactive(true);
  if (!value) {
    ReleaseAutoSlot();
    autoSessionName_ = false;
    return;
  }
  if (owner_ != nullptr) {
    for (TStrataSession* other : engine_.SessionsSnapshot()) {
      if (other != this && other->owner_ == owner_ && other->autoSessionName_) {
        RaiseDatabaseError("This auto-session already exists");
      }
    }
  }
  const std::size_t slot = engine_.TakeAutoSessionSlot();
  std::string name = componentName_ + "_" + std::to_string(slot + 1);
  if (engine_.SessionNameTaken(name, this)) {
    engine_.ReleaseAutoSessionSlot(slot);
    RaiseNamedDatabaseError("Session name '", name, "' already exists");
  }
  sessionName_ = std::move(name);
  autoSlot_ = slot;
  autoSessionName_ = true;
}

void TStrataSession::ReleaseAutoSlot() {
  if (autoSlot_) engine_.ReleaseAutoSessionSlot(*autoSlot_);
  autoSlot_.reset();
}

void TStrataSession::SetPrivateDir(std::string_view value) {
  privateDir_ = std::string(value);
  if (dataSession_) dataSession_->SetPrivateDirectory(privateDir_);
}

void TStrataSession::PassSettings() {
  if (dataSession_) dataSession_->SetSettings(settings_);
}

void TStrataSession::SetForceBufferFlush(bool value) {
  settings_.ForceBufferFlush = value;
  PassSettings();
}

void TStrataSession::SetStrictChangeDetection(bool value) {
  settings_.StrictChangeDetection = value;
  PassSettings();
}

void TStrataSession::SetLockRetryCount(std::uint8_t value) {
  settings_.LockRetryCount = value;
  PassSettings();
}

void TStrataSession::SetLockWaitTime(std::uint16_t value) {
  settings_.LockWaitTime = value;
  PassSettings();
}

void TStrataSession::SetLockProtocol(TLockProtocol value) {
  settings_.LockProtocol = value;
  PassSettings();
}

void TStrataSession::SetProgressSteps(std::uint16_t value) {
  if (value > 100) return;
  settings_.ProgressSteps = value;
  PassSettings();
}

void TStrataSession::SetSessionType(TSessionType value) {
  CheckInactive(value != sessionType_);
  sessionType_ = value;
}

void TStrataSession::SetRemote(const RemoteSettings& value) {
  CheckInactive(true);
  remote_ = value;
}

TDataSession& TStrataSession::DataSession() const {
  if (!dataSession_) RaiseDatabaseError("Cannot perform this operation on an inactive session");
  return *dataSession_;
}

void TStrataSession::AddPassword(std::string_view password) { DataSession().AddPassword(password); }

void TStrataSession::RemovePassword(std::string_view password) {
  DataSession().RemovePassword(password);
}

TStrataDatabase& TStrataSession::CreateDatabase(std::string_view databaseName) {
  auto database = std::make_unique<TStrataDatabase>(*this, false);
  database->SetDatabaseName(databaseName);
  return *databases_.emplace_back(std::move(database));
}

void TStrataSession::FreeDatabase(TStrataDatabase& database) {
  database.Disconnect();
  RemoveDatabase(database);
}

void TStrataSession::RemoveDatabase(TStrataDatabase& database) {
  const std::unique_ptr<TStrataDatabase> freed = TakeOwned(databases_, database);
}

TStrataDatabase* TStrataSession::FindDatabase(std::string_view databaseName) const {
  const std::string name = NormalizeSlashes(databaseName);
  for (const auto& database : databases_) {
    if (SameTableName(database->DatabaseName(), name)) return database.get();
  }
  return nullptr;
}

TStrataDatabase& TStrataSession::OpenDatabase(std::string_view databaseName) {
  SetActive(true);
  TStrataDatabase* database = FindDatabase(databaseName);
  const bool created = database == nullptr;
  if (created) {
    auto temporary = std::make_unique<TStrataDatabase>(*this, true);
    temporary->SetDatabaseName(databaseName);
    const std::string& name = temporary->DatabaseName();
    if (name.find('/') != std::string::npos &&
        !SameTableName(name, TDataDirectory::kMemoryDatabase)) {
      temporary->SetDirectory(name);
    }
    temporary->SetKeepConnection(keepConnections_);
    database = databases_.emplace_back(std::move(temporary)).get();
  }
  try {
    database->Connect();
  } catch (...) {
    // A temporary database that never connected is of no further use.
    if (created) RemoveDatabase(*database);
    throw;
  }
  ++database->userCount_;
  return *database;
}

void TStrataSession::CloseDatabase(TStrataDatabase& database) {
  if (database.userCount_ > 0) --database.userCount_;
  if (database.userCount_ == 0 && !database.KeepConnection()) database.Disconnect();
}

}  // namespace strata
