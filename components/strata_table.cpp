#include "components/strata_table.h"

#include <algorithm>
#include <utility>

#include "components/default_components.h"
#include "components/definition_descriptors.h"
#include "components/definition_error.h"
#include "components/strata_database.h"
#include "components/strata_engine.h"
#include "components/strata_session.h"
#include "components/strata_table_definition.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"
#include "engine/errors/error_codes.h"
#include "engine/formats/field_rules.h"

namespace strata {

namespace {

constexpr std::size_t kMaxSecondaryIndexes = kIndexSlotCount - 2;
constexpr std::size_t kTextIndexSlot = kIndexSlotCount - 1;

}  // namespace

// Holds the table's database for the length of one operation.
class TStrataTable::DatabaseUse {
 public:
  explicit DatabaseUse(TStrataTable& table) : table_(table), database_(table.AcquireDatabase()) {}
  ~DatabaseUse() { table_.ReleaseDatabase(); }
  DatabaseUse(const DatabaseUse&) = delete;
  DatabaseUse& operator=(const DatabaseUse&) = delete;

  TStrataDatabase& Database() const { return database_; }

 private:
  TStrataTable& table_;
  TStrataDatabase& database_;
};

namespace {

// Fills the field slots; more definitions than slots are refused as the
// engine refuses them.
void FillFieldSlots(StrataTableDefinition& definition, const TStrataFieldDefs& defs,
                    const TDataCursor& cursor) {
  if (defs.Count() > kMaxFieldCount) {
    RaiseTableError(STRATA_FLDLIMIT, cursor.TableName(), cursor.Directory().ErrorDatabaseName());
  }
  definition.Fields.clear();
  for (const TStrataFieldDef& def : defs) definition.Fields.push_back(BuildFieldDescriptor(def));
}

// Slot 0 holds a leading primary definition, else stays all zero (the
// engine then keys the primary index on RecordID); the others follow.
void FillIndexSlots(StrataTableDefinition& definition, const TStrataFieldDefs& fieldDefs,
                    const TStrataIndexDefs& indexDefs, const TDataCursor& cursor) {
  const bool primaryGiven = !indexDefs.Empty() && indexDefs[0].Options().Contains(ixPrimary);
  const std::size_t secondary = indexDefs.Count() - (primaryGiven ? 1 : 0);
  if (secondary > kMaxSecondaryIndexes) {
    RaiseTableError(STRATA_INDEXLIMIT, cursor.TableName(), cursor.Directory().ErrorDatabaseName());
  }
  std::size_t slot = primaryGiven ? 0 : 1;
  for (const TStrataIndexDef& def : indexDefs) {
    definition.Indexes[slot++] = BuildIndexDescriptor(fieldDefs, def);
  }
  definition.SecondaryIndexCount = static_cast<int>(secondary);
}

IndexDescriptor TextIndexDescriptor(const TStrataFieldDefs& fieldDefs,
                                    std::string_view textIndexFields) {
  return BuildIndexDescriptor(fieldDefs, "Sys Text", textIndexFields, {}, {}, icFull, true);
}

}  // namespace

TStrataTable::TStrataTable() = default;

TStrataTable::~TStrataTable() {
  SetAsideError("closing must not keep the component from going", [&] { Close(); });
}

void TStrataTable::CheckInactive() const {
  if (Active()) RaiseDatabaseError("Cannot perform this operation on an open dataset");
}

void TStrataTable::SetDatabaseName(std::string_view value) {
  std::string name = NormalizeSlashes(value);
  if (name == databaseName_) return;
  CheckInactive();
  if (database_ != nullptr) RaiseDatabaseError("Cannot perform this operation on an open database");
  databaseName_ = std::move(name);
}

void TStrataTable::SetSessionName(std::string_view value) {
  if (value == sessionName_) return;
  CheckInactive();
  sessionName_ = value;
}

void TStrataTable::SetTableName(std::string_view value) {
  std::string name = NormalizeSlashes(value);
  if (name == tableName_) return;
  CheckInactive();
  if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) {
    SetDatabaseName(std::string_view(name).substr(0, slash + 1));
    tableName_ = name.substr(slash + 1);
  } else {
    tableName_ = std::move(name);
  }
}

