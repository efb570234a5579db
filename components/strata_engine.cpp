#include "components/strata_engine.h"

#include <algorithm>
#include <utility>

#include "components/definition_error.h"
#include "components/strata_session.h"
#include "engine/common/owned_list.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"

namespace strata {

namespace {

constexpr std::size_t kMaxSettingLength = 255;
constexpr int kMaxHolders = 2;
constexpr const char* kDefaultLockFileName = "strata.lck";
constexpr const char* kDefaultSessionName = "Default";

// The process's engine component and the number of its holders.
struct EngineSlot {
  std::mutex lock;
  std::unique_ptr<TStrataEngine> engine;
  int holders = 0;
};

EngineSlot& TheSlot() {
  static EngineSlot slot;
  return slot;
}

}  // namespace

TStrataEngine::TStrataEngine() : core_(std::make_unique<TDataEngine>()) {}

TStrataEngine::~TStrataEngine() {
  SetAsideError("a failing shutdown callback must not keep the engine from going",
                [&] { SetActive(false); });
  std::vector<std::unique_ptr<TStrataSession>> sessions;
  {
    std::lock_guard lock(sessionsLock_);
    sessions.swap(sessions_);
    defaultSession_ = nullptr;
  }
  while (!sessions.empty()) sessions.pop_back();
}

TStrataEngine* TStrataEngine::Instance() {
  EngineSlot& slot = TheSlot();
  std::lock_guard lock(slot.lock);
  return slot.engine.get();
}

void TStrataEngine::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    if (OnStartup) OnStartup();
    // A server engine would also start its database server here; this
    // program has none, so both engine types run the same way.
    core_->Activate(options().LockFileName);
    active_ = true;
    return;
  }
  const std::vector<TStrataSession*> sessions = SessionsSnapshot();
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->SetActive(false);
  core_->Deactivate();
  active_ = false;
  if (OnShutdown) OnShutdown();
}

void TStrataEngine::CheckInactive(bool changes) const {
  if (Active() && changes) {
    RaiseDatabaseError("Cannot perform this operation when the engine is active");
  }
}

void TStrataEngine::SetEngineType(TEngineType value) {
  CheckInactive(value != engineType_);
  engineType_ = value;
}

void TStrataEngine::SetEngineSignature(std::string_view value) {
  value = value.substr(0, std::min(value.size(), kMaxSettingLength));
  CheckInactive(value != core_->Signature());
  core_->SetSignature(value);
}

void TStrataEngine::SetLargeFileSupport(bool value) {
  CheckInactive(value != options().LargeFileSupport);
  options().LargeFileSupport = value;
}

void TStrataEngine::SetLockFileName(std::string_view value) {
  std::string name(value.substr(0, std::min(value.size(), kMaxSettingLength)));
  if (name.empty()) name = kDefaultLockFileName;
  CheckInactive(name != options().LockFileName);
  options().LockFileName = std::move(name);
}

void TStrataEngine::SetBufferLimit(std::int32_t TableBufferLimits::*field, std::int32_t value,
                                   std::int32_t minimum) {
  value = std::max(value, minimum);
  CheckInactive(value != options().*field);
  options().*field = value;
}

void TStrataEngine::SetMaxTableDataBufferSize(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableDataBufferSize, value, 8192);
}
void TStrataEngine::SetMaxTableDataBufferCount(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableDataBufferCount, value, 16);
}
void TStrataEngine::SetMaxTableIndexBufferSize(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableIndexBufferSize, value, 32768);
}
void TStrataEngine::SetMaxTableIndexBufferCount(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableIndexBufferCount, value, 8);
}
void TStrataEngine::SetMaxTableBlobBufferSize(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableBlobBufferSize, value, 8192);
}
void TStrataEngine::SetMaxTableBlobBufferCount(std::int32_t value) {
  SetBufferLimit(&TableBufferLimits::MaxTableBlobBufferCount, value, 32);
}

void TStrataEngine::SetMemoryBudget(std::int64_t bytes) {
  bytes = std::max<std::int64_t>(bytes, 0);
  CheckInactive(bytes != options().MemoryBudget);
  options().MemoryBudget = bytes;
}

void TStrataEngine::SetThreads(int threads) {
  threads = std::max(threads, 0);
  CheckInactive(threads != options().Threads);
  options().Threads = threads;
}

