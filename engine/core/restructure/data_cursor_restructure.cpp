// TDataCursor: bringing an existing table to a new structure. A header-only
// update rewrites names, texts and header values in place; an index-only
// rebuild refills the changed indexes from the records, with a copy of the
// index file to go back to; a full rebuild copies every record into a new
// table in the temporary directory and then swaps the files.
#include <algorithm>
#include <stdexcept>

#include "engine/common/byte_order.h"
#include "engine/core/restructure/change_journal.h"
#include "engine/core/cursors/cursor_write_state.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/restructure/field_value_carry.h"
#include "engine/core/cursors/modes_scope.h"
#include "engine/core/restructure/restructure_decision.h"
#include "engine/core/indexing/sorted_index_build.h"
#include "engine/core/schema/table_full_text_params.h"
#include "engine/core/schema/table_names.h"
#include "engine/core/schema/table_structure.h"
#include "engine/core/journal/table_swap.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/files/engine_file.h"
#include "engine/files/external_sorter.h"
#include "engine/core/indexing/table_index_writer.h"
#include "engine/formats/counters.h"
#include "engine/formats/field_rules.h"
#include "engine/formats/index_key.h"
#include "engine/formats/index_tree.h"
#include "engine/locale/collation.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"
#include "platform/file_system.h"

namespace strata {

namespace {

// Room for any converted value: every text form and the largest field.
constexpr std::size_t kValueBufferSlack = 512;
// Attempts at reserving a temporary table name before giving up.
constexpr int kTempNameAttempts = 1000;
// Appended to the names of the new files that wait next to a table for the
// swap, and of the old files set aside to be deleted after it; no table
// listing matches them.
constexpr char kStagedSuffix[] = ".new~";
constexpr char kDiscardedSuffix[] = ".old~";

// Closes a cursor whatever happens, dropping a failure (the error that
// unwinds matters more).
class CloseOnExit {
 public:
  explicit CloseOnExit(TDataCursor& cursor) : cursor_(cursor) {}
  ~CloseOnExit() {
    SetAsideError("closing on exit; the error that unwinds matters more",
                  [&] { cursor_.Close(); });
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  TDataCursor& cursor_;
};

// The temporary directory of a rebuild, released at the end.
class TempDirectoryScope {
 public:
  explicit TempDirectoryScope(TDataDirectory& tableDirectory) : session_(tableDirectory.Session()) {
    if (tableDirectory.InMemory() || tableDirectory.Engine().Options().CreateTempTablesInDatabase) {
      directory_ = &tableDirectory;
      return;
    }
    const std::string path = DirectoryWithSlash(session_.PrivateDirectory());
    directory_ = &session_.OpenDirectory(DatabaseNameOfPath(path), path);
    owned_ = true;
  }
  ~TempDirectoryScope() {
    if (owned_) session_.CloseDirectory(*directory_);
  }
  TempDirectoryScope(const TempDirectoryScope&) = delete;
  TempDirectoryScope& operator=(const TempDirectoryScope&) = delete;

  TDataDirectory& Directory() const { return *directory_; }

 private:
  TDataSession& session_;
  TDataDirectory* directory_ = nullptr;
  bool owned_ = false;
};

// The RecordIDs of a table's records, kept sorted (within a share of the
// sort memory, spilling runs to the temporary folder) to find the ones that
// repeat: a table whose records share a RecordID (or have none), which only
// damage or another program leaves, must not be rebuilt that way, for
// RecordIDs identify records (and end the keys of non-unique and full-text
// indexes) and verification refuses such a table.
class RecordIdRegister {
 public:
  RecordIdRegister(FileRegistry& registry, const SortedBuildSettings& settings)
      : sorter_(kEntrySize, settings.MemoryBytes, &CompareEntries, [&registry, settings] {
          return NewSortRunFile(registry, settings, kRunExtension);
        }) {}

  void Add(std::int32_t recordId, std::int32_t slot) {
    std::uint8_t entry[kEntrySize];
    StoreI32(entry, recordId);
    StoreI32(entry + 4, slot);
    sorter_.Add(entry);
  }

  // The slots whose RecordID is 0 or repeats one of a lower slot, in
  // ascending order.
  std::vector<std::int32_t> Repeated() {
    std::vector<std::int32_t> slots;
    bool first = true;
    std::int32_t previous = 0;
    sorter_.Merge([&](const std::uint8_t* entry) {
      const std::int32_t recordId = LoadI32(entry);
      if (recordId == 0 || (!first && recordId == previous)) slots.push_back(LoadI32(entry + 4));
      previous = recordId;
      first = false;
    });
    std::sort(slots.begin(), slots.end());
    return slots;
  }