void TStrataTable::SetExclusive(bool value) {
  if (value == exclusive_) return;
  CheckInactive();
  exclusive_ = value;
}

void TStrataTable::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  CheckInactive();
  readOnly_ = value;
}

std::string TStrataTable::EngineTableName() const {
  const TStrataEngine* engine = TStrataEngine::Instance();
  return TableNameOf(tableName_, engine != nullptr ? engine->TableDataExtension() : ".dat");
}

TStrataSession& TStrataTable::ResolveSession() const {
  TStrataSession* session =
      sessionName_.empty() ? &DefaultSession() : DefaultEngine().FindSession(sessionName_);
  if (session == nullptr) RaiseNamedDatabaseError("Session name '", sessionName_, "' is not valid");
  return *session;
}

TStrataDatabase& TStrataTable::AcquireDatabase() {
  if (databaseUses_ == 0) database_ = &ResolveSession().OpenDatabase(databaseName_);
  ++databaseUses_;
  return *database_;
}

void TStrataTable::ReleaseDatabase() noexcept {
  if (databaseUses_ == 0 || --databaseUses_ > 0) return;
  TStrataDatabase* database = std::exchange(database_, nullptr);
  SetAsideError("a failed disconnect leaves the database connected; nothing is lost",
                [&] { database->Session().CloseDatabase(*database); });
}

void TStrataTable::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    DatabaseUse use(*this);
    auto cursor = std::make_unique<TDataCursor>(use.Database().DataDirectory(), EngineTableName(),
                                                CursorModes{.Exclusive = exclusive_,
                                                            .ReadOnly = readOnly_});
    cursor->Open();
    AcquireDatabase();  // the open table's own use
    cursor_ = std::move(cursor);
  } else {
    std::unique_ptr<TDataCursor> cursor = std::move(cursor_);
    try {
      cursor->Close();
    } catch (...) {
      ReleaseDatabase();
      throw;
    }
    ReleaseDatabase();
  }
}

bool TStrataTable::Exists() {
  if (Active()) return true;
  if (tableName_.empty()) return false;
  DatabaseUse use(*this);
  if (!use.Database().Connected()) return false;
  return use.Database().DataDirectory().TableExists(EngineTableName(), false);
}

void TStrataTable::NumberForCreate() {
  std::int32_t number = 0;
  for (TStrataFieldDef& def : fieldDefs_) def.SetFieldNo(++number);
}

void TStrataTable::NumberForAlter() {
  std::int32_t highest = 0;
  for (const TStrataFieldDef& def : fieldDefs_) highest = std::max(highest, def.FieldNo());
  for (TStrataFieldDef& def : fieldDefs_) {
    if (def.FieldNo() == 0) def.SetFieldNo(++highest);
  }
}

void TStrataTable::PlacePrimaryIndex() {
  for (std::size_t i = 1; i < indexDefs_.Count(); ++i) {
    if (!indexDefs_[i].Options().Contains(ixPrimary)) continue;
    if (indexDefs_[0].Options().Contains(ixPrimary)) {
      RaiseDatabaseError("Only one primary index allowed per table");
    }
    indexDefs_.Move(i, 0);
  }
}

void TStrataTable::BuildDescriptors(StructureChange change, const TDataCursor& cursor,
                                    StrataTableDefinition& definition) {
  if (change == StructureChange::Create) {
    NumberForCreate();
  } else {
    NumberForAlter();
  }
  FillFieldSlots(definition, fieldDefs_, cursor);
  PlacePrimaryIndex();
  definition.Indexes[kTextIndexSlot] = TextIndexDescriptor(fieldDefs_, definition.TextIndexFields);
  FillIndexSlots(definition, fieldDefs_, indexDefs_, cursor);
}

void TStrataTable::RelayProgress(TDataCursor& cursor) {
  cursor.OnProgress = [this](std::uint16_t percent, std::string_view) {
    if (OnAlterProgress) OnAlterProgress(*this, percent);
  };
}