void TStrataEngine::SetExtension(std::string DataEngineOptions::*field, std::string_view value,
                                 std::string_view fallback) {
  std::string extension(value.empty() ? fallback : value);
  if (extension.front() != '.') extension.insert(extension.begin(), '.');
  if (extension.size() > kMaxSettingLength) extension.resize(kMaxSettingLength);
  CheckInactive(extension != options().*field);
  options().*field = std::move(extension);
}

void TStrataEngine::SetTableDataExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableDataExtension, value, ".dat");
}
void TStrataEngine::SetTableIndexExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableIndexExtension, value, ".idx");
}
void TStrataEngine::SetTableBlobExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableBlobExtension, value, ".blb");
}
void TStrataEngine::SetTableDataBackupExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableDataBackupExtension, value, ".dbk");
}
void TStrataEngine::SetTableIndexBackupExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableIndexBackupExtension, value, ".ibk");
}
void TStrataEngine::SetTableBlobBackupExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableBlobBackupExtension, value, ".bbk");
}
void TStrataEngine::SetTableDataUpgradeExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableDataUpgradeExtension, value, ".dup");
}
void TStrataEngine::SetTableIndexUpgradeExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableIndexUpgradeExtension, value, ".iup");
}
void TStrataEngine::SetTableBlobUpgradeExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableBlobUpgradeExtension, value, ".bup");
}
void TStrataEngine::SetTableDataTempExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableDataTempExtension, value, ".dat");
}
void TStrataEngine::SetTableIndexTempExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableIndexTempExtension, value, ".idx");
}
void TStrataEngine::SetTableBlobTempExtension(std::string_view value) {
  SetExtension(&DataEngineOptions::TableBlobTempExtension, value, ".blb");
}

void TStrataEngine::SetCreateTempTablesInDatabase(bool value) {
  CheckInactive(value != options().CreateTempTablesInDatabase);
  options().CreateTempTablesInDatabase = value;
}

void TStrataEngine::SetTableFilterIndexThreshhold(std::uint8_t value) {
  if (value > 100) return;
  CheckInactive(value != options().TableFilterIndexThreshhold);
  options().TableFilterIndexThreshhold = value;
}

void TStrataEngine::SetTableMaxReadLockCount(std::uint16_t value) {
  if (value == 0) return;
  CheckInactive(value != options().TableMaxReadLockCount);
  options().TableMaxReadLockCount = value;
}

void TStrataEngine::SetLockSetting(std::uint32_t TableLockSettings::*field, std::uint16_t value) {
  CheckInactive(value != options().TableLocks.*field);
  options().TableLocks.*field = value;
}

void TStrataEngine::SetLockSetting(std::int32_t TableLockSettings::*field, std::uint16_t value) {
  CheckInactive(value != options().TableLocks.*field);
  options().TableLocks.*field = value;
}

std::uint16_t TStrataEngine::TableReadLockWaitTime() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableReadLockWaitTime);
}
void TStrataEngine::SetTableReadLockWaitTime(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableReadLockWaitTime, value);
}
std::uint16_t TStrataEngine::TableReadLockRetryCount() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableReadLockRetryCount);
}
void TStrataEngine::SetTableReadLockRetryCount(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableReadLockRetryCount, value);
}
std::uint16_t TStrataEngine::TableWriteLockWaitTime() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableWriteLockWaitTime);
}
void TStrataEngine::SetTableWriteLockWaitTime(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableWriteLockWaitTime, value);
}
std::uint16_t TStrataEngine::TableWriteLockRetryCount() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableWriteLockRetryCount);
}
void TStrataEngine::SetTableWriteLockRetryCount(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableWriteLockRetryCount, value);
}
std::uint16_t TStrataEngine::TableTransLockWaitTime() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableTransLockWaitTime);
}
void TStrataEngine::SetTableTransLockWaitTime(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableTransLockWaitTime, value);
}
std::uint16_t TStrataEngine::TableTransLockRetryCount() const {
  return static_cast<std::uint16_t>(options().TableLocks.TableTransLockRetryCount);
}
void TStrataEngine::SetTableTransLockRetryCount(std::uint16_t value) {
  SetLockSetting(&TableLockSettings::TableTransLockRetryCount, value);
}

