// TStrataEngine: the process's one engine component. It owns the engine core
// (TDataEngine), the session components and the free-slot set that numbers
// automatically named sessions.
//
// The object exists while at least one EngineHolder does: the first holder
// makes it, a second one shares it, a third one while two exist fails with
// "An engine component already exists". The last holder switches the engine
// off and frees every session and the core.
//
// Settings marked "engine inactive" refuse a different value while the
// engine is active; every accepted value is copied at once into the core's
// options. Switching the engine off switches every session off first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/objects/data_engine.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/crypto/crypto_hooks.h"

namespace strata {

class TStrataSession;

enum TEngineType : std::uint8_t { etClient = 0, etServer = 1 };

// Stored for a server engine; nothing in this program starts a server.
struct ServerSettings {
  std::string ServerName = "DBSRVR";
  std::string ServerDescription = "Strata Database Server";
  std::string ServerMainAddress;
  std::uint16_t ServerMainPort = 12005;
  std::int32_t ServerMainThreadCacheSize = 10;
  std::string ServerAdminAddress;
  std::uint16_t ServerAdminPort = 12006;
  std::int32_t ServerAdminThreadCacheSize = 1;
  bool ServerEncryptedOnly = false;
  std::string ServerEncryptionPassword = "quillbarrow";
  std::string ServerConfigFileName = "dbsrvr.scf";
  std::string ServerConfigPassword = "quillbarrow";
};

class TStrataEngine {
 public:
  static constexpr const char* kEngineVersion = "4.25 Build 4";

  ~TStrataEngine();
  TStrataEngine(const TStrataEngine&) = delete;
  TStrataEngine& operator=(const TStrataEngine&) = delete;

  // The engine while a holder exists, else nullptr.
  static TStrataEngine* Instance();

  TDataEngine& Core() { return *core_; }
  const TDataEngine& Core() const { return *core_; }

  bool Active() const { return active_; }
  void SetActive(bool value);
  std::function<void()> OnStartup;
  std::function<void()> OnShutdown;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(std::string_view) {}  // read-only

  TEngineType EngineType() const { return engineType_; }
  void SetEngineType(TEngineType value);
  const std::string& EngineSignature() const { return core_->Signature(); }
  void SetEngineSignature(std::string_view value);
  const Digest& SignatureDigest() const { return core_->SignatureDigest(); }
  bool LargeFileSupport() const { return options().LargeFileSupport; }
  void SetLargeFileSupport(bool value);
  bool FilterRecordCounts() const { return filterRecordCounts_; }
  void SetFilterRecordCounts(bool value) { filterRecordCounts_ = value; }
  const std::string& LockFileName() const { return options().LockFileName; }
  void SetLockFileName(std::string_view value);

  std::int32_t MaxTableDataBufferSize() const { return options().MaxTableDataBufferSize; }
  void SetMaxTableDataBufferSize(std::int32_t value);
  std::int32_t MaxTableDataBufferCount() const { return options().MaxTableDataBufferCount; }
  void SetMaxTableDataBufferCount(std::int32_t value);
  std::int32_t MaxTableIndexBufferSize() const { return options().MaxTableIndexBufferSize; }
  void SetMaxTableIndexBufferSize(std::int32_t value);
  std::int32_t MaxTableIndexBufferCount() const { return options().MaxTableIndexBufferCount; }
  void SetMaxTableIndexBufferCount(std::int32_t value);
  std::int32_t MaxTableBlobBufferSize() const { return options().MaxTableBlobBufferSize; }
  void SetMaxTableBlobBufferSize(std::int32_t value);
  std::int32_t MaxTableBlobBufferCount() const { return options().MaxTableBlobBufferCount; }
  void SetMaxTableBlobBufferCount(std::int32_t value);
  // Bytes for the caches and the sorts of index builds (0: the limits above
  // and the engine's default sorts); see DataEngineOptions::MemoryBudget.
  std::int64_t MemoryBudget() const { return options().MemoryBudget; }
  void SetMemoryBudget(std::int64_t bytes);
  // Threads an index build may use, the caller's included (0: one per
  // processor the process may use, 1 keeps one thread); see
  // DataEngineOptions::Threads. The files are the same whatever the number.
  int Threads() const { return options().Threads; }
  void SetThreads(int threads);

  // Extensions: a leading "." is added when missing; an empty text restores
  // the default extension.
  const std::string& TableDataExtension() const { return options().TableDataExtension; }
  void SetTableDataExtension(std::string_view value);
  const std::string& TableIndexExtension() const { return options().TableIndexExtension; }
  void SetTableIndexExtension(std::string_view value);
  const std::string& TableBlobExtension() const { return options().TableBlobExtension; }
  void SetTableBlobExtension(std::string_view value);
  const std::string& TableDataBackupExtension() const { return options().TableDataBackupExtension; }
  void SetTableDataBackupExtension(std::string_view value);
  const std::string& TableIndexBackupExtension() const {
    return options().TableIndexBackupExtension;
  }
  void SetTableIndexBackupExtension(std::string_view value);
  const std::string& TableBlobBackupExtension() const { return options().TableBlobBackupExtension; }
  void SetTableBlobBackupExtension(std::string_view value);
  const std::string& TableDataUpgradeExtension() const {
    return options().TableDataUpgradeExtension;
  }
  void SetTableDataUpgradeExtension(std::string_view value);
  const std::string& TableIndexUpgradeExtension() const {
    return options().TableIndexUpgradeExtension;
  }
  void SetTableIndexUpgradeExtension(std::string_view value);
  const std::string& TableBlobUpgradeExtension() const {
    return options().TableBlobUpgradeExtension;
  }
  void SetTableBlobUpgradeExtension(std::string_view value);
  const std::string& TableDataTempExtension() const { return options().TableDataTempExtension; }
  void SetTableDataTempExtension(std::string_view value);
  const std::string& TableIndexTempExtension() const { return options().TableIndexTempExtension; }
  void SetTableIndexTempExtension(std::string_view value);
  const std::string& TableBlobTempExtension() const { return options().TableBlobTempExtension; }
  void SetTableBlobTempExtension(std::string_view value);

