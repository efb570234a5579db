// TDataSession: one engine-side session. It owns the database directories it
// opened (shared by reference count), the table passwords it knows and the
// settings its tables and cursors follow (SessionSettings) and the private
// directory.
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
#include "engine/core/objects/session_settings.h"

namespace strata {

class TDataEngine;
class TDataDirectory;

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

  const SessionSettings& Settings() const { return settings_; }
  void SetSettings(const SessionSettings& settings) { settings_ = settings; }

  std::int32_t ProgressSteps() const { return settings_.ProgressSteps; }
  void SetProgressSteps(std::int32_t steps) { settings_.ProgressSteps = steps; }
  // The percentage between two progress reports: 100 div ProgressSteps, or
  // 100 when ProgressSteps is 0.
  std::int32_t ProgressStep() const;

  bool ForceBufferFlush() const { return settings_.ForceBufferFlush; }
  void SetForceBufferFlush(bool value) { settings_.ForceBufferFlush = value; }
  bool StrictChangeDetection() const { return settings_.StrictChangeDetection; }
  void SetStrictChangeDetection(bool value) { settings_.StrictChangeDetection = value; }
  std::int32_t LockRetryCount() const { return settings_.LockRetryCount; }
  void SetLockRetryCount(std::int32_t count) { settings_.LockRetryCount = count; }
  std::uint32_t LockWaitTime() const { return settings_.LockWaitTime; }
  void SetLockWaitTime(std::uint32_t milliseconds) { settings_.LockWaitTime = milliseconds; }
  TLockProtocol LockProtocol() const { return settings_.LockProtocol; }
  void SetLockProtocol(TLockProtocol protocol) { settings_.LockProtocol = protocol; }

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
  SessionSettings settings_;
  std::int32_t lastAutoIncValue_ = 0;
  std::vector<std::unique_ptr<TDataPassword>> passwords_;
  std::vector<std::unique_ptr<TDataPassword>> sparePasswords_;
};

}  // namespace strata