TStrataSession& TStrataEngine::CreateSession(std::string componentName, const void* owner) {
  auto session = std::make_unique<TStrataSession>(*this, std::move(componentName), owner);
  std::lock_guard lock(sessionsLock_);
  return *sessions_.emplace_back(std::move(session));
}

TStrataSession& TStrataEngine::CreateDefaultSession() {
  TStrataSession& session = CreateSession();
  try {
    session.SetSessionName(kDefaultSessionName);
  } catch (...) {
    FreeSession(session);
    throw;
  }
  std::lock_guard lock(sessionsLock_);
  if (defaultSession_ == nullptr) defaultSession_ = &session;
  return session;
}

void TStrataEngine::FreeSession(TStrataSession& session) {
  session.SetActive(false);
  std::unique_ptr<TStrataSession> freed;
  {
    std::lock_guard lock(sessionsLock_);
    freed = TakeOwned(sessions_, session);
    if (freed == nullptr) return;
    if (defaultSession_ == &session) defaultSession_ = nullptr;
  }
}

TStrataSession* TStrataEngine::DefaultSession() const {
  std::lock_guard lock(sessionsLock_);
  return defaultSession_;
}

TStrataSession* TStrataEngine::FindSession(std::string_view sessionName) const {
  std::lock_guard lock(sessionsLock_);
  if (sessionName.empty()) return defaultSession_;
  for (const auto& session : sessions_) {
    if (SameTableName(session->SessionName(), sessionName)) return session.get();
  }
  return nullptr;
}

std::size_t TStrataEngine::SessionCount() const {
  std::lock_guard lock(sessionsLock_);
  return sessions_.size();
}

std::vector<TStrataSession*> TStrataEngine::SessionsSnapshot() const {
  std::lock_guard lock(sessionsLock_);
  std::vector<TStrataSession*> sessions;
  sessions.reserve(sessions_.size());
  for (const auto& session : sessions_) sessions.push_back(session.get());
  return sessions;
}

bool TStrataEngine::SessionNameTaken(std::string_view name, const TStrataSession* except) const {
  std::lock_guard lock(sessionsLock_);
  return std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& session) {
    return session.get() != except && SameTableName(session->SessionName(), name);
  });
}

std::size_t TStrataEngine::TakeAutoSessionSlot() {
  std::lock_guard lock(sessionsLock_);
  const auto it = std::find(autoSessionSlots_.begin(), autoSessionSlots_.end(), false);
  const auto slot = static_cast<std::size_t>(it - autoSessionSlots_.begin());
  if (it == autoSessionSlots_.end()) {
    autoSessionSlots_.push_back(true);
  } else {
    *it = true;
  }
  return slot;
}

void TStrataEngine::ReleaseAutoSessionSlot(std::size_t slot) {
  std::lock_guard lock(sessionsLock_);
  if (slot < autoSessionSlots_.size()) autoSessionSlots_[slot] = false;
}

EngineHolder::EngineHolder() {
  EngineSlot& slot = TheSlot();
  std::lock_guard lock(slot.lock);
  if (slot.holders >= kMaxHolders) RaiseDatabaseError("An engine component already exists");
  if (!slot.engine) slot.engine.reset(new TStrataEngine());
  ++slot.holders;
  engine_ = slot.engine.get();
}

EngineHolder::~EngineHolder() { Release(); }

EngineHolder::EngineHolder(EngineHolder&& other) noexcept
    : engine_(std::exchange(other.engine_, nullptr)) {}

EngineHolder& EngineHolder::operator=(EngineHolder&& other) noexcept {
  if (this != &other) {
    Release();
    engine_ = std::exchange(other.engine_, nullptr);
  }
  return *this;
}

void EngineHolder::Release() noexcept {
  if (engine_ == nullptr) return;
  engine_ = nullptr;
  std::unique_ptr<TStrataEngine> last;
  {
    EngineSlot& slot = TheSlot();
    std::lock_guard lock(slot.lock);
    if (--slot.holders == 0) last = std::move(slot.engine);
  }
  // Destroyed outside the lock: shutdown callbacks may ask for Instance().
}

}  // namespace strata