 private:
  // By RecordID, then by slot.
  static int CompareEntries(const std::uint8_t* a, const std::uint8_t* b) {
    for (const std::size_t at : {std::size_t{0}, std::size_t{4}}) {
      const std::int32_t x = LoadI32(a + at);
      const std::int32_t y = LoadI32(b + at);
      if (x != y) return x < y ? -1 : 1;
    }
    return 0;
  }

  static constexpr std::size_t kEntrySize = 8;
  static constexpr char kRunExtension[] = ".rid";
  ExternalSorter sorter_;
};

// Errors that concern one record (its keys or its values); every other
// failure ends the operation.
bool IsRecordLevelError(std::uint16_t code) {
  return code == STRATA_KEYVIOL || code == STRATA_MINVALERR || code == STRATA_MAXVALERR ||
         code == STRATA_REQDERR;
}

// The bytes of a file before its first unit (its header and descriptors),
// to be written back when a change is undone.
JournalRestoreBytes HeaderBytes(TBufferedFile& file) {
  JournalRestoreBytes entry;
  entry.Target = file.Path();
  entry.Bytes.resize(static_cast<std::size_t>(file.FirstUnitOffset()));
  file.ReadAt(0, std::as_writable_bytes(std::span(entry.Bytes)), false);
  return entry;
}

// Slots 0 to the secondary count, and the full-text slot when it indexes
// fields.
std::vector<int> EveryIndexSlot(const TIndexFile& index) {
  std::vector<int> slots;
  for (int slot = 0; slot <= index.SecondaryIndexCount(); ++slot) slots.push_back(slot);
  const IndexDescriptor& text = index.Descriptor(kFullTextSlot);
  if (text.FullText != 0 && text.FieldCount > 0) slots.push_back(static_cast<int>(kFullTextSlot));
  return slots;
}

bool HasBlobFields(std::span<const FieldDescriptor> fields) {
  return std::any_of(fields.begin(), fields.end(),
                     [](const FieldDescriptor& field) { return field.EngineType == kTypeBlob; });
}

bool IsSystemFieldNumber(std::uint16_t number) {
  return number == kRecordIdFieldNumber || number == kRecordHashFieldNumber;
}

// The new field numbers become positions; index key fields follow them.
void RenumberFields(TDataTable& table) {
  TDataFile& data = *table.DataFile();
  TIndexFile& index = *table.IndexFile();
  const std::vector<FieldDescriptor> fields(data.Fields().begin(), data.Fields().end());
  const auto positionOf = [&](std::uint16_t number) -> std::uint16_t {
    if (IsSystemFieldNumber(number)) return number;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].FieldNumber == number) return static_cast<std::uint16_t>(i + 1);
    }
    return number;
  };
  std::vector<int> slots;
  for (int slot = 0; slot <= index.SecondaryIndexCount(); ++slot) slots.push_back(slot);
  slots.push_back(static_cast<int>(kFullTextSlot));
  for (const int slot : slots) {
    IndexDescriptor descriptor = index.Descriptor(slot);
    for (std::size_t k = 0; k < descriptor.FieldCount && k < kMaxKeyFields; ++k) {
      descriptor.FieldNumbers[k] = positionOf(descriptor.FieldNumbers[k]);
    }
    index.UpdateIndexInfo(slot, descriptor);
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    FieldDescriptor field = fields[i];
    field.FieldNumber = static_cast<std::uint16_t>(i + 1);
    data.UpdateFieldInfo(static_cast<std::uint16_t>(i + 1), field);
  }
}

void DeleteFileQuietly(FileRegistry& registry, const std::string& path, bool inMemory) noexcept {
  SetAsideError("deleting a leftover file quietly", [&] {
    TEngineFile file(registry, path, inMemory);
    if (file.Exists()) file.Delete();
  });
}

// A temporary table name in the directory, taken with an exclusive create
// of its data file so that no other process building a table there can take
// it too. The caller replaces or deletes that file.
std::string ReserveTempTableName(TDataDirectory& directory, FileRegistry& registry) {
  for (int attempt = 0;; ++attempt) {
    const std::string candidate = directory.MakeTempTableName();
    const std::string path = directory.Path() + candidate;
    TEngineFile reservation(registry, path, directory.InMemory());
    reservation.FailIfExists = true;
    try {
      reservation.CreateNew();
    } catch (const EStrataEngineError& error) {
      if (error.Code != STRATA_OSEACCES || attempt >= kTempNameAttempts) throw;
      continue;
    }
    try {
      reservation.Close();
    } catch (...) {
      DeleteFileQuietly(registry, path, directory.InMemory());
      throw;
    }
    return directory.TableNameFor(candidate);
  }
}

