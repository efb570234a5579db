#include "tools/import_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/indexing/sorted_index_build.h"
#include "engine/core/locking/data_table_locks.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/index_file.h"
#include "engine/locale/windows1252.h"
#include "platform/process.h"
#include "tools/directory_reference.h"
#include "tools/import_columns.h"
#include "tools/import_source.h"
#include "tools/import_value.h"
#include "tools/progress_line.h"
#include "tools/reject_writer.h"
#include "update/run_folder.h"

namespace strata::tools {

namespace {

// Refusals listed when nothing is imported, the first in input order.
constexpr std::size_t kListedRefusals = 20;

ImportFormat FormatOf(const ImportRequest& request) {
  std::string name = request.Format;
  if (name.empty()) {
    std::string extension = std::filesystem::path(request.File).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".csv") return ImportFormat::Csv;
    if (extension == ".json") return ImportFormat::Json;
    if (extension == ".jsonl" || extension == ".ndjson") return ImportFormat::JsonLines;
    if (extension == ".db" || extension == ".sqlite" || extension == ".sqlite3" ||
        extension == ".db3") {
      return ImportFormat::Sqlite;
    }
    throw std::invalid_argument(
        "cannot tell the format of '" + request.File +
        "' from its extension; --format csv, json, jsonl or sqlite says it");
  }
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name == "csv") return ImportFormat::Csv;
  if (name == "json") return ImportFormat::Json;
  if (name == "jsonl") return ImportFormat::JsonLines;
  if (name == "sqlite") return ImportFormat::Sqlite;
  throw std::invalid_argument("unknown format '" + request.Format +
                              "' (csv, json, jsonl or sqlite)");
}

std::unique_ptr<ImportSource> OpenSource(const ImportRequest& request, ImportFormat format) {
  switch (format) {
    case ImportFormat::Csv: return OpenCsvSource(request.File, request.NullText);
    case ImportFormat::Json: return OpenJsonSource(request.File, false);
    case ImportFormat::JsonLines: return OpenJsonSource(request.File, true);
    case ImportFormat::Sqlite:
      return OpenSqliteSource(request.File,
                              request.FromTable.empty() ? request.Table : request.FromTable);
  }
  return nullptr;
}

std::string Utf8Name(std::string_view name) { return Windows1252ToUtf8(name); }

// The refusals of an import: each goes to the rejects file when there is
// one; the first ones in input order are kept for the listing.
class Refusals {
 public:
  explicit Refusals(RejectWriter* writer) : writer_(writer) {}

  // field: the field's name (UTF-8), empty when the reason is about the row.
  void Add(const SourceRow& row, std::string_view field, const std::string& reason) {
    ++count_;
    const std::string text = ImportSource::Where(row) +
                             (field.empty() ? ": " : ", field '" + std::string(field) + "': ") +
                             reason;
    if (writer_ != nullptr) writer_->Row(row, text);
    // Rows come in input order, but the duplicate keys found at the end
    // follow the others: the listing keeps the first ones of both.
    listed_.push_back({row.Ordinal, text});
    std::sort(listed_.begin(), listed_.end());
    if (listed_.size() > kListedRefusals) listed_.pop_back();
  }
  std::int64_t Count() const { return count_; }

  // One line each, and a count of the rest.
  void List(std::ostream& stream) const {
    for (const auto& [ordinal, text] : listed_) stream << "  " << text << '\n';
    if (count_ > static_cast<std::int64_t>(listed_.size())) {
      stream << "  ... and " << count_ - static_cast<std::int64_t>(listed_.size()) << " more\n";
    }
  }

 private:
  RejectWriter* writer_;
  std::int64_t count_ = 0;
  std::vector<std::pair<std::int64_t, std::string>> listed_;
};

// The new version of the table, in the scratch folder until it takes the
// table's place; removed again otherwise.
class NewVersion {
 public:
  explicit NewVersion(TDataDirectory& directory)
      : directory_(directory),
        name_(directory.MakeTempTableName()),
        cursor_(directory, name_, CursorModes{.Exclusive = true}) {}
  ~NewVersion() {
    if (placed_) return;
    SetAsideError("removing an import's unused table; the import's own outcome matters more",
                  [&] { cursor_.Close(); });
    SetAsideError("removing an import's unused table; the import's own outcome matters more", [&] {
      if (directory_.TableExists(name_)) directory_.DeleteTable(name_);
    });
  }
  NewVersion(const NewVersion&) = delete;
  NewVersion& operator=(const NewVersion&) = delete;

