// TStrataSession: a session component of the engine component. It keeps its
// settings, the database components it owns and, while active, the
// engine-side TDataSession it made.
//
// Switching it on switches the engine on, then (for any other session) the
// default session, and makes an engine-side session that receives the
// session's settings; a failure there switches the session off again.
// Switching it off frees its temporary databases, disconnects the others and
// releases the engine-side session. Settings marked "passed on" reach the
// engine-side session at once while the session is active.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/objects/data_session.h"

namespace strata {

class TStrataEngine;
class TStrataDatabase;

enum TSessionType : std::uint8_t { stLocal = 0, stRemote = 1 };

// Stored only; this program never connects a remote session.
struct RemoteSettings {
  bool RemoteEncryption = false;
  std::string RemoteEncryptionPassword = "quillbarrow";
  std::int32_t RemoteCompression = 0;
  std::string RemoteHost;
  std::string RemoteAddress = "127.0.0.1";
  std::uint16_t RemotePort = 12005;
  std::string RemoteService;
  bool RemoteTrace = false;
  std::string RemoteUser;
  std::string RemotePassword;
  std::int32_t RemoteTimeout = 300;
  bool RemotePing = false;
  std::int32_t RemotePingInterval = 60;
};

class TStrataSession {
 public:
  // Use TStrataEngine::CreateSession. owner groups the sessions of one
  // form for the auto-session rules; nullptr means none.
  TStrataSession(TStrataEngine& engine, std::string componentName, const void* owner);
  ~TStrataSession();
  TStrataSession(const TStrataSession&) = delete;
  TStrataSession& operator=(const TStrataSession&) = delete;

  TStrataEngine& Engine() const { return engine_; }
  const std::string& ComponentName() const { return componentName_; }
  bool IsDefault() const;

  bool Active() const { return dataSession_ != nullptr; }
  void SetActive(bool value);
  std::function<void()> OnStartup;
  std::function<void()> OnShutdown;
  // Asked when no known password opens a table; returns true after adding
  // one (AddPassword) to try again.
  std::function<bool()> OnPassword;

  std::string EngineVersion() const;

  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string_view value);
  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool value) { keepConnections_ = value; }
  const std::string& PrivateDir() const { return privateDir_; }
  void SetPrivateDir(std::string_view value);
  // The engine session's settings, held here while the session is inactive
  // and passed on as they change.
  bool ForceBufferFlush() const { return settings_.ForceBufferFlush; }
  void SetForceBufferFlush(bool value);
  bool StrictChangeDetection() const { return settings_.StrictChangeDetection; }
  void SetStrictChangeDetection(bool value);
  std::uint8_t LockRetryCount() const {
    return static_cast<std::uint8_t>(settings_.LockRetryCount);
  }
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const { return static_cast<std::uint16_t>(settings_.LockWaitTime); }
  void SetLockWaitTime(std::uint16_t value);
  TLockProtocol LockProtocol() const { return settings_.LockProtocol; }
  void SetLockProtocol(TLockProtocol value);
  // Values above 100 are ignored.
  std::uint16_t ProgressSteps() const { return static_cast<std::uint16_t>(settings_.ProgressSteps); }
  void SetProgressSteps(std::uint16_t value);
  TSessionType SessionType() const { return sessionType_; }
  void SetSessionType(TSessionType value);
  const RemoteSettings& Remote() const { return remote_; }
  void SetRemote(const RemoteSettings& value);

  // The engine-side session and its name (SessionName, "_", a number unique
  // to this object); "Cannot perform this operation on an inactive session"
  // while inactive.
  TDataSession& DataSession() const;
  const std::string& DataSessionName() const { return dataSessionName_; }
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);

  // Database components. The session owns them.
  TStrataDatabase& CreateDatabase(std::string_view databaseName = {});
  // Disconnects the database and frees it.
  void FreeDatabase(TStrataDatabase& database);
  // The database of that name (letter case ignored, "\" read as "/"), or
  // nullptr.
  TStrataDatabase* FindDatabase(std::string_view databaseName) const;
  // Switches the session on, finds the database or creates a temporary one,
  // connects it and counts one user.
  TStrataDatabase& OpenDatabase(std::string_view databaseName);
  // Counts one user less; at 0 a database not kept connected disconnects.
  void CloseDatabase(TStrataDatabase& database);
  std::size_t DatabaseCount() const { return databases_.size(); }
  const std::vector<std::unique_ptr<TStrataDatabase>>& Databases() const { return databases_; }

 private:
  friend class TStrataEngine;
  friend class TStrataDatabase;

  void Activate();
  void Deactivate();
  void CheckInactive(bool changes) const;
  // Another active session of the same owner, when either is auto-named.
  void CheckAutoSessionAlone() const;
  void ReleaseAutoSlot();
  void RemoveDatabase(TStrataDatabase& database);
  void PassSettings();

  TStrataEngine& engine_;
  std::string componentName_;
  const void* owner_;
  std::uint64_t serial_;

  std::string sessionName_;
  bool autoSessionName_ = false;
  std::optional<std::size_t> autoSlot_;
  bool keepConnections_ = true;
  std::string privateDir_;
  SessionSettings settings_;
  TSessionType sessionType_ = stLocal;
  RemoteSettings remote_;

  std::vector<std::unique_ptr<TStrataDatabase>> databases_;
  TDataSession* dataSession_ = nullptr;
  std::string dataSessionName_;
};

}  // namespace strata