// Removes a temporary table and whatever of its files is left, also when
// the directory refuses to delete it as a table (a read-only database) or
// only its name's reservation exists.
void DeleteTableQuietly(TDataDirectory& directory, const std::string& name) noexcept {
  SetAsideError("deleting a temporary table quietly; its files go next",
                [&] { directory.DeleteTable(name); });
  SetAsideError("deleting a temporary table's leftover files quietly", [&] {
    const DataEngineOptions& options = directory.Engine().Options();
    for (const std::string* extension : {&options.TableDataExtension, &options.TableIndexExtension,
                                          &options.TableBlobExtension}) {
      DeleteFileQuietly(directory.Engine().Registry(),
                        directory.Path() +
                            TableFileName(name, options.TableDataExtension, *extension),
                        directory.InMemory());
    }
  });
}

}  // namespace

RestructureLevel TDataCursor::RestructureTable(const RestructureOptions& options,
                                               const TableDefinition& definition) {
  if (directory_.InTransaction()) directory_.Commit(true);
  if (table_ != nullptr) Raise(STRATA_TABLEOPEN);
  if (!modes_.Exclusive) Raise(STRATA_NEEDEXCLACCESS);
  if (modes_.ReadOnly) Raise(STRATA_OSEACCES);

  const auto [pageSize, blockSize] = ValidateNewStructure(options, definition);

  // The headers are checked like on every other open: a table whose header
  // disagrees with its files (a record count, a field size) would be
  // rebuilt from that header and lose rows or values without a word. It
  // is refused here, before anything of it changes; repair fixes it.
  Open();
  CloseOnExit closeTable(*this);
  if (table_->ReadOnly()) Raise(STRATA_OSEACCES);

  const std::int32_t lastAutoInc = options.LastAutoIncValue == -1
                                      ? table_->DataFile()->LastAutoIncValue()
                                      : options.LastAutoIncValue;
  const RestructureDecision decision = DecideRestructure(
      *table_, this, options, definition, pageSize, blockSize, displayName_);
  const RestructureLevel level = decision.Level;
  const FullTextParams& currentText = decision.CurrentText;
  const FullTextParams& wantedText = decision.WantedText;
  const auto localeId = static_cast<std::uint32_t>(options.LocaleID);

  if (level == RestructureLevel::HeaderOnly) {
    // The headers are rewritten in place; until they are on the disk, the
    // journal holds the old ones, so a crash leaves the old or the new
    // headers, never a mix.
    ChangeJournal journal(directory_, tableName_);
    try {
      journal.Add({HeaderBytes(*table_->DataFile()), HeaderBytes(*table_->IndexFile())});
      UpdateHeader(options, lastAutoInc, pageSize, blockSize, definition);
      table_->Flush();
      table_->FlushOsWritten();
      Close();
      // The journal's removal is made durable: brought back by a power cut
      // after the table was written to, its old headers would no longer
      // fit the records.
      journal.Commit();
    } catch (...) {
      CloseDiscardingChanges();
      journal.RecoverQuietly();
      throw;
    }
    return level;
  }
  if (level == RestructureLevel::IndexOnly) {
    IndexRebuild(options.SuppressBackups, FullTextParamsDiffer(currentText, wantedText, localeId),
                 wantedText, definition, [&, pageSize = pageSize, blockSize = blockSize] {
                   UpdateHeader(options, lastAutoInc, pageSize, blockSize, definition);
                 });
    return level;
  }
  FullRebuild(options, lastAutoInc, pageSize, blockSize, definition);
  return level;
}

void TDataCursor::UpdateHeader(const RestructureOptions& options, std::int32_t lastAutoInc,
                               std::int32_t pageSize, std::int32_t blockSize,
                               const TableDefinition& definition) {
  TDataFile& data = *table_->DataFile();
  TIndexFile& index = *table_->IndexFile();
  for (std::size_t i = 0; i < definition.Fields.size(); ++i) {
    data.UpdateFieldInfo(static_cast<std::uint16_t>(i + 1), definition.Fields[i]);
  }
  for (int slot = 0; slot <= definition.SecondaryIndexCount; ++slot) {
    index.UpdateIndexInfo(slot, definition.Indexes[static_cast<std::size_t>(slot)]);
  }
  TableInfo info = HeaderValuesOf(options, lastAutoInc, pageSize, blockSize);
  // Neither the cipher nor the password changes here.
  info.PasswordCheck = data.Header().PasswordCheck;
  data.SetTableInfo(info);
}

