// TDataSession: one engine-side session. It owns the database directories it
// opened (shared by reference count), the table passwords it knows and the
// settings its tables and cursors follow: lock retries and waits for record,
// table and semaphore locks, the lock protocol, strict change detection,
// forced OS flushing, progress steps and the private directory.
//
// A session and everything below it is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/objects/data_password.h"

namespace strata {

class TDataEngine;
class TDataDirectory;

enum TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

class TDataSession {
 public:
  explicit TDataSession(TDataEngine& engine);
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  TDataEngine& Engine() const { return engine_; }

  // The directory of that path (letter case ignored) and, with matchName,
  // that database name, shared by reference count; else a new one. The
  // database "Memory" (letter case ignored) lives in memory.
  TDataDirectory& OpenDirectory(std::string_view databaseName, std::string_view directory,
                                bool matchName = false, bool keepTablesOpen = false);
  // A directory for reading only (TDataDirectory's forReading): its tables
  // open read-only, and no lock file is created or changed. A directory of
  // that path open already in the session is shared as it is.
  TDataDirectory& OpenDirectoryForReading(std::string_view directory);
  // One reference less; the last one frees the directory.
  void CloseDirectory(TDataDirectory& directory);
  std::size_t DirectoryCount() const { return directories_.size(); }

  // Stored trimmed with a trailing "/" ("\" turned into "/"); empty stays
  // empty and means the current directory.
  void SetPrivateDirectory(std::string_view directory);
  std::string PrivateDirectory() const;
  const std::string& StoredPrivateDirectory() const { return privateDirectory_; }

  std::int32_t ProgressSteps() const { return progressSteps_; }
  void SetProgressSteps(std::int32_t steps) { progressSteps_ = steps; }
  // The percentage between two progress reports: 100 div ProgressSteps, or
  // 100 when ProgressSteps is 0.
  std::int32_t ProgressStep() const;

  bool ForceBufferFlush() const { return forceBufferFlush_; }
  void SetForceBufferFlush(bool value) { forceBufferFlush_ = value; }
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  void SetStrictChangeDetection(bool value) { strictChangeDetection_ = value; }
  std::int32_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(std::int32_t count) { lockRetryCount_ = count; }
  std::uint32_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(std::uint32_t milliseconds) { lockWaitTime_ = milliseconds; }
  TLockProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(TLockProtocol protocol) { lockProtocol_ = protocol; }

  // The last AutoInc value an insert of this session stored.
  std::int32_t LastAutoIncValue() const { return lastAutoIncValue_; }
  void SetLastAutoIncValue(std::int32_t value) { lastAutoIncValue_ = value; }

  // Passwords, compared exactly (letter case significant). Adding ignores an
  // empty or known text; removing retires the object for later reuse.
  void AddPassword(std::string_view text);
  void RemovePassword(std::string_view text);
  void RemoveAllPasswords();
  bool HasPassword(std::string_view text) const;
  const TDataPassword* FindPassword(std::string_view text) const;
  const std::vector<std::unique_ptr<TDataPassword>>& Passwords() const { return passwords_; }
  // Asked when no known password opens a table; true when it added one.
  std::function<bool()> OnPassword;

 private:
  TDataEngine& engine_;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
  std::string privateDirectory_;
  std::int32_t progressSteps_ = 20;
  bool forceBufferFlush_ = false;
  bool strictChangeDetection_ = false;
  std::int32_t lockRetryCount_ = 15;
  std::uint32_t lockWaitTime_ = 100;
  TLockProtocol lockProtocol_ = lpPessimistic;
  std::int32_t lastAutoIncValue_ = 0;
  std::vector<std::unique_ptr<TDataPassword>> passwords_;
  std::vector<std::unique_ptr<TDataPassword>> sparePasswords_;
};

}  // namespace strata
