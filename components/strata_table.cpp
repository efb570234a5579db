#include "components/strata_table.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "components/default_components.h"
#include "components/definition_descriptors.h"
#include "components/definition_error.h"
#include "components/strata_database.h"
#include "components/strata_engine.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/set_aside.h"
#include "engine/errors/error_codes.h"
#include "engine/formats/field_rules.h"

namespace strata {

// The records one structure operation hands to the engine.
struct TableHandOver {
  std::vector<FieldDescriptor> fields = std::vector<FieldDescriptor>(kMaxFieldCount);
  std::size_t fieldCount = 0;
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  int secondaryCount = 0;

  std::span<FieldDescriptor> Fields() { return std::span(fields).first(fieldCount); }
};

namespace {

constexpr std::size_t kMaxHandOverText = 255;
constexpr std::size_t kMaxSecondaryIndexes = kIndexSlotCount - 2;
constexpr std::size_t kTextIndexSlot = kIndexSlotCount - 1;

// Each character of the text is a member of the set.
CharacterSet CharacterSetOf(std::string_view text) {
  CharacterSet set{};
  for (char c : text) AddToCharacterSet(set, static_cast<unsigned char>(c));
  return set;
}

std::string HandOverText(std::string_view text) {
  return std::string(text.substr(0, kMaxHandOverText));
}

// The arguments CreateTable and AlterTable share, as the engine takes them.
TableProperties Properties(std::int32_t localeId, std::uint16_t userMajorVersion,
                           std::uint16_t userMinorVersion, bool encrypted,
                           std::string_view password, std::string_view description,
                           std::int32_t indexPageSize, std::int32_t blobBlockSize,
                           std::int32_t lastAutoIncValue,
                           const std::optional<std::vector<std::string>>& stopWords,
                           std::string_view spaceChars, std::string_view includeChars) {
  TableProperties properties;
  properties.LocaleID = localeId;
  properties.UserMajorVersion = userMajorVersion;
  properties.UserMinorVersion = userMinorVersion;
  properties.Encrypted = encrypted;
  properties.Password = HandOverText(password);
  properties.Description = HandOverText(description);
  properties.IndexPageSize = indexPageSize;
  properties.BlobBlockSize = blobBlockSize;
  properties.LastAutoIncValue = lastAutoIncValue;
  properties.StopWords = stopWords;
  properties.SpaceChars = CharacterSetOf(spaceChars);
  properties.IncludeChars = CharacterSetOf(includeChars);
  return properties;
}

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
void FillFieldSlots(TableHandOver& handOver, const TStrataFieldDefs& defs, const TDataCursor& cursor) {
  if (defs.Count() > kMaxFieldCount) {
    RaiseTableError(STRATA_FLDLIMIT, cursor.TableName(), cursor.Directory().ErrorDatabaseName());
  }
  for (const TStrataFieldDef& def : defs) {
    handOver.fields[handOver.fieldCount++] = BuildFieldDescriptor(def);
  }
}

// Slot 0 holds a leading primary definition, else stays all zero (the
// engine then keys the primary index on RecordID); the others follow.
void FillIndexSlots(TableHandOver& handOver, const TStrataFieldDefs& fieldDefs,
                    const TStrataIndexDefs& indexDefs, const TDataCursor& cursor) {
  const bool primaryGiven = !indexDefs.Empty() && indexDefs[0].Options().Contains(ixPrimary);
  const std::size_t secondary = indexDefs.Count() - (primaryGiven ? 1 : 0);
  if (secondary > kMaxSecondaryIndexes) {
    RaiseTableError(STRATA_INDEXLIMIT, cursor.TableName(), cursor.Directory().ErrorDatabaseName());
  }
  std::size_t slot = primaryGiven ? 0 : 1;
  for (const TStrataIndexDef& def : indexDefs) {
    handOver.indexes[slot++] = BuildIndexDescriptor(fieldDefs, def);
  }
  handOver.secondaryCount = static_cast<int>(secondary);
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

std::unique_ptr<TableHandOver> TStrataTable::BuildHandOver(const TDataCursor& cursor,
                                                          std::string_view textIndexFields) {
  auto handOver = std::make_unique<TableHandOver>();
  FillFieldSlots(*handOver, fieldDefs_, cursor);
  PlacePrimaryIndex();
  handOver->indexes[kTextIndexSlot] = TextIndexDescriptor(fieldDefs_, textIndexFields);
  FillIndexSlots(*handOver, fieldDefs_, indexDefs_, cursor);
  return handOver;
}

void TStrataTable::CreateTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                               std::uint16_t userMinorVersion, bool encrypted,
                               std::string_view password, std::string_view description,
                               std::int32_t indexPageSize, std::int32_t blobBlockSize,
                               std::int32_t lastAutoIncValue, std::string_view textIndexFields,
                               const std::optional<std::vector<std::string>>& textIndexStopWords,
                               std::string_view textIndexSpaceChars,
                               std::string_view textIndexIncludeChars) {
  CheckInactive();
  DatabaseUse use(*this);
  TDataCursor cursor(use.Database().DataDirectory(), EngineTableName(),
                     CursorModes{.Exclusive = true, .ReadOnly = false});
  NumberForCreate();
  const std::unique_ptr<TableHandOver> handOver = BuildHandOver(cursor, textIndexFields);

  TableCreateOptions options;
  static_cast<TableProperties&>(options) = Properties(
      localeId, userMajorVersion, userMinorVersion, encrypted, password, description,
      indexPageSize, blobBlockSize, lastAutoIncValue, textIndexStopWords, textIndexSpaceChars,
      textIndexIncludeChars);
  options.OverwriteExisting = false;
  cursor.CreateTableFiles(options, handOver->Fields(), handOver->indexes,
                          handOver->secondaryCount);
}

std::unique_ptr<TableHandOver> TStrataTable::PrepareAlter(TDataCursor& cursor,
                                                         std::string_view textIndexFields) {
  NumberForAlter();
  std::unique_ptr<TableHandOver> handOver = BuildHandOver(cursor, textIndexFields);
  cursor.OnProgress = [this](std::uint16_t percent, std::string_view) {
    if (OnAlterProgress) OnAlterProgress(*this, percent);
  };
  return handOver;
}

void TStrataTable::AlterTable(std::int32_t localeId, std::uint16_t userMajorVersion,
                              std::uint16_t userMinorVersion, bool encrypted,
                              std::string_view password, std::string_view description,
                              std::int32_t indexPageSize, std::int32_t blobBlockSize,
                              std::int32_t lastAutoIncValue, std::string_view textIndexFields,
                              const std::optional<std::vector<std::string>>& textIndexStopWords,
                              std::string_view textIndexSpaceChars,
                              std::string_view textIndexIncludeChars, bool suppressBackups) {
  CheckInactive();
  DatabaseUse use(*this);
  TDataCursor cursor(use.Database().DataDirectory(), EngineTableName(),
                     CursorModes{.Exclusive = true, .ReadOnly = false});
  const std::unique_ptr<TableHandOver> handOver = PrepareAlter(cursor, textIndexFields);
  cursor.OnDataLost = [this](TDataLossCause cause, std::string_view context, bool& stopAsking,
                             bool& continueOperation) {
    if (OnDataLost) OnDataLost(*this, cause, context, continueOperation, stopAsking);
  };

  RestructureOptions options;
  static_cast<TableProperties&>(options) = Properties(
      localeId, userMajorVersion, userMinorVersion, encrypted, password, description,
      indexPageSize, blobBlockSize, lastAutoIncValue, textIndexStopWords, textIndexSpaceChars,
      textIndexIncludeChars);
  options.SuppressBackups = suppressBackups;
  cursor.RestructureTable(options, handOver->Fields(), handOver->indexes,
                          handOver->secondaryCount);
}

RestructurePreview TStrataTable::PreviewAlterTable(
    std::int32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
    bool encrypted, std::string_view password, std::string_view description,
    std::int32_t indexPageSize, std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
    std::string_view textIndexFields,
    const std::optional<std::vector<std::string>>& textIndexStopWords,
    std::string_view textIndexSpaceChars, std::string_view textIndexIncludeChars) {
  CheckInactive();
  DatabaseUse use(*this);
  TDataCursor cursor(use.Database().DataDirectory(), EngineTableName(),
                     CursorModes{.ReadOnly = true});
  const std::unique_ptr<TableHandOver> handOver = PrepareAlter(cursor, textIndexFields);
  RestructureOptions options;
  static_cast<TableProperties&>(options) = Properties(
      localeId, userMajorVersion, userMinorVersion, encrypted, password, description,
      indexPageSize, blobBlockSize, lastAutoIncValue, textIndexStopWords, textIndexSpaceChars,
      textIndexIncludeChars);
  return cursor.PreviewRestructure(options, handOver->Fields(), handOver->indexes,
                                   handOver->secondaryCount);
}

}  // namespace strata