void TDataCursor::FullRebuild(const RestructureOptions& options, std::int32_t lastAutoInc,
                              std::int32_t pageSize, std::int32_t blockSize,
                              const TableDefinition& definition) {
  const std::span<const FieldDescriptor> fields = definition.Fields;
  TDataFile& oldData = *table_->DataFile();
  const std::vector<FieldDescriptor> oldFields(oldData.Fields().begin(), oldData.Fields().end());
  ResetDataLoss();
  BeginProgress();

  // Integer fields that become AutoInc: records without a value get numbers
  // above every value present, so the counter starts there.
  std::int32_t autoIncStart = lastAutoInc;
  std::vector<std::uint16_t> becomingAutoInc;
  for (std::size_t i = 0; i < oldFields.size(); ++i) {
    const FieldDescriptor& old = oldFields[i];
    const auto match = std::find_if(fields.begin(), fields.end(), [&](const FieldDescriptor& f) {
      return f.FieldNumber == old.FieldNumber;
    });
    if (match != fields.end() && match->SubType == kSubTypeAutoInc &&
        old.SubType != kSubTypeAutoInc && old.EngineType == kTypeInteger) {
      becomingAutoInc.push_back(static_cast<std::uint16_t>(i + 1));
    }
  }
  std::vector<std::uint8_t> oldRecord = NewRecordBuffer();
  if (!becomingAutoInc.empty()) {
    for (std::int32_t n = 1; n <= PhysicalRecordCount(); ++n) {
      if (!ReadRecord(n, oldRecord)) continue;
      for (const std::uint16_t position : becomingAutoInc) {
        if (const auto value = GetField(oldRecord, position)) {
          autoIncStart = std::max(autoIncStart, LoadI32(value->data()));
        }
      }
    }
  }

  TempDirectoryScope temp(directory_);
  TDataDirectory& tempDirectory = temp.Directory();
  FileRegistry& registry = Session().Engine().Registry();
  const bool inMemory = directory_.InMemory();

  const std::string tempName = ReserveTempTableName(tempDirectory, registry);
  const JournalSwap swap = PlanSwap(tempDirectory, tempName, HasBlobFields(fields),
                                    options.SuppressBackups);
  // From here a crash leaves a journal that the next user of the table
  // recovers from: until the swap is staged by removing the new table,
  // afterwards by finishing the swap.
  std::optional<ChangeJournal> journal;
  try {
    journal.emplace(directory_, tableName_);
    journal->Add(swap);
  } catch (...) {
    if (journal) journal->RecoverQuietly();
    DeleteTableQuietly(tempDirectory, tempName);
    throw;
  }

  const bool addedPassword = options.Encrypted && !Session().HasPassword(options.Password);
  if (addedPassword) Session().AddPassword(options.Password);
  struct PasswordScope {
    TDataSession& session;
    const std::string& password;
    bool added;
    ~PasswordScope() {
      if (added) session.RemovePassword(password);
    }
  } passwordScope{Session(), options.Password, addedPassword};

  TDataCursor target(tempDirectory, tempName,
                     CursorModes{.Exclusive = true,
                                 .KeepRecordIDs = true,
                                 .NoTriggers = true,
                                 .FieldsByNumber = true});
  // The new table and its staged files go (the journal stays when that
  // fails, for the next user of the table to finish).
  const auto discard = [&]() noexcept {
    SetAsideError("cleanup after a failure; the first error wins", [&] { target.Close(); });
    journal->RecoverQuietly();
    DeleteTableQuietly(tempDirectory, tempName);
  };
  bool staged = false;
  try {
    TableCreateOptions create;
    static_cast<TableProperties&>(create) = options;
    create.IndexPageSize = pageSize;
    create.BlobBlockSize = blockSize;
    create.LastAutoIncValue = autoIncStart;
    const FullTextParams wantedText =
        ReplaceFullTextParams(ReadFullTextParams(*table_->IndexFile(), this),
                              static_cast<std::uint32_t>(options.LocaleID), options.StopWords,
                              options.SpaceChars, options.IncludeChars);
    create.StopWords = wantedText.StopWords;
    create.SpaceChars = wantedText.SpaceChars;
    create.IncludeChars = wantedText.IncludeChars;
    create.OverwriteExisting = true;
    // The swap's journal covers the new table.
    create.CrashSafe = false;
    target.CreateTableFiles(create, definition);
    // The new table was written a moment ago and still carries the
    // definition's field numbers, which the header check would take for
    // damage until RenumberFields makes them positions.
    target.Open(false);
    // The numbers become positions before any record goes in: full-text
    // keys carry the field number, so they are built with the final one.
    RenumberFields(*target.Table());
    const std::vector<std::uint16_t> targetNumbers = NewFieldPositions(oldFields, fields);
    CursorModes sequential = modes_;
    sequential.SequentialScan = true;
    const ModesScope scan(modes_, sequential, this);
    // A record whose RecordID another record has (or that has none) gets a
    // new one, above every RecordID of the table: found before anything is
    // copied, so that every key is built with the RecordID its record keeps.
    std::vector<std::int32_t> renumbered;
    std::int32_t lastRecordId = oldData.LastRecordID();
    {
      RecordIdRegister recordIds(registry, SortSettings(tempDirectory));
      for (std::int32_t n = 1; n <= PhysicalRecordCount(); ++n) {
        if (!ReadRecord(n, oldRecord)) continue;
        const std::int32_t recordId = LoadI32(oldRecord.data() + record_layout::kId);
        recordIds.Add(recordId, n);
        lastRecordId = std::max(lastRecordId, recordId);
      }
      renumbered = recordIds.Repeated();
    }
    // The indexes are built from their sorted keys once every record is in.
    SortedIndexBuild build(*target.Table()->IndexFile(), target.Indexes(),
                           EveryIndexSlot(*target.Table()->IndexFile()), registry,
                           SortSettings(tempDirectory));
    target.DeferKeys(&build);

    std::vector<std::uint8_t> newRecord = target.NewRecordBuffer();
    std::size_t widest = 0;
    for (const FieldDescriptor& field : oldFields) {
      widest = std::max<std::size_t>(widest, field.PhysicalSize);
    }
    for (const FieldDescriptor& field : target.Fields()) {
      widest = std::max<std::size_t>(widest, field.PhysicalSize);
    }
    std::vector<std::uint8_t> value(widest + kValueBufferSlack);

    for (std::int32_t n = 1; n <= PhysicalRecordCount() && continue_; ++n) {
      if (ReadRecord(n, oldRecord)) {
        target.ApplyDefaults(newRecord);
        for (std::size_t i = 0; i < oldFields.size() && continue_; ++i) {
          const FieldDescriptor& old = oldFields[i];
          const auto position = static_cast<std::uint16_t>(i + 1);
          const FieldDescriptor* field = target.FieldByNumber(targetNumbers[i]);
          if (field == nullptr) {
            ReportDataLoss(dlFieldDeletion, old.Name);
            continue;
          }
          if (FieldIsNull(oldRecord, old)) {
            target.SetField(newRecord, field->FieldNumber, std::nullopt);
            continue;
          }
          // The value in place (a BLOB field's: its reference's first four
          // bytes), not a copy.
          const std::span<const std::uint8_t> slot = FieldBytes(oldRecord, old);
          const std::span<const std::uint8_t> oldValue =
              slot.first(std::min<std::size_t>(
                  slot.size(),
                  old.EngineType == kTypeBlob ? record_layout::kBlobFirstBlockSize : slot.size()));
          if (!CarryFieldValue(*this, oldRecord, position, old, oldValue, target, newRecord,
                               *field, value)) {
            ReportDataLoss(dlFieldConversion, old.Name);
          }
        }
        if (!continue_) break;
        const bool renumber = std::binary_search(renumbered.begin(), renumbered.end(), n);
        if (renumber) lastRecordId = NextCounterValue(lastRecordId);
        StoreI32(newRecord.data() + record_layout::kId,
                 renumber ? lastRecordId : LoadI32(oldRecord.data() + record_layout::kId));
        try {
          target.InsertRecord(newRecord);
        } catch (const EStrataEngineError& error) {
          // A failure that is not about this record (a file that cannot be
          // written, a damaged table) would strike every later record too:
          // reported as a loss it would leave a new table short of records
          // in place of the old one. It ends the rebuild instead, the old
          // table untouched and the temporary one removed below.
          if (!IsRecordLevelError(error.Code)) throw;
          target.FreeBlobs();
          if (error.Code == STRATA_KEYVIOL) {
            ReportDataLoss(dlKeyViolation, error.IndexName);
          } else {
            ReportDataLoss(dlValidityCheckFail, error.FieldName);
          }
        }
        target.FreeBlobs();
        FreeBlobs();
      }
      if (!continue_) break;
      StepProgress(n, PhysicalRecordCount());
    }

    target.DeferKeys(nullptr);
    if (continue_) {
      const SortedIndexBuild::Outcome outcome = build.Finish();
      if (ReportRefusedRecords(outcome, *target.Table()->IndexFile())) {
        target.TakeOutRefusedRecords(outcome);
      }
    }
    if (!continue_) {
      Close();
      discard();
      EndProgress();
      return;
    }

    TDataTable& newTable = *target.Table();
    TDataFile& newData = *newTable.DataFile();
    if (newData.LastAutoIncValue() < lastAutoInc) newData.SetLastAutoIncValue(lastAutoInc);
    // The counter stays where the old table had it, or above the RecordIDs
    // the records brought (the new ones included).
    newData.SetLastRecordID(std::max(newData.LastRecordID(), oldData.LastRecordID()));
    // Every byte of the new table is on the disk before it takes the
    // table's place.
    newTable.Flush();
    newTable.FlushOs();
    target.Close();
    Close();

    StageSwap(swap, registry, inMemory);
    journal->Add(JournalSwapStaged{});
    staged = true;
    // Finishing the swap syncs the directory once the new files have their
    // names; a journal brought back by a power cut then finds it finished.
    journal->Recover(false);
  } catch (...) {
    if (!staged) {
      discard();
      throw;
    }
    // Past the point where the swap is finished, never undone: one more
    // attempt here, else the next user of the table completes it.
    bool finished = false;
    SetAsideError("one more attempt at finishing the swap; the first error propagates", [&] {
      journal->Recover(false);
      finished = true;
    });
    if (!finished) throw;
  }
  EndProgress();
}