  bool CreateTempTablesInDatabase() const { return options().CreateTempTablesInDatabase; }
  void SetCreateTempTablesInDatabase(bool value);
  // Values above 100 are ignored.
  std::uint8_t TableFilterIndexThreshhold() const {
    return static_cast<std::uint8_t>(options().TableFilterIndexThreshhold);
  }
  void SetTableFilterIndexThreshhold(std::uint8_t value);
  std::uint16_t TableReadLockWaitTime() const;
  void SetTableReadLockWaitTime(std::uint16_t value);
  std::uint16_t TableReadLockRetryCount() const;
  void SetTableReadLockRetryCount(std::uint16_t value);
  std::uint16_t TableWriteLockWaitTime() const;
  void SetTableWriteLockWaitTime(std::uint16_t value);
  std::uint16_t TableWriteLockRetryCount() const;
  void SetTableWriteLockRetryCount(std::uint16_t value);
  std::uint16_t TableTransLockWaitTime() const;
  void SetTableTransLockWaitTime(std::uint16_t value);
  std::uint16_t TableTransLockRetryCount() const;
  void SetTableTransLockRetryCount(std::uint16_t value);
  // 0 is ignored.
  std::uint16_t TableMaxReadLockCount() const {
    return static_cast<std::uint16_t>(options().TableMaxReadLockCount);
  }
  void SetTableMaxReadLockCount(std::uint16_t value);

  ServerSettings& Server() { return server_; }
  const ServerSettings& Server() const { return server_; }

  // Cipher and compression hooks, kept by the core; empty means built-in.
  void SetOnCryptoInit(CryptoInitHook hook) { core_->Crypto().OnCryptoInit = std::move(hook); }
  void SetOnEncryptBlock(CryptoBlockHook hook) { core_->Crypto().OnEncryptBlock = std::move(hook); }
  void SetOnDecryptBlock(CryptoBlockHook hook) { core_->Crypto().OnDecryptBlock = std::move(hook); }
  void SetOnCryptoReset(CryptoResetHook hook) { core_->Crypto().OnCryptoReset = std::move(hook); }
  void SetOnCompress(CompressHook hook) { core_->Compression().OnCompress = std::move(hook); }
  void SetOnDecompress(DecompressHook hook) { core_->Compression().OnDecompress = std::move(hook); }

  // Sessions. The engine owns them; the default session is the one an
  // empty session name stands for.
  TStrataSession& CreateSession(std::string componentName = {}, const void* owner = nullptr);
  // Makes the session named "Default" and marks it as the default one.
  TStrataSession& CreateDefaultSession();
  // Switches the session off and frees it.
  void FreeSession(TStrataSession& session);
  TStrataSession* DefaultSession() const;
  // Empty name: the default session; else the session of that name (letter
  // case ignored), or nullptr.
  TStrataSession* FindSession(std::string_view sessionName) const;
  std::size_t SessionCount() const;

 private:
  friend class EngineHolder;
  friend class TStrataSession;

  TStrataEngine();

  DataEngineOptions& options() { return core_->Options(); }
  const DataEngineOptions& options() const { return core_->Options(); }
  // Raises when the engine is active and the setting would change.
  void CheckInactive(bool changes) const;
  void SetExtension(std::string DataEngineOptions::*field, std::string_view value,
                    std::string_view fallback);
  void SetBufferLimit(std::int32_t TableBufferLimits::*field, std::int32_t value,
                      std::int32_t minimum);
  void SetLockSetting(std::uint32_t TableLockSettings::*field, std::uint16_t value);
  void SetLockSetting(std::int32_t TableLockSettings::*field, std::uint16_t value);
  std::vector<TStrataSession*> SessionsSnapshot() const;
  // Another session than except with that name (letter case ignored).
  bool SessionNameTaken(std::string_view name, const TStrataSession* except) const;
  // The first free slot for an automatically named session, now taken.
  std::size_t TakeAutoSessionSlot();
  void ReleaseAutoSessionSlot(std::size_t slot);

  std::unique_ptr<TDataEngine> core_;
  bool active_ = false;
  TEngineType engineType_ = etClient;
  bool filterRecordCounts_ = true;
  ServerSettings server_;

  mutable std::mutex sessionsLock_;
  std::vector<std::unique_ptr<TStrataSession>> sessions_;
  TStrataSession* defaultSession_ = nullptr;
  std::vector<bool> autoSessionSlots_;
};

// One holder of the process's engine component. Move-only; a moved-from
// holder holds nothing.
class EngineHolder {
 public:
  // Makes the engine or shares it; fails while two holders exist.
  EngineHolder();
  ~EngineHolder();
  EngineHolder(EngineHolder&& other) noexcept;
  EngineHolder& operator=(EngineHolder&& other) noexcept;
  EngineHolder(const EngineHolder&) = delete;
  EngineHolder& operator=(const EngineHolder&) = delete;

  TStrataEngine& operator*() const { return *engine_; }
  TStrataEngine* operator->() const { return engine_; }
  TStrataEngine* get() const { return engine_; }

 private:
  void Release() noexcept;

  TStrataEngine* engine_ = nullptr;
};

}  // namespace strata
