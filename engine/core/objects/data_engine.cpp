#include "engine/core/objects/data_engine.h"

#include <algorithm>
#include <climits>

#include "engine/common/owned_list.h"
#include "engine/core/objects/data_session.h"
#include "engine/crypto/md5.h"
#include "engine/formats/table_file_owner.h"
#include "platform/process.h"

namespace strata {

namespace {

constexpr std::size_t kMaxSignatureLength = 255;

}  // namespace

TDataEngine::TDataEngine() : signatureDigest_(kDefaultSignatureDigest) {}

TDataEngine::TDataEngine(platform::FileSystem& files) : TDataEngine() {
  registry_.UseFileSystem(files);
}

TDataEngine::~TDataEngine() {
  std::vector<std::unique_ptr<TDataSession>> sessions;
  {
    std::lock_guard lock(sessionsLock_);
    sessions.swap(sessions_);
  }
  sessions.clear();
}

void TDataEngine::Activate(std::string_view lockFileName) {
  if (!lockFileName.empty()) options_.LockFileName = std::string(lockFileName);
  EngineLimits limits = options_.LargeFileSupport ? EngineLimits::LargeFiles() : EngineLimits{};
  static_cast<TableBufferLimits&>(limits) = options_;
  if (options_.MemoryBudget > 0) {
    // A quarter of the budget per table, split between its three caches in
    // proportion to what they hold in a rebuild: records and pages alike,
    // BLOB blocks less.
    const std::int64_t table = options_.MemoryBudget / 4;
    const auto share = [&](std::int64_t parts) {
      return static_cast<std::int32_t>(std::min<std::int64_t>(table * parts / 5, INT32_MAX));
    };
    limits.MaxTableDataBufferSize = std::max(limits.MaxTableDataBufferSize, share(2));
    limits.MaxTableIndexBufferSize = std::max(limits.MaxTableIndexBufferSize, share(2));
    limits.MaxTableBlobBufferSize = std::max(limits.MaxTableBlobBufferSize, share(1));
    constexpr std::int32_t kUnbounded = INT32_MAX;
    limits.MaxTableDataBufferCount = kUnbounded;
    limits.MaxTableIndexBufferCount = kUnbounded;
    limits.MaxTableBlobBufferCount = kUnbounded;
  }
  limits_ = limits;
  offsets_ = LockOffsets::For(options_.LargeFileSupport);
  active_ = true;
}

int TDataEngine::BuildThreads() const {
  return options_.Threads > 0 ? options_.Threads : platform::UsableProcessors();
}

std::size_t TDataEngine::SortMemory() const {
  return options_.MemoryBudget > 0 ? static_cast<std::size_t>(options_.MemoryBudget / 2)
                                   : kDefaultSortMemory;
}

void TDataEngine::Deactivate() {
  // Tables hold handles of the stores: they go first.
  std::vector<std::unique_ptr<TDataSession>> sessions;
  {
    std::lock_guard lock(sessionsLock_);
    sessions.swap(sessions_);
  }
  sessions.clear();
  registry_.FreeAllStores();
  active_ = false;
}

void TDataEngine::SetSignature(std::string_view text) {
  signature_ = std::string(text.substr(0, kMaxSignatureLength));
  signatureDigest_ = signature_.empty() ? kDefaultSignatureDigest : Md5::Digest(signature_);
}

std::shared_ptr<const LocaleList> TDataEngine::Locales() {
  std::lock_guard lock(localesLock_);
  if (!locales_) locales_ = LocaleList::Shared();
  return locales_;
}

TDataSession& TDataEngine::NewSession() {
  auto session = std::make_unique<TDataSession>(*this);
  std::lock_guard lock(sessionsLock_);
  return *sessions_.emplace_back(std::move(session));
}

void TDataEngine::FreeSession(TDataSession& session) {
  std::unique_ptr<TDataSession> freed;
  {
    std::lock_guard lock(sessionsLock_);
    freed = TakeOwned(sessions_, session);
  }
}

std::size_t TDataEngine::SessionCount() const {
  std::lock_guard lock(sessionsLock_);
  return sessions_.size();
}

}  // namespace strata