JournalSwap TDataCursor::PlanSwap(TDataDirectory& tempDirectory, const std::string& tempName,
                                  bool newHasBlobs, bool suppressBackups) const {
  const DataEngineOptions& options = Session().Engine().Options();
  FileRegistry& registry = Session().Engine().Registry();
  const std::string& dataExtension = options.TableDataExtension;
  struct Kind {
    const std::string& extension;
    const std::string& backupExtension;
    bool blob;
  };
  const Kind kinds[] = {{options.TableDataExtension, options.TableDataBackupExtension, false},
                        {options.TableIndexExtension, options.TableIndexBackupExtension, false},
                        {options.TableBlobExtension, options.TableBlobBackupExtension, true}};
  JournalSwap swap;
  for (const Kind& kind : kinds) {
    const std::string final =
        directory_.Path() + TableFileName(tableName_, dataExtension, kind.extension);
    if (!kind.blob || newHasBlobs) {
      swap.NewFiles.push_back(
          {tempDirectory.Path() + TableFileName(tempName, dataExtension, kind.extension),
           final + kStagedSuffix, final});
    }
    if (!TEngineFile(registry, final, directory_.InMemory()).Exists()) continue;
    if (suppressBackups) {
      swap.OldFiles.push_back({final, final + kDiscardedSuffix, true});
    } else {
      swap.OldFiles.push_back(
          {final, directory_.Path() + TableFileName(tableName_, dataExtension, kind.backupExtension),
           false});
    }
  }
  return swap;
}

