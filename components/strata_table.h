// TStrataTable: the table component. It names one table of a database
// (DatabaseName, SessionName, TableName), tells whether the table exists,
// and creates or restructures it from its FieldDefs and IndexDefs.
//
// The database is resolved on every use: the session of SessionName (empty:
// the default session) is switched on, and the database component of that
// name is taken, or a temporary one is made for it (a name holding a "/" is
// its directory). The table holds the database for a set of reasons: while
// it is open, and for the length of each structure operation or Exists.
//
// CreateTable numbers the field definitions 1, 2, 3 ...; AlterTable keeps
// the numbers given and numbers each definition of number 0 above the
// highest. Both move a primary index definition to the front and hand the
// engine 1024 field slots and 32 index slots: slot 0 the primary index (all
// zero when there is none), then the secondary indexes, slot 31 the
// full-text index "Sys Text". AlterTable relays the engine's progress to
// OnAlterProgress and its data-loss reports to OnDataLost; with no
// OnDataLost every loss is accepted. The definitions keep their numbering
// and order after a failure. The three structure operations gather their
// arguments into one StrataTableDefinition and share their work on it.
//
// Opening the table (Active) only holds it open through an engine cursor,
// exclusive or read-only as asked; records are not reached through it.
// Failures of the component are EDatabaseError; the engine's pass unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/field_defs.h"
#include "components/index_defs.h"
#include "engine/core/cursors/data_cursor.h"

namespace strata {

class TStrataDatabase;
class TStrataSession;
class TDataCursor;
class TDataDirectory;
struct StrataTableDefinition;

class TStrataTable;

using TProgressEvent = std::function<void(TStrataTable& sender, std::uint16_t percentDone)>;
using TDataLostEvent =
    std::function<void(TStrataTable& sender, TDataLossCause cause, std::string_view contextInfo,
                       bool& continueOperation, bool& stopAsking)>;

class TStrataTable {
 public:
  static constexpr const char* kEngineVersion = "4.25 Build 4";

  TStrataTable();
  // Closes the table and gives its database back, dropping any failure.
  ~TStrataTable();
  TStrataTable(const TStrataTable&) = delete;
  TStrataTable& operator=(const TStrataTable&) = delete;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(std::string_view) {}  // read-only

  // Setters refuse a change while the table is open ("Cannot perform this
  // operation on an open dataset"); setting the current value does nothing.
  // "\" is read as "/". DatabaseName also refuses a change while the table
  // holds its database ("Cannot perform this operation on an open
  // database"). A TableName holding a "/" sets DatabaseName to its part up
  // to the last "/" (inclusive) and TableName to the rest.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string_view value);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string_view value);
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string_view value);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);

  // The name the engine knows the table by: TableName's file-name part
  // without the engine's data extension (letter case ignored), at most 60
  // characters.
  std::string EngineTableName() const;

  TStrataFieldDefs& FieldDefs() { return fieldDefs_; }
  const TStrataFieldDefs& FieldDefs() const { return fieldDefs_; }
  TStrataIndexDefs& IndexDefs() { return indexDefs_; }
  const TStrataIndexDefs& IndexDefs() const { return indexDefs_; }

  bool Active() const { return cursor_ != nullptr; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // The database the table holds, or nullptr.
  TStrataDatabase* Database() const { return database_; }

  // True while open; false for an empty TableName (without touching the
  // database); otherwise whether the table's data file exists.
  bool Exists();

  void CreateTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                   std::uint16_t userMinorVersion, bool encrypted, std::string_view password,
                   std::string_view description, std::int32_t indexPageSize,
                   std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
                   std::string_view textIndexFields,
                   const std::optional<std::vector<std::string>>& textIndexStopWords,
                   std::string_view textIndexSpaceChars, std::string_view textIndexIncludeChars);

  void AlterTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                  std::uint16_t userMinorVersion, bool encrypted, std::string_view password,
                  std::string_view description, std::int32_t indexPageSize,
                  std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
                  std::string_view textIndexFields,
                  const std::optional<std::vector<std::string>>& textIndexStopWords,
                  std::string_view textIndexSpaceChars, std::string_view textIndexIncludeChars,
                  bool suppressBackups);

  // What AlterTable with the same arguments would do, worked out on the
  // table opened shared and read-only: nothing is written (see
  // TDataCursor::PreviewRestructure). The definitions are numbered as for
  // AlterTable; the progress goes to OnAlterProgress.
  RestructurePreview PreviewAlterTable(
      std::int32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
      bool encrypted, std::string_view password, std::string_view description,
      std::int32_t indexPageSize, std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
      std::string_view textIndexFields,
      const std::optional<std::vector<std::string>>& textIndexStopWords,
      std::string_view textIndexSpaceChars, std::string_view textIndexIncludeChars);

  TProgressEvent OnAlterProgress;
  TDataLostEvent OnDataLost;

 private:
  class DatabaseUse;

  void CheckInactive() const;
  TStrataSession& ResolveSession() const;
  // The first use resolves and connects the database; the last one gives
  // it back to its session.
  TStrataDatabase& AcquireDatabase();
  void ReleaseDatabase() noexcept;

  enum class StructureChange { Create, Alter };

  void NumberForCreate();
  void NumberForAlter();
  void PlacePrimaryIndex();
  // Numbers the definitions as the change does and fills the definition's
  // field and index descriptors from them, the primary index definition
  // placed first.
  void BuildDescriptors(StructureChange change, const TDataCursor& cursor,
                        StrataTableDefinition& definition);
  // Relays the cursor's progress to OnAlterProgress.
  void RelayProgress(TDataCursor& cursor);
  // The body of CreateTable and AlterTable; suppressBackups is for Alter.
  void ChangeStructure(StructureChange change, StrataTableDefinition definition,
                       bool suppressBackups);

  std::string databaseName_;
  std::string sessionName_;
  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  TStrataFieldDefs fieldDefs_;
  TStrataIndexDefs indexDefs_;

  TStrataDatabase* database_ = nullptr;
  // Uses of the database: being open counts one, each running structure
  // operation or Exists one (counted, so a handler may call Exists).
  int databaseUses_ = 0;
  std::unique_ptr<TDataCursor> cursor_;
};

}  // namespace strata