  TDataCursor& Cursor() { return cursor_; }
  const std::string& Name() const { return name_; }
  void Placed() { placed_ = true; }

 private:
  TDataDirectory& directory_;
  std::string name_;
  TDataCursor cursor_;
  bool placed_ = false;
};

// The table's transaction lock, held while the import reads and builds, so
// that writers of other programs wait instead of changing the table under
// it (readers are not held up).
class WritersWait {
 public:
  explicit WritersWait(TDataTable& table) : entry_(table.LockEntry()) {
    if (entry_ != nullptr) entry_->TransLock();
    // A writer may have finished between the opening and the lock.
    table.CheckForChanges();
  }
  ~WritersWait() { Release(); }
  WritersWait(const WritersWait&) = delete;
  WritersWait& operator=(const WritersWait&) = delete;

  void Release() noexcept {
    if (entry_ == nullptr) return;
    SetAsideError("releasing the transaction lock; closing the table releases it too",
                  [&] { entry_->TransUnlock(); });
    entry_ = nullptr;
  }

 private:
  TDataTableLocks* entry_;
};

bool IsRecordLevelError(std::uint16_t code) {
  return code == STRATA_KEYVIOL || code == STRATA_MINVALERR || code == STRATA_MAXVALERR ||
         code == STRATA_REQDERR;
}

std::string IndexShown(std::string_view name) {
  return name.empty() || name == kPrimaryIndexErrorName ? "the primary index"
                                                        : "index '" + Utf8Name(name) + "'";
}

// Why the engine refused a row; field: the field it names, if any.
std::string RefusalOf(const EStrataEngineError& error, const TDataCursor& target,
                      const SourceRow& row, const std::vector<std::uint16_t>& positions,
                      std::string& field) {
  field.clear();
  if (error.Code == STRATA_KEYVIOL) return "a duplicate key in " + IndexShown(error.IndexName);
  field = Utf8Name(error.FieldName);
  if (error.Code == STRATA_REQDERR) return "a value is required";
  const FieldDescriptor* descriptor = nullptr;
  std::uint16_t position = 0;
  for (std::size_t i = 0; i < target.Fields().size(); ++i) {
    if (target.Fields()[i].Name == error.FieldName) {
      descriptor = &target.Fields()[i];
      position = static_cast<std::uint16_t>(i + 1);
    }
  }
  std::string value = "its default";
  for (std::size_t i = 0; i < positions.size() && i < row.Values.size(); ++i) {
    if (positions[i] == position && position != 0) value = ValueImporter::Shown(row.Values[i]);
  }
  const bool below = error.Code == STRATA_MINVALERR;
  const std::string limit =
      descriptor == nullptr ? ""
                            : " " + Utf8Name(below ? descriptor->MinValue : descriptor->MaxValue);
  return value + (below ? " is below the minimum" : " is above the maximum") + limit;
}

// Slots of the table's indexes that a sorted build fills: the primary and
// secondary indexes, and the full-text index when it indexes fields.
std::vector<int> IndexSlots(const TIndexFile& index) {
  std::vector<int> slots;
  for (int slot = 0; slot <= index.SecondaryIndexCount(); ++slot) slots.push_back(slot);
  const IndexDescriptor& text = index.Descriptor(kFullTextSlot);
  if (text.FullText != 0 && text.FieldCount > 0) slots.push_back(static_cast<int>(kFullTextSlot));
  return slots;
}

// Takes the table exclusively for a moment once every reader has let go,
// and refuses when another program changed it since the import read it.
void RequireUnchanged(TDataSession& session, TDataDirectory& directory, const std::string& table,
                      const std::string& shown, std::int32_t changeCount) {
  for (std::int32_t attempt = 0;; ++attempt) {
    TDataCursor check(directory, table, CursorModes{.Exclusive = true});
    try {
      check.Open();
    } catch (const EStrataEngineError& error) {
      if (error.Code != STRATA_OSEACCES || attempt >= session.LockRetryCount()) throw;
      platform::SleepMilliseconds(session.LockWaitTime());
      continue;
    }
    const std::int32_t now = check.Table()->DataFile()->Header().ChangeCount;
    check.Close();
    if (now != changeCount) {
      throw ImportError("another program changed the table '" + shown +
                        "' while the import ran; nothing was imported");
    }
    return;
  }
}

}  // namespace