void TDataCursor::IndexRebuild(bool suppressBackups, bool textParamsChanged,
                               const FullTextParams& wantedText,
                               const TableDefinition& definition,
                               const std::function<void()>& writeHeader) {
  const std::span<const FieldDescriptor> fields = definition.Fields;
  const IndexSlots indexes = definition.Indexes;
  const int secondaryIndexCount = definition.SecondaryIndexCount;
  TDataTable& table = *table_;
  TIndexFile& index = *table.IndexFile();
  FileRegistry& registry = Session().Engine().Registry();
  const DataEngineOptions& engineOptions = Session().Engine().Options();
  const std::string& dataExtension = engineOptions.TableDataExtension;
  const std::string databaseName = directory_.ErrorDatabaseName();
  ResetDataLoss();
  BeginProgress();

  TempDirectoryScope temp(directory_);
  TDataDirectory& tempDirectory = temp.Directory();
  const bool copyInMemory = tempDirectory.InMemory();
  const std::string tempName = ReserveTempTableName(tempDirectory, registry);
  const auto copyPath = [&](const std::string& extension) {
    return tempDirectory.Path() + TableFileName(tempName, dataExtension, extension);
  };
  const std::string reservation = copyPath(dataExtension);
  struct ReservationScope {
    FileRegistry& registry;
    const std::string& path;
    bool inMemory;
    ~ReservationScope() { DeleteFileQuietly(registry, path, inMemory); }
  } reservationScope{registry, reservation, copyInMemory};
  const std::string indexCopy = copyPath(engineOptions.TableIndexBackupExtension);
  std::vector<std::string> dataCopies;

  // Until the rebuild is complete, the files go back to what they were: the
  // index file from its copy, the data header (which the rebuild rewrites)
  // from its saved bytes, and, once records are to be deleted, the data and
  // BLOB files from theirs. The journal makes that hold across a crash.
  std::optional<ChangeJournal> journal;
  try {
    journal.emplace(directory_, tableName_);
    journal->Add({JournalRemoveFile{reservation}, JournalRemoveFile{indexCopy}});
    {
      TEngineFile copy(registry, indexCopy, copyInMemory);
      copy.FailIfExists = true;
      index.CopyTo(copy, FileCopyOptions{});
      copy.Close();
    }
    // The journal's entry relies on the copy: its bytes are on the disk
    // (the copy flushes them) and so is its name.
    SyncDirectoryOf(registry, indexCopy, copyInMemory);
    journal->Add({JournalRestoreCopy{index.Path(), indexCopy}, HeaderBytes(*table.DataFile())});
  } catch (...) {
    CloseDiscardingChanges();
    if (journal) journal->RecoverQuietly();
    throw;
  }

  try {
    const std::span<const FieldDescriptor> stored = table.DataFile()->Fields();
    const Collation collation = Collation::For(table.DataFile()->LocaleID());
    const auto freeTree = [&](int slot) {
      if (index.RootPage(slot) == 0) return;
      const IndexKeyLayout layout =
          IndexKeyLayout::Make(index.Descriptor(slot), stored, collation, displayName_,
                               databaseName);
      TIndexTree(index, slot, layout, this).DeleteAllPages();
    };
    const auto differs = [&](int slot) {
      return IndexDescriptorsDiffer(index.Descriptor(slot), indexes[static_cast<std::size_t>(slot)],
                                    stored, fields, displayName_, databaseName);
    };
    std::array<bool, kIndexSlotCount> flags{};
    // Slots keep their places: the surplus ones go (highest first), a slot
    // whose definition differs gets the new one with an empty tree, and new
    // slots follow. An index whose definition is unchanged keeps its tree.
    for (int slot = index.SecondaryIndexCount(); slot > secondaryIndexCount; --slot) {
      freeTree(slot);
      index.RemoveIndex(slot, true);
    }
    if (differs(0)) {
      freeTree(0);
      index.RemoveIndex(0, false);
      index.DefinePrimaryIndex(indexes[0], fields);
      flags[0] = true;
    }
    for (int slot = 1; slot <= secondaryIndexCount; ++slot) {
      if (slot > index.SecondaryIndexCount()) {
        index.SetSecondaryIndexCount(slot);
      } else if (differs(slot)) {
        freeTree(slot);
      } else {
        continue;
      }
      index.ReplaceSecondaryIndex(slot, indexes[static_cast<std::size_t>(slot)], fields);
      flags[static_cast<std::size_t>(slot)] = true;
    }
    if (textParamsChanged || differs(static_cast<int>(kFullTextSlot))) {
      freeTree(static_cast<int>(kFullTextSlot));
      index.SetTextIndex(indexes[kFullTextSlot], fields);
      WriteFullTextParams(index, wantedText, this);
      flags[kFullTextSlot] = true;
    }

    // The flagged indexes are built from their sorted keys.
    write_.reset();
    std::vector<int> slots;
    for (int slot = 0; slot < static_cast<int>(kIndexSlotCount); ++slot) {
      if (flags[static_cast<std::size_t>(slot)]) slots.push_back(slot);
    }
    std::vector<std::int32_t> duplicates;
    SortedIndexBuild::Outcome outcome;
    if (!slots.empty()) {
      SortedIndexBuild build(index, Indexes(), slots, registry, SortSettings(tempDirectory));
      std::vector<std::uint8_t> record = NewRecordBuffer();
      std::vector<std::string> textStorage;
      CursorModes sequential = modes_;
      sequential.SequentialScan = true;
      const ModesScope scan(modes_, sequential, this);
      for (std::int32_t n = 1; n <= PhysicalRecordCount(); ++n) {
        if (ReadRecord(n, record)) {
          const std::vector<FieldText> texts =
              flags[kFullTextSlot] ? RecordTexts(record, n, textStorage) : std::vector<FieldText>{};
          build.AddRecord(record, LoadI32(record.data() + record_layout::kId), n, texts);
        }
        StepProgress(n, PhysicalRecordCount());
      }
      // A duplicate key refuses a record; any other failure ends the
      // rebuild with the index file put back from its copy, rather than
      // leave indexes that silently miss records. The refused records are
      // removed only once the rebuild completes: a stop leaves every record
      // where it was.
      outcome = build.Finish();
      ReportRefusedRecords(outcome, index);
      for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
        duplicates.push_back(refused.RecordNumber);
      }
    }
    EndProgress();
    if (!continue_) {
      CloseDiscardingChanges();
      journal->Recover();
      return;
    }
    if (!duplicates.empty()) {
      // Deleting records changes the data and BLOB files: they are copied
      // first.
      std::vector<std::pair<TEngineFile*, std::string>> copies = {
          {table.DataFile(), copyPath(engineOptions.TableDataBackupExtension)}};
      if (table.BlobFile() != nullptr) {
        copies.emplace_back(table.BlobFile(), copyPath(engineOptions.TableBlobBackupExtension));
      }
      for (const auto& [file, path] : copies) {
        journal->Add(JournalRemoveFile{path});
        dataCopies.push_back(path);
        TEngineFile copy(registry, path, copyInMemory);
        copy.FailIfExists = true;
        file->CopyTo(copy, FileCopyOptions{});
        copy.Close();
        SyncDirectoryOf(registry, path, copyInMemory);
        journal->Add(JournalRestoreCopy{file->Path(), path});
      }
    }
    TakeOutRefusedRecords(outcome);
    writeHeader();
    table.Flush();
    table.FlushOsWritten();
    Close();
    journal->Commit();
  } catch (...) {
    CloseDiscardingChanges();
    journal->RecoverQuietly();
    throw;
  }

  for (const std::string& path : dataCopies) DeleteFileQuietly(registry, path, copyInMemory);
  if (suppressBackups) {
    DeleteFileQuietly(registry, indexCopy, copyInMemory);
    return;
  }
  const std::string backup =
      directory_.Path() +
      TableFileName(tableName_, dataExtension, engineOptions.TableIndexBackupExtension);
  TEngineFile old(registry, backup, directory_.InMemory());
  if (old.Exists()) old.Delete();
  TEngineFile(registry, indexCopy, copyInMemory).Rename(backup);
}

