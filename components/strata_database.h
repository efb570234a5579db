// TStrataDatabase: a database component of a session. It names a database
// (DatabaseName) and where it lives (Directory), and while connected holds
// the engine-side TDataDirectory it opened in its session.
//
// Names and directories may be given with "\" or "/"; they are kept with
// "/". Directory loses its trailing "/" (the root stays "/"); an empty
// Directory is the current directory and the name "Memory" the in-memory
// database. A temporary database is one its session made for a name no
// component carried; it may be named by a path and needs no name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace strata {

class TStrataSession;
class TDataDirectory;

class TStrataDatabase {
 public:
  // Use TStrataSession::CreateDatabase.
  TStrataDatabase(TStrataSession& session, bool temporary);
  ~TStrataDatabase();
  TStrataDatabase(const TStrataDatabase&) = delete;
  TStrataDatabase& operator=(const TStrataDatabase&) = delete;

  TStrataSession& Session() const { return session_; }
  const std::string& SessionName() const;

  // DatabaseName, Directory and KeepTablesOpen need a closed database.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string_view value);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string_view value);
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool value) { keepConnection_ = value; }
  bool KeepTablesOpen() const { return keepTablesOpen_; }
  void SetKeepTablesOpen(bool value);
  bool Temporary() const { return temporary_; }
  std::int32_t UserCount() const { return userCount_; }

  bool Connected() const { return dataDirectory_ != nullptr; }
  void SetConnected(bool value);
  // Switches the session on and opens the engine directory.
  void Connect();
  void Disconnect();

  // "Cannot perform this operation on a closed database" while closed.
  TDataDirectory& DataDirectory() const;
  // Raise the closed or open state message unless the state is the one named.
  void CheckConnected() const;
  void CheckDisconnected() const;

 private:
  friend class TStrataSession;

  // The checks a component database passes before it connects; a temporary
  // one of the same name without users gives way.
  void CheckNameForConnect();

  TStrataSession& session_;
  bool temporary_;
  std::string databaseName_;
  std::string directory_;
  bool keepConnection_ = true;
  bool keepTablesOpen_ = false;
  std::int32_t userCount_ = 0;
  TDataDirectory* dataDirectory_ = nullptr;
};

}  // namespace strata
