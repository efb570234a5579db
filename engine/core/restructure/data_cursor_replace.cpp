// TDataCursor: a new version of a table built beside it, from an empty
// table of the same structure or from a copy of its files, and then swapped
// in for the table's files through the table journal.
#include <array>
#include <stdexcept>
#include <vector>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/journal/table_swap.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_password.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/restructure/change_journal.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/files/engine_file.h"
#include "engine/formats/full_text_params.h"

namespace strata {

namespace {

// The table read lock of a shared table for the length of a scope (an
// exclusive table takes none: no one else can change it).
class ReadLockScope {
 public:
  explicit ReadLockScope(TDataTable& table) : table_(table) { table_.ReadLockTable(); }
  ~ReadLockScope() {
    SetAsideError("releasing a read lock; the copy's own outcome matters more",
                  [&] { table_.ReadUnlockTable(); });
  }
  ReadLockScope(const ReadLockScope&) = delete;
  ReadLockScope& operator=(const ReadLockScope&) = delete;

 private:
  TDataTable& table_;
};

}  // namespace

void TDataCursor::CreateTableLike(TDataCursor& source, bool keepCounters) {
  source.RequireOpen();
  TDataTable& table = *source.table_;
  TDataFile& data = *table.DataFile();
  TIndexFile& index = *table.IndexFile();
  const DataFileHeader& header = data.Header();

  std::vector<FieldDescriptor> fields(data.Fields().begin(), data.Fields().end());
  std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  for (std::size_t slot = 0; slot < kIndexSlotCount; ++slot) {
    indexes[slot] = index.Descriptor(static_cast<int>(slot));
  }

  TableCreateOptions options;
  options.LocaleID = static_cast<std::int32_t>(header.LocaleID);
  options.UserMajorVersion = header.UserMajorVersion;
  options.UserMinorVersion = header.UserMinorVersion;
  options.Description = header.Description;
  options.IndexPageSize = header.IndexPageSize;
  options.BlobBlockSize = header.BlobBlockSize;
  options.LastAutoIncValue = keepCounters ? header.LastAutoIncValue : -1;
  if (header.Encrypted != 0) {
    // The password that opened the source is one the session holds.
    const CryptoHooks& hooks = Session().Engine().Crypto();
    const TDataPassword* match = nullptr;
    for (const auto& password : source.Session().Passwords()) {
      if (hooks.MatchesPasswordCheck(password->Context(), password->Key(), header.PasswordCheck)) {
        match = password.get();
        break;
      }
    }
    if (match == nullptr) source.Raise(STRATA_NOTSUFFTABLERIGHTS);
    options.Encrypted = true;
    options.Password = match->Text();
  }
  FullTextParams text = ReadFullTextParams(index, &source);
  options.StopWords = std::move(text.StopWords);
  options.SpaceChars = text.SpaceChars;
  options.IncludeChars = text.IncludeChars;
  // A table built to take another's place: the swap's journal covers it,
  // and until then nothing but its builder knows it.
  options.CrashSafe = false;
  options.OverwriteExisting = true;
  CreateTableFiles(options, {fields, indexes, index.SecondaryIndexCount()});

  if (keepCounters && header.LastRecordID != 0) {
    Open();
    table_->DataFile()->SetLastRecordID(header.LastRecordID);
    Close();
  }
}

std::int32_t TDataCursor::CopyTableFilesFrom(TDataCursor& source) {
  if (table_ != nullptr) throw std::logic_error("the cursor's table is open");
  if (modes_.ReadOnly || directory_.ReadOnlyDatabase()) Raise(STRATA_OSEACCES);
  source.RequireOpen();
  TDataTable& table = *source.table_;
  const DataEngineOptions& options = Session().Engine().Options();
  const std::string& dataExtension = options.TableDataExtension;
  const auto target = [&](const std::string& extension) {
    return directory_.Path() + TableFileName(tableName_, dataExtension, extension);
  };
  // A table of this name, and a BLOB file the copy would not replace, go.
  if (directory_.TableExists(tableName_)) directory_.DeleteTable(tableName_);
  TEngineFile staleBlob(Session().Engine().Registry(), target(options.TableBlobExtension),
                        directory_.InMemory());
  if (staleBlob.Exists()) staleBlob.Delete();

  const ReadLockScope lock(table);
  table.DataFile()->CopyTo(target(options.TableDataExtension), FileCopyOptions{});
  table.IndexFile()->CopyTo(target(options.TableIndexExtension), FileCopyOptions{});
  if (table.BlobFile() != nullptr) {
    table.BlobFile()->CopyTo(target(options.TableBlobExtension), FileCopyOptions{});
  }
  return table.DataFile()->Header().ChangeCount;
}

void TDataCursor::ReplaceTableFiles(TDataDirectory& newDirectory, std::string_view newTable) {
  if (table_ != nullptr) throw std::logic_error("the cursor's table is open");
  if (modes_.ReadOnly || directory_.ReadOnlyDatabase()) Raise(STRATA_OSEACCES);
  FileRegistry& registry = Session().Engine().Registry();
  const DataEngineOptions& options = Session().Engine().Options();
  const std::string newName = newDirectory.TableNameFor(newTable);
  const bool newHasBlobs =
      TEngineFile(registry,
                  newDirectory.Path() + TableFileName(newName, options.TableDataExtension,
                                                      options.TableBlobExtension),
                  newDirectory.InMemory())
          .Exists();
  const JournalSwap swap = PlanSwap(newDirectory, newName, newHasBlobs, true);
  const bool inMemory = directory_.InMemory();

  ChangeJournal journal(directory_, tableName_);
  bool staged = false;
  try {
    journal.Add(swap);
    StageSwap(swap, registry, inMemory);
    journal.Add(JournalSwapStaged{});
    staged = true;
    // Finishing the swap syncs the directory once the new files have their
    // names; a journal brought back by a power cut then finds it finished.
    journal.Recover(false);
  } catch (...) {
    if (!staged) {
      journal.RecoverQuietly();
      throw;
    }
    // Past the point where the swap is finished, never undone: one more
    // attempt here, else the next user of the table completes it.
    bool finished = false;
    SetAsideError("one more attempt at finishing the swap; the first error propagates", [&] {
      journal.Recover(false);
      finished = true;
    });
    if (!finished) throw;
  }
}

}  // namespace strata