SortedBuildSettings TDataCursor::SortSettings(const TDataDirectory& tempDirectory) const {
  SortedBuildSettings settings;
  settings.MemoryBytes = Session().Engine().SortMemory();
  settings.Threads = Session().Engine().BuildThreads();
  settings.TempDirectory = tempDirectory.Path();
  settings.TempInMemory = tempDirectory.InMemory();
  return settings;
}

bool TDataCursor::ReportRefusedRecords(const SortedIndexBuild::Outcome& outcome,
                                       const TIndexFile& index) {
  for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
    ReportDataLoss(dlKeyViolation, index.IndexName(refused.Slot));
    if (!continue_) return false;
  }
  return true;
}

void TDataCursor::TakeOutRefusedRecords(const SortedIndexBuild::Outcome& outcome) {
  for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
    DeleteRecord(refused.RecordNumber);
  }
  TableIndexWriter& writer = Indexes();
  for (const SortedIndexBuild::KeptKey& kept : outcome.Kept) {
    writer.InsertKey(kept.Slot, kept.Key, kept.RecordNumber);
  }
}

void TDataCursor::CloseDiscardingChanges() noexcept {
  if (table_ == nullptr) return;
  write_.reset();  // keys held back go too
  // Nothing of the change is written: the buffers, headers and
  // descriptors go back to what the files hold.
  SetAsideError("discarding changes after a failure; the first error wins", [&] {
    table_->DropCaches(false, true);
    table_->IndexFile()->ReadDescriptors();
  });
  SetAsideError("closing after a failure; the first error wins", [&] { Close(); });
}

}  // namespace strata
