// TDataEngine: the process's storage engine. It holds the configuration (file
// extensions, lock file name, buffer limits, lock timings, signature), the
// limits and lock offsets that Activate derives from it, the file registry,
// the cipher and compression hooks, the locale list and the sessions.
//
// Options are set before Activate; Activate fixes the limits and the lock
// offsets (with or without large file support). Deactivate frees the
// sessions that are still there and every file store. The session list has
// its own lock; everything else is configured once and then only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/schema/full_text_words.h"
#include "engine/core/schema/insert_triggers.h"
#include "engine/core/locking/lock_offsets.h"
#include "engine/core/locking/lock_settings.h"
#include "engine/crypto/compression_hooks.h"
#include "engine/crypto/crypto_hooks.h"
#include "engine/files/engine_limits.h"
#include "engine/files/file_registry.h"
#include "engine/formats/data_file_header.h"
#include "engine/locale/locale_list.h"

namespace strata {

class TDataSession;

// The cache limits (TableBufferLimits) are the defaults of every table.
struct DataEngineOptions : TableBufferLimits {
  bool LargeFileSupport = false;
  std::string LockFileName = "strata.lck";
  std::string TableDataExtension = ".dat";
  std::string TableIndexExtension = ".idx";
  std::string TableBlobExtension = ".blb";
  std::string TableDataBackupExtension = ".dbk";
  std::string TableIndexBackupExtension = ".ibk";
  std::string TableBlobBackupExtension = ".bbk";
  std::string TableDataUpgradeExtension = ".dup";
  std::string TableIndexUpgradeExtension = ".iup";
  std::string TableBlobUpgradeExtension = ".bup";
  std::string TableDataTempExtension = ".dat";
  std::string TableIndexTempExtension = ".idx";
  std::string TableBlobTempExtension = ".blb";
  bool CreateTempTablesInDatabase = false;
  // Bytes the engine may spend on a table's caches and on the sorts that
  // build indexes; 0 leaves the caches at the buffer limits and gives sorts
  // kDefaultSortMemory. Set, a fourth goes to each table's data, index and
  // BLOB caches together (a restructure has two tables open) and half to the
  // sorts of one index build.
  std::int64_t MemoryBudget = 0;
  // Threads an index build may use (the calling thread's included): 0 for
  // as many as the process has processors, 1 to keep it on one thread. The
  // files written are the same whatever the number.
  int Threads = 0;
  std::int32_t TableFilterIndexThreshhold = 1;
  std::int32_t TableMaxReadLockCount = 100;
  // Table read, write and transaction lock waits and retries.
  TableLockSettings TableLocks;
  // The lock file's own timings: fixed in use, shortened only by tests.
  LockFileTiming LockFile;
};

class TDataEngine {
 public:
  // Works through the process's current file system, looked up at each
  // use (the tools' way); the second form through the one it is handed,
  // which must outlive the engine.
  TDataEngine();
  explicit TDataEngine(platform::FileSystem& files);
  ~TDataEngine();
  TDataEngine(const TDataEngine&) = delete;
  TDataEngine& operator=(const TDataEngine&) = delete;

  DataEngineOptions& Options() { return options_; }
  const DataEngineOptions& Options() const { return options_; }

  // Stores the lock file name (when one is given) and fixes the limits and
  // the lock offsets; sets Active.
  void Activate(std::string_view lockFileName = {});
  // Frees the remaining sessions and every file store; clears Active.
  void Deactivate();
  bool Active() const { return active_; }

  const EngineLimits& Limits() const { return limits_; }
  // Bytes for the sorts of one index build (see MemoryBudget).
  std::size_t SortMemory() const;
  static constexpr std::size_t kDefaultSortMemory = std::size_t{16} << 20;
  // Threads for one index build (see Threads), at least 1.
  int BuildThreads() const;
  const LockOffsets& Offsets() const { return offsets_; }

  // The signature text (at most 255 characters) and its digest: the built-in
  // default digest for the empty text, else the MD5 digest of the text.
  void SetSignature(std::string_view text);
  const std::string& Signature() const { return signature_; }
  const Digest& SignatureDigest() const { return signatureDigest_; }

  FileRegistry& Registry() { return registry_; }
  platform::FileSystem& Files() const { return registry_.Files(); }
  CryptoHooks& Crypto() { return crypto_; }
  const CryptoHooks& Crypto() const { return crypto_; }
  CompressionHooks& Compression() { return compression_; }
  const CompressionHooks& Compression() const { return compression_; }
  // Hooks of every table's inserts and full-text maintenance; set before
  // use, unassigned by default.
  InsertTriggers Triggers;
  TextIndexHooks TextIndex;

  // The locale list, built on first use.
  std::shared_ptr<const LocaleList> Locales();

  TDataSession& NewSession();
  // Frees the session with its directories and tables.
  void FreeSession(TDataSession& session);
  std::size_t SessionCount() const;

 private:
  DataEngineOptions options_;
  bool active_ = false;
  EngineLimits limits_;
  LockOffsets offsets_;
  std::string signature_;
  Digest signatureDigest_;
  FileRegistry registry_;
  CryptoHooks crypto_;
  CompressionHooks compression_;
  std::shared_ptr<const LocaleList> locales_;
  std::mutex localesLock_;
  mutable std::mutex sessionsLock_;
  std::vector<std::unique_ptr<TDataSession>> sessions_;
};

}  // namespace strata