void TStrataTable::ChangeStructure(StructureChange change, StrataTableDefinition definition,
                                   bool suppressBackups) {
  CheckInactive();
  DatabaseUse use(*this);
  TDataCursor cursor(use.Database().DataDirectory(), EngineTableName(),
                     CursorModes{.Exclusive = true, .ReadOnly = false});
  BuildDescriptors(change, cursor, definition);

  if (change == StructureChange::Create) {
    TableCreateOptions options;
    static_cast<TableProperties&>(options) = definition.Properties;
    options.OverwriteExisting = false;
    cursor.CreateTableFiles(options, definition.Descriptors());
    return;
  }
  RelayProgress(cursor);
  cursor.OnDataLost = [this](TDataLossCause cause, std::string_view context, bool& stopAsking,
                             bool& continueOperation) {
    if (OnDataLost) OnDataLost(*this, cause, context, continueOperation, stopAsking);
  };
  RestructureOptions options;
  static_cast<TableProperties&>(options) = definition.Properties;
  options.SuppressBackups = suppressBackups;
  cursor.RestructureTable(options, definition.Descriptors());
}

void TStrataTable::CreateTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                               std::uint16_t userMinorVersion, bool encrypted,
                               std::string_view password, std::string_view description,
                               std::int32_t indexPageSize, std::int32_t blobBlockSize,
                               std::int32_t lastAutoIncValue, std::string_view textIndexFields,
                               const std::optional<std::vector<std::string>>& textIndexStopWords,
                               std::string_view textIndexSpaceChars,
                               std::string_view textIndexIncludeChars) {
  ChangeStructure(StructureChange::Create,
                  MakeStrataTableDefinition(localeId, userMajorVersion, userMinorVersion,
                                            encrypted, password, description, indexPageSize,
                                            blobBlockSize, lastAutoIncValue, textIndexFields,
                                            textIndexStopWords, textIndexSpaceChars,
                                            textIndexIncludeChars),
                  false);
}

void TStrataTable::AlterTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                              std::uint16_t userMinorVersion, bool encrypted,
                              std::string_view password, std::string_view description,
                              std::int32_t indexPageSize, std::int32_t blobBlockSize,
                              std::int32_t lastAutoIncValue, std::string_view textIndexFields,
                              const std::optional<std::vector<std::string>>& textIndexStopWords,
                              std::string_view textIndexSpaceChars,
                              std::string_view textIndexIncludeChars, bool suppressBackups) {
  ChangeStructure(StructureChange::Alter,
                  MakeStrataTableDefinition(localeId, userMajorVersion, userMinorVersion,
                                            encrypted, password, description, indexPageSize,
                                            blobBlockSize, lastAutoIncValue, textIndexFields,
                                            textIndexStopWords, textIndexSpaceChars,
                                            textIndexIncludeChars),
                  suppressBackups);
}

RestructurePreview TStrataTable::PreviewAlterTable(
    std::int32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
    bool encrypted, std::string_view password, std::string_view description,
    std::int32_t indexPageSize, std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
    std::string_view textIndexFields,
    const std::optional<std::vector<std::string>>& textIndexStopWords,
    std::string_view textIndexSpaceChars, std::string_view textIndexIncludeChars) {
  StrataTableDefinition definition = MakeStrataTableDefinition(
      localeId, userMajorVersion, userMinorVersion, encrypted, password, description,
      indexPageSize, blobBlockSize, lastAutoIncValue, textIndexFields, textIndexStopWords,
      textIndexSpaceChars, textIndexIncludeChars);
  CheckInactive();
  DatabaseUse use(*this);
  TDataCursor cursor(use.Database().DataDirectory(), EngineTableName(),
                     CursorModes{.ReadOnly = true});
  BuildDescriptors(StructureChange::Alter, cursor, definition);
  RelayProgress(cursor);
  RestructureOptions options;
  static_cast<TableProperties&>(options) = definition.Properties;
  return cursor.PreviewRestructure(options, definition.Descriptors());
}

}  // namespace strata
