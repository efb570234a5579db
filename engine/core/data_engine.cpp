#include "engine/core/data_engine.h"

#include <algorithm>

#include "engine/core/data_session.h"
#include "engine/crypto/md5.h"
#include "engine/formats/table_file_owner.h"

namespace strata {

namespace {

constexpr std::size_t kMaxSignatureLength = 255;

}  // namespace

TDataEngine::TDataEngine() : signatureDigest_(kDefaultSignatureDigest) {}

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
  limits.MaxTableDataBufferSize = options_.MaxTableDataBufferSize;
  limits.MaxTableDataBufferCount = options_.MaxTableDataBufferCount;
  limits.MaxTableIndexBufferSize = options_.MaxTableIndexBufferSize;
  limits.MaxTableIndexBufferCount = options_.MaxTableIndexBufferCount;
  limits.MaxTableBlobBufferSize = options_.MaxTableBlobBufferSize;
  limits.MaxTableBlobBufferCount = options_.MaxTableBlobBufferCount;
  limits_ = limits;
  offsets_ = LockOffsets::For(options_.LargeFileSupport);
  active_ = true;
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
    const auto it = std::find_if(sessions_.begin(), sessions_.end(),
                                 [&](const auto& s) { return s.get() == &session; });
    if (it == sessions_.end()) return;
    freed = std::move(*it);
    sessions_.erase(it);
  }
}

std::size_t TDataEngine::SessionCount() const {
  std::lock_guard lock(sessionsLock_);
  return sessions_.size();
}

}  // namespace strata