int RunImport(TDataSession& session, const ImportRequest& request, std::ostream& out,
              std::ostream& err, std::ostream* progress) {
  const ImportFormat format = FormatOf(request);
  if (request.Mode != "append" && request.Mode != "replace") {
    throw std::invalid_argument("unknown mode '" + request.Mode + "' (append or replace)");
  }
  if (request.NullText && format != ImportFormat::Csv) {
    throw std::invalid_argument("--null is for CSV input only");
  }
  if (!request.FromTable.empty() && format != ImportFormat::Sqlite) {
    throw std::invalid_argument("--from-table is for SQLite input only");
  }
  std::unique_ptr<ImportSource> source = OpenSource(request, format);

  // Interrupted changes of the folder are finished or undone first; the new
  // version of the table is built in the run's scratch folder.
  const RunFolder run(request.Folder);
  DirectoryReference data(session, request.Folder, true);
  const std::string table = Utf8ToWindows1252(request.Table);
  TDataCursor original(*data, table);
  original.Open(true);
  if (original.ReadOnly() && !request.DryRun) {
    throw ImportError("the table '" + request.Table + "' is read-only; nothing was imported");
  }
  std::optional<WritersWait> writersWait(std::in_place, *original.Table());
  std::int32_t changeCount = original.Table()->DataFile()->Header().ChangeCount;

  const ColumnMatcher matcher(original.Fields(), request.Table, request.Fields);
  std::vector<std::uint16_t> positions;
  std::string reason;
  if (format != ImportFormat::Json && format != ImportFormat::JsonLines) {
    const std::vector<std::string_view> names(source->Columns().begin(), source->Columns().end());
    if (!matcher.Match(names, positions, reason)) {
      throw ImportError("'" + request.File + "': " + reason + "; nothing was imported");
    }
  }

  DirectoryReference scratch(session, session.PrivateDirectory(), true);
  NewVersion version(*scratch);
  TDataCursor& target = version.Cursor();
  const bool replace = request.Mode == "replace";
  // An empty table (or one emptied by replace) is filled without a key
  // lookup per row: the indexes are built from the sorted keys at the end.
  const bool fresh = replace || original.Table()->DataFile()->Header().RecordCount == 0;
  if (fresh) {
    target.CreateTableLike(original, !replace);
  } else {
    changeCount = target.CopyTableFilesFrom(original);
  }
  target.Open();
  const TIndexFile& index = *target.Table()->IndexFile();
  std::optional<SortedIndexBuild> build;
  if (fresh) {
    build.emplace(*target.Table()->IndexFile(), target.Indexes(), IndexSlots(index),
                  session.Engine().Registry(), target.SortSettingsHere());
    target.DeferKeys(&*build);
  }

  std::unique_ptr<RejectWriter> writer;
  if (request.Rejects && !request.DryRun) writer = MakeRejectWriter(*request.Rejects, *source, out);
  Refusals refusals(writer.get());
  ValueImporter importer(target);
  ProgressLine line(progress);
  const std::string shownProgress = "importing " + request.Table;
  std::uint16_t shownPercent = 0;

  // Rows refused before they reached the table, by ordinal: the rows that
  // went in are the table's records 1, 2, ... in input order.
  std::vector<std::int64_t> refusedEarly;
  std::vector<std::string> cachedNames;
  std::vector<std::uint16_t> rowPositions;
  std::vector<std::uint8_t> record = target.NewRecordBuffer();
  std::int64_t rows = 0;
  SourceRow row;
  std::string field;
  const auto refuse = [&](const std::string& why) {
    refusals.Add(row, field, why);
    if (fresh) refusedEarly.push_back(row.Ordinal);
    target.FreeBlobs();
  };
  while (source->Next(row)) {
    ++rows;
    if (const std::uint16_t percent = source->Percent(); percent != shownPercent) {
      line.Show(shownProgress, shownPercent = percent);
    }
    field.clear();
    if (!row.Problem.empty()) {
      refuse(row.Problem);
      continue;
    }
    const std::vector<std::uint16_t>* columns = &positions;
    if (format == ImportFormat::Json || format == ImportFormat::JsonLines) {
      // Objects of one file mostly name the same members in the same order.
      const bool same = row.Names.size() == cachedNames.size() &&
                        std::equal(row.Names.begin(), row.Names.end(), cachedNames.begin());
      if (!same) {
        cachedNames.assign(row.Names.begin(), row.Names.end());
        if (!matcher.Match(row.Names, rowPositions, reason)) {
          cachedNames.clear();
          refuse(reason);
          continue;
        }
      }
      columns = &rowPositions;
    }
    target.ApplyDefaults(record);
    bool converted = true;
    for (std::size_t i = 0; i < columns->size() && converted; ++i) {
      const std::uint16_t position = (*columns)[i];
      if (position == 0) continue;
      if (!importer.Set(record, position, row.Values[i], reason)) {
        field = Utf8Name(target.Fields()[position - 1u].Name);
        converted = false;
      }
    }
    if (!converted) {
      refuse(reason);
      continue;
    }
    try {
      target.InsertRecord(record);
    } catch (const EStrataEngineError& error) {
      // A failure about the table rather than this row ends the import.
      if (!IsRecordLevelError(error.Code)) throw;
      refuse(RefusalOf(error, target, row, *columns, field));
    }
  }
  line.Clear();

  // Duplicate keys among the rows of a sorted build show at its end: the
  // later rows of a key are refused, and their lines found by reading the
  // input once more.
  if (build) {
    target.DeferKeys(nullptr);
    const SortedIndexBuild::Outcome outcome = build->Finish();
    build.reset();
    if (!outcome.Refused.empty()) {
      std::vector<std::pair<std::int64_t, std::string>> late;
      std::size_t skipped = 0;
      for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
        std::int64_t ordinal = refused.RecordNumber;
        while (skipped < refusedEarly.size() &&
               refusedEarly[skipped] <= ordinal + static_cast<std::int64_t>(skipped)) {
          ++skipped;
        }
        ordinal += static_cast<std::int64_t>(skipped);
        late.emplace_back(ordinal,
                          "a duplicate key in " + IndexShown(index.IndexName(refused.Slot)));
      }
      if (writer) {
        // The kept table loses the refused records.
        for (const SortedIndexBuild::RefusedRecord& refused : outcome.Refused) {
          target.DeleteRecord(refused.RecordNumber);
        }
        TableIndexWriter& keys = target.Indexes();
        for (const SortedIndexBuild::KeptKey& kept : outcome.Kept) {
          keys.InsertKey(kept.Slot, kept.Key, kept.RecordNumber);
        }
      }
      std::unique_ptr<ImportSource> again = OpenSource(request, format);
      std::size_t next = 0;
      while (next < late.size() && again->Next(row)) {
        if (row.Ordinal != late[next].first) continue;
        refusals.Add(row, {}, late[next].second);
        ++next;
      }
    }
  }

  const std::int64_t refused = refusals.Count();
  const std::int64_t accepted = rows - refused;
  if (request.DryRun) {
    out << "Would import " << accepted << (accepted == 1 ? " row" : " rows") << " into "
        << request.Table << "; " << refused << (refused == 1 ? " row" : " rows")
        << " would be refused" << (refused > 0 ? ":" : ".") << '\n';
    refusals.List(out);
    return refused > 0 ? 1 : 0;
  }
  if (refused > 0 && !writer) {
    err << "Refused rows of '" << request.File << "':\n";
    refusals.List(err);
    throw ImportRefused(std::to_string(refused) + " of " + std::to_string(rows) +
                        " rows refused; nothing was imported (with --rejects FILE the other "
                        "rows go in and the refused ones are written to FILE)");
  }

  // Every byte of the new version is on the disk before it takes the
  // table's place.
  target.Table()->Flush();
  target.Table()->FlushOs();
  target.Close();
  writersWait->Release();
  writersWait.reset();
  original.Close();
  RequireUnchanged(session, *data, table, request.Table, changeCount);
  TDataCursor(*data, table).ReplaceTableFiles(*scratch, version.Name());
  version.Placed();
  if (writer) writer->Commit();

  out << "Imported " << accepted << (accepted == 1 ? " row" : " rows") << " into " << request.Table;
  if (writer) {
    out << "; " << refused << (refused == 1 ? " row" : " rows") << " refused, written to "
        << *request.Rejects;
  }
  out << ".\n";
  return refused > 0 ? 1 : 0;
}

}  // namespace strata::tools
