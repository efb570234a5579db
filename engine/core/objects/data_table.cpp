#include "engine/core/objects/data_table.h"

#include <cerrno>
#include <exception>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/schema/table_names.h"
#include "engine/errors/engine_error.h"
#include "engine/errors/set_aside.h"
#include "engine/formats/record_values.h"
#include "engine/values/field_types.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/process.h"

namespace strata {

namespace {

constexpr TableFileKind kFileKinds[] = {TableFileKind::Data, TableFileKind::Index,
                                        TableFileKind::Blob};

// Runs every step, then rethrows the first failure.
class FirstFailure {
 public:
  template <typename Step>
  void Run(Step&& step) {
    KeepFirstError(failure_, step);
  }
  void Rethrow() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
};

}  // namespace

TDataTable::TDataTable(TDataDirectory& directory, std::string name, std::string displayName,
                       bool exclusive, bool temporary, bool readOnly)
    : directory_(directory),
      name_(std::move(name)),
      displayName_(std::move(displayName)),
      exclusive_(exclusive),
      readOnly_(readOnly),
      requestReadOnly_(readOnly),
      temporary_(temporary) {}

TDataTable::~TDataTable() { CloseForGood(); }

TDataSession& TDataTable::Session() const { return directory_.Session(); }
TDataEngine& TDataTable::Engine() const { return directory_.Engine(); }
bool TDataTable::InMemory() const { return directory_.InMemory(); }

void TDataTable::Raise(std::uint16_t code) const {
  RaiseTableError(code, ErrorTableName(), ErrorDatabaseName());
}

bool TDataTable::LocksDisabled() const {
  return directory_.Locks() == nullptr || directory_.Locks()->Disabled();
}

std::string TDataTable::Extension(TableFileKind kind, bool backup) const {
  const DataEngineOptions& options = Engine().Options();
  switch (kind) {
    case TableFileKind::Data:
      return backup ? options.TableDataBackupExtension
                    : (temporary_ ? options.TableDataTempExtension : options.TableDataExtension);
    case TableFileKind::Index:
      return backup ? options.TableIndexBackupExtension
                    : (temporary_ ? options.TableIndexTempExtension : options.TableIndexExtension);
    case TableFileKind::Blob:
      break;
  }
  return backup ? options.TableBlobBackupExtension
                : (temporary_ ? options.TableBlobTempExtension : options.TableBlobExtension);
}

std::string TDataTable::FilePath(TableFileKind kind) const {
  return directory_.Path() +
         TableFileName(name_, Engine().Options().TableDataExtension, Extension(kind, false));
}

// ---------------------------------------------------------------------------
// TableFileOwner

bool TDataTable::ForceBufferFlush() const { return Session().ForceBufferFlush(); }
bool TDataTable::StrictChangeDetection() const { return Session().StrictChangeDetection(); }

bool TDataTable::ReadLockForCacheMiss(TDataCursor* /*cursor*/) { return !ReadLockTable(); }

std::string TDataTable::ErrorTableName() const {
  return displayName_.empty() ? name_ : displayName_;
}

std::string TDataTable::ErrorDatabaseName() const { return directory_.ErrorDatabaseName(); }
const EngineLimits& TDataTable::Limits() const { return Engine().Limits(); }
const Digest& TDataTable::SignatureDigest() const { return Engine().SignatureDigest(); }
const CompressionHooks& TDataTable::Compression() const { return Engine().Compression(); }

// ---------------------------------------------------------------------------
// Opening and closing

void TDataTable::SetOpenMode(bool exclusive, bool temporary) {
  exclusive_ = exclusive;
  temporary_ = temporary;
}

void TDataTable::Open(bool uncounted, bool verifyHeaders, bool rebuildLostIndex) {
  if (!uncounted) ++openCount_;
  if (isOpen_) return;
  const TDataSession& session = directory_.Session();
  // Another program changing the table, or using it while this one wants
  // it exclusively, is waited for as a refused lock is.
  for (std::int32_t attempt = 0;; ++attempt) {
    try {
      OpenOnce(verifyHeaders, rebuildLostIndex);
      return;
    } catch (const EStrataEngineError&) {
      if (attempt >= session.LockRetryCount() || !HeldByAnotherUser()) {
        if (!uncounted && openCount_ > 0) --openCount_;
        throw;
      }
    } catch (...) {
      if (!uncounted && openCount_ > 0) --openCount_;
      throw;
    }
    platform::SleepMilliseconds(session.LockWaitTime());
  }
}

void TDataTable::OpenOnce(bool verifyHeaders, bool rebuildLostIndex) {
  indexRecreated_ = false;
  lostIndex_ = LostIndexFile::None;
  lostIndexKeptAs_.clear();
  isOpen_ = true;
  try {
    // A reader never opens a table in the middle of a change: before, and
    // again once it holds the files (a swap may have begun in between; it
    // cannot go on while they are held).
    RefuseChangedTable();
    OpenFiles(verifyHeaders, rebuildLostIndex);
    RefuseChangedTable();
  } catch (...) {
    ReleaseLocks();
    SetAsideError("cleanup after a failure; the first error wins", [&] { CloseFiles(); });
    lockEntry_ = nullptr;
    cipher_.reset();
    indexRecreated_ = false;
    isOpen_ = false;
    throw;
  }
}

void TDataTable::RefuseChangedTable() const {
  if (!directory_.ReadOnlyDatabase() || InMemory()) return;
  const JournalState state = directory_.ChangeState(name_);
  if (state == JournalState::InProgress || state == JournalState::Interrupted) {
    RaiseTableError(STRATA_OSEACCES, directory_.JournalPath(name_));
  }
}

bool TDataTable::HeldByAnotherUser() const {
  if (InMemory()) return false;
  // The journal of a change under way is held by its writer; whatever a
  // reader met then (a file renamed away, a header half written) may be gone
  // once the change is over.
  if (directory_.ReadOnlyDatabase() && directory_.ChangeState(name_) == JournalState::InProgress) {
    return true;
  }
  // A share lock another program holds refuses the open this one asks for.
  platform::FileSystem& files = Engine().Files();
  for (const TableFileKind kind : kFileKinds) {
    platform::SetLastErrorNumber(0);
    const platform::OpenRequest request{.exclusive = exclusive_, .readOnly = true};
    platform::OpenedFile probe = files.Open(FilePath(kind), request);
    if (probe.handle) {
      probe.handle->Close();
    } else if (platform::LastErrorNumber() == EAGAIN) {
      return true;
    }
  }
  return false;
}

void TDataTable::OpenFiles(bool verifyHeaders, bool rebuildLostIndex) {
  FileRegistry& registry = Engine().Registry();
  readOnly_ = requestReadOnly_;
  forcedReadOnly_ = false;
  data_ = std::make_unique<TDataFile>(registry, FilePath(TableFileKind::Data), InMemory(), *this);
  data_->Exclusive = exclusive_;
  data_->ReadOnly = readOnly_;
  data_->OnPasswordCheck = [this](const DataFileHeader& header) { CheckPassword(header); };
  data_->Open();
  OpenIndexFile(verifyHeaders, rebuildLostIndex);
  if (data_->BlobFieldCount() > 0) OpenBlobFile(verifyHeaders);
  readOnly_ = data_->ReadOnly || index_->ReadOnly || (blob_ && blob_->ReadOnly);
  forcedReadOnly_ =
      data_->ForcedReadOnly || index_->ForcedReadOnly || (blob_ && blob_->ForcedReadOnly);
  if (forcedReadOnly_) readOnly_ = true;
  TDataDirectoryLocks* locks = directory_.Locks();
  lockEntry_ = exclusive_ || forcedReadOnly_ || locks == nullptr ? nullptr : &locks->EntryFor(name_);
  ReadHeaders(verifyHeaders);
}

void TDataTable::OpenBlobFile(bool verifyHeaders) {
  const auto open = [&](std::int32_t blockSize) {
    if (blob_) {
      blob_->Close();
      blob_.reset();
    }
    blob_ = std::make_unique<TBlobFile>(Engine().Registry(), FilePath(TableFileKind::Blob),
                                        InMemory(), *this, blockSize);
    blob_->Exclusive = exclusive_;
    blob_->ReadOnly = readOnly_;
    blob_->Open();
  };
  if (verifyHeaders) {
    open(data_->CheckedBlobBlockSize());
    return;
  }
  const std::int32_t usable = data_->UsableBlobBlockSize();
  open(usable);
  // The size the file's length and its block count give, when it is
  // another one that a file can have.
  const std::int64_t blocks = std::int64_t{blob_->Header().NextBlockNumber} - 1;
  const std::int64_t bytes = blob_->GetFileSize() - static_cast<std::int64_t>(kBlobHeaderSize);
  if (blocks < 1 || bytes <= 0 || bytes % blocks != 0) return;
  const std::int64_t fitted = bytes / blocks;
  if (fitted == usable || fitted < 64 || fitted > 65536 || fitted % 8 != 0) return;
  // A size out of range is the header's damage. Otherwise either the size
  // or the block count is damaged: the size under which the values' first
  // blocks carry their revisions is the file's. Read with any other, every
  // value would be lost.
  const auto other = static_cast<std::int32_t>(fitted);
  if (usable != data_->Header().BlobBlockSize) {
    open(other);
    return;
  }
  const int withHeaderSize = FirstBlocksThatMatch();
  open(other);
  if (FirstBlocksThatMatch() > withHeaderSize) return;
  open(usable);
}

int TDataTable::FirstBlocksThatMatch() {
  constexpr int kProbes = 16;
  constexpr std::int32_t kSlots = 1000;
  int probed = 0;
  int matches = 0;
  try {
    for (std::int32_t slot = 1; slot <= std::min(data_->UnitCount(), kSlots) && probed < kProbes;
         ++slot) {
      BufferPin pin;
      if (!data_->GetBuffer(nullptr, TBufferedFile::kNoDirection, false, slot, pin)) break;
      const TRecord& record = TDataFile::RecordOf(pin);
      if (record.Deleted()) continue;
      const auto image = record.Image();
      for (const FieldDescriptor& field : data_->Fields()) {
        if (field.EngineType != kTypeBlob ||
            field.PhysicalSize < record_layout::kBlobReferenceSize ||
            field.FieldOffset + record_layout::kNullFlagSize + field.PhysicalSize > image.size() ||
            image[field.FieldOffset] != 1) {
          continue;
        }
        const BlobReference reference = ReadBlobReference(image, field);
        if (reference.FirstBlock < 1 || reference.FirstBlock > blob_->UnitCount()) continue;
        ++probed;
        BufferPin block;
        if (blob_->GetBuffer(nullptr, TBufferedFile::kNoDirection, false, reference.FirstBlock,
                             block)) {
          const BlockHeader& header = TBlobFile::BlockOf(block).Header();
          if (header.BlobRevision == reference.Revision && header.BlobLength > 0) ++matches;
        }
      }
    }
  } catch (const EStrataEngineError&) {
    // A slot or block that cannot be read ends the count: what was counted
    // decides.
  }
  return matches;
}

void TDataTable::OpenIndexFile(bool verifyHeaders, bool rebuildLostIndex) {
  const std::string path = FilePath(TableFileKind::Index);
  // Verification and repair read the index with a usable size; its trees
  // are rebuilt when the header's was not.
  index_ = std::make_unique<TIndexFile>(
      Engine().Registry(), path, InMemory(), *this,
      verifyHeaders ? data_->CheckedIndexPageSize() : data_->UsableIndexPageSize());
  index_->Exclusive = exclusive_;
  index_->ReadOnly = readOnly_;
  try {
    index_->Open();
  } catch (const EStrataEngineError& error) {
    if (!LosesIndexFile(error.Code)) throw;
    // Named by its path: the message must point at the file that is lost.
    if (!rebuildLostIndex) RaiseTableError(error.Code, path, ErrorDatabaseName());
    if (error.Code == STRATA_OSENOENT) {
      lostIndex_ = LostIndexFile::Missing;
    } else {
      lostIndex_ = LostIndexFile::Unreadable;
      KeepLostIndexAside(path);
    }
    RecreateIndexFile();
  }
}

void TDataTable::KeepLostIndexAside(const std::string& path) {
  if (InMemory()) return;
  platform::FileSystem& files = Directory().Engine().Files();
  std::string target = path + ".damaged~";
  for (int n = 2; files.FileExists(target); ++n) {
    target = path + ".damaged-" + std::to_string(n) + "~";
  }
  if (!files.Rename(path, target)) RaiseTableError(RecordOsError(), path, ErrorDatabaseName());
  lostIndexKeptAs_ = target;
}

void TDataTable::RecreateIndexFile() {
  indexRecreated_ = true;
  // The new file is made whole under a name of its own and only then takes
  // the index file's name, which is made durable: a crash or a power cut
  // leaves no index file (the next repair makes it again) or a whole one,
  // never a header half written that no repair could read.
  const std::string path = FilePath(TableFileKind::Index);
  const std::string building = path + ".repair~";
  FileRegistry& registry = Engine().Registry();
  {
    TEngineFile stale(registry, building, InMemory());
    if (stale.Exists()) stale.Delete();
  }
  index_ = std::make_unique<TIndexFile>(registry, building, InMemory(), *this,
                                        data_->CheckedIndexPageSize());
  index_->CreateNew();
  try {
    index_->DefinePrimaryIndex(TIndexFile::DefaultPrimaryDescriptor(), data_->Fields());
    index_->SetTextIndex(TIndexFile::EmptyTextDescriptor(), data_->Fields());
    index_->WriteHeader(true);
    index_->Flush();
    index_->Close();
    index_->Rename(path);
    platform::FileSystem& files = Directory().Engine().Files();
    if (!InMemory() && !files.SyncDirectory(Directory().Path())) {
      RaiseTableError(RecordOsError(), Directory().Path(), ErrorDatabaseName());
    }
  } catch (...) {
    SetAsideError("a release after a failure; the failure is what the caller sees",
                  [&] { index_->Close(); });
    throw;
  }
  index_->Exclusive = exclusive_;
  index_->ReadOnly = readOnly_;
  index_->Open();
}

void TDataTable::ReadHeaders(bool verifyHeaders) {
  const bool locked = lockEntry_ != nullptr && lockEntry_->ReadLock();
  try {
    data_->ReadHeader();
    index_->ReadHeader();
    if (blob_) blob_->ReadHeader();
    if (verifyHeaders) {
      data_->VerifyHeader();
      if (!indexRecreated_) index_->VerifyHeader(data_->Fields());
      if (blob_) blob_->VerifyHeader();
    }
  } catch (...) {
    if (locked) {
      SetAsideError("a release after a failure; the failure is what the caller sees",
                    [&] { lockEntry_->ReadUnlock(); });
    }
    throw;
  }
  if (locked) lockEntry_->ReadUnlock();
}

void TDataTable::CheckPassword(const DataFileHeader& header) {
  TDataSession& session = Session();
  const CryptoHooks& hooks = Engine().Crypto();
  for (;;) {
    for (const auto& password : session.Passwords()) {
      if (hooks.MatchesPasswordCheck(password->Context(), password->Key(), header.PasswordCheck)) {
        UsePassword(password->Context());
        return;
      }
    }
    // Without a match the data file refuses the table (STRATA_NOTSUFFTABLERIGHTS).
    if (!session.OnPassword || !session.OnPassword()) return;
  }
}

void TDataTable::UsePassword(CipherContext& context) { cipher_.emplace(Engine().Crypto(), context); }

void TDataTable::Close(bool forceOsFlush, bool uncounted) {
  if (!isOpen_) return;
  if (!uncounted && openCount_ > 0) --openCount_;
  if (inTransaction_ || openCount_ > 0) return;
  if (!uncounted && directory_.KeepTablesOpen() && !exclusive_) return;
  FirstFailure failure;
  if (exclusive_ && !readOnly_) {
    failure.Run([&] {
      if (temporary_) {
        DropCaches(true, false);
      } else {
        Flush(true, {}, forceOsFlush);
      }
    });
  }
  ReleaseLocks();
  failure.Run([&] { CloseFiles(); });
  lockEntry_ = nullptr;
  cipher_.reset();
  indexRecreated_ = false;
  modified_ = false;
  isOpen_ = false;
  failure.Rethrow();
}

void TDataTable::CloseForGood() noexcept {
  inTransaction_ = false;
  openCount_ = 0;
  SetAsideError("closing a table for good; it goes whatever fails",
                [&] { Close(false, true); });
  ReleaseLocks();
  SetAsideError("closing a table for good; it goes whatever fails", [&] { CloseFiles(); });
  isOpen_ = false;
}

void TDataTable::CloseFiles() {
  FirstFailure failure;
  if (index_) failure.Run([&] { index_->Close(); });
  if (blob_) failure.Run([&] { blob_->Close(); });
  if (data_) failure.Run([&] { data_->Close(); });
  index_.reset();
  blob_.reset();
  data_.reset();
  failure.Rethrow();
}

void TDataTable::ReleaseLocks() noexcept {
  constexpr std::string_view kEach =
      "releasing everything; one release that fails must not keep the others";
  SetAsideError(kEach, [&] { UnlockAllRecords(true); });
  SetAsideError(kEach, [&] { UnlockAllRecords(false); });
  tableLocked_ = false;
  unlockDeferred_ = false;
  // Most tables hold no semaphore: the walk over every slot is skipped then.
  if (lockedSemaphores_.any()) {
    for (std::int32_t s = 1; s <= LockOffsets::kSemaphoreCount; ++s) {
      if (lockedSemaphores_[static_cast<std::size_t>(s)]) UnlockSemaphore(s);
    }
    lockedSemaphores_.reset();
  }
  if (lockEntry_ != nullptr) lockEntry_->ReleaseAll();
}

// ---------------------------------------------------------------------------
// Creating, deleting, renaming and emptying files

void TDataTable::CreateFiles(const TableStructure& structure) {
  if (isOpen_) Raise(STRATA_OSEACCES);
  FileRegistry& registry = Engine().Registry();
  exclusive_ = true;
  readOnly_ = false;
  forcedReadOnly_ = false;
  indexRecreated_ = false;
  try {
    TableInfo info = structure.Info;
    info.PasswordCheck = {};
    if (info.Encrypted) {
      TDataSession& session = Session();
      session.AddPassword(structure.Password);
      const TDataPassword* password = session.FindPassword(structure.Password);
      while (password == nullptr) {
        if (!session.OnPassword || !session.OnPassword()) Raise(STRATA_NOTSUFFTABLERIGHTS);
        password = session.FindPassword(structure.Password);
      }
      info.PasswordCheck = Engine().Crypto().PasswordCheck(password->Context(), password->Key());
      UsePassword(password->Context());
    }
    data_ = std::make_unique<TDataFile>(registry, FilePath(TableFileKind::Data), InMemory(), *this);
    data_->CreateNew();
    data_->SetTableInfo(info);
    data_->SetStructure(structure.Fields);
    data_->WriteDescriptors();
    data_->WriteHeader(true);

    index_ = std::make_unique<TIndexFile>(registry, FilePath(TableFileKind::Index), InMemory(),
                                          *this, data_->CheckedIndexPageSize());
    index_->CreateNew();
    index_->DefinePrimaryIndex(structure.Indexes[0], data_->Fields());
    for (int slot = 1; slot <= structure.SecondaryIndexCount; ++slot) {
      index_->AddSecondaryIndex(structure.Indexes[static_cast<std::size_t>(slot)], data_->Fields());
    }
    index_->SetTextIndex(structure.Indexes[kFullTextSlot], data_->Fields());
    index_->WriteHeader(true);

    if (data_->BlobFieldCount() > 0) {
      blob_ = std::make_unique<TBlobFile>(registry, FilePath(TableFileKind::Blob), InMemory(),
                                          *this, data_->CheckedBlobBlockSize());
      blob_->CreateNew();
      blob_->WriteHeader(true);
    } else {
      // A table without BLOB fields never opens a BLOB file; a stale one
      // would only mislead.
      TEngineFile stale(registry, FilePath(TableFileKind::Blob), InMemory());
      if (stale.Exists()) stale.Delete();
    }
  } catch (...) {
    SetAsideError("cleanup after a failure; the first error wins", [&] { CloseFiles(); });
    DeleteFilesQuietly();
    cipher_.reset();
    throw;
  }
  lockEntry_ = nullptr;
  isOpen_ = true;
  ++openCount_;
}

void TDataTable::DeleteFilesQuietly() noexcept {
  for (const TableFileKind kind : kFileKinds) {
    SetAsideError("deleting a table's files quietly; each file is tried", [&] {
      TEngineFile file(Engine().Registry(), FilePath(kind), InMemory());
      if (file.Exists()) file.Delete();
    });
  }
}

void TDataTable::DeleteFiles() {
  FileRegistry& registry = Engine().Registry();
  TEngineFile data(registry, FilePath(TableFileKind::Data), InMemory());
  data.Delete();
  for (const TableFileKind kind : {TableFileKind::Index, TableFileKind::Blob}) {
    TEngineFile file(registry, FilePath(kind), InMemory());
    if (file.Exists()) file.Delete();
  }
}

void TDataTable::RenameFiles(std::string_view targetDirectory, std::string_view newName,
                             bool toBackup) {
  FileRegistry& registry = Engine().Registry();
  const std::string target = DirectoryWithSlash(targetDirectory);
  const std::string& dataExtension = Engine().Options().TableDataExtension;
  const bool wasTemporary = temporary_;
  for (const TableFileKind kind : kFileKinds) {
    temporary_ = wasTemporary;
    TEngineFile file(registry, FilePath(kind), InMemory());
    if (!file.Exists()) continue;
    // The files arrive as files of an ordinary table (or its backups).
    temporary_ = false;
    const std::string destination =
        target + TableFileName(newName, dataExtension, Extension(kind, toBackup));
    temporary_ = wasTemporary;
    if (toBackup) {
      TEngineFile old(registry, destination, InMemory());
      if (old.Exists()) old.Delete();
    }
    file.Rename(destination);
  }
}

void TDataTable::EmptyFiles() {
  if (!isOpen_) return;
  data_->EmptyFile();
  data_->DropBuffers();
  index_->EmptyFile();
  index_->DropBuffers();
  if (blob_) {
    blob_->EmptyFile();
    blob_->DropBuffers();
  }
}

// ---------------------------------------------------------------------------
// Flushing and change detection

void TDataTable::Flush(bool trim, FlushHeaders force, bool forceOsFlush) {
  if (!isOpen_ || readOnly_ || !data_) return;
  if (BeforeFlush && !inTransaction_) BeforeFlush();
  if (inTransaction_) {
    // Nothing reaches the files before the commit.
    if (force.Data) data_->TouchHeader();
    if (force.Index) index_->TouchHeader();
    if (force.Blob && blob_) blob_->TouchHeader();
    return;
  }
  bool dataWritten = data_->WriteBack(false);
  dataWritten = data_->WriteDescriptors() || dataWritten;
  bool dataHeader = data_->WriteHeader(force.Data || dataWritten);
  bool otherHeader = false;
  bool indexWritten = index_->WriteBack(false);
  if (index_->WriteHeader(force.Index || indexWritten)) indexWritten = otherHeader = true;
  bool blobWritten = false;
  if (blob_) {
    blobWritten = blob_->WriteBack(false);
    if (blob_->WriteHeader(force.Blob || blobWritten)) blobWritten = otherHeader = true;
  }
  // Other users see a change of the table only through the data header.
  if (otherHeader && !dataHeader) dataHeader = data_->WriteHeader(true);
  if (forceOsFlush || Session().ForceBufferFlush()) {
    std::vector<TEngineFile*> files;
    if (dataWritten || dataHeader) files.push_back(data_.get());
    if (indexWritten) files.push_back(index_.get());
    if (blobWritten) files.push_back(blob_.get());
    TEngineFile::FlushAll(files);
  }
  if (trim) {
    data_->TrimCache();
    index_->TrimCache();
    if (blob_) blob_->TrimCache();
  }
}

void TDataTable::DropCaches(bool trim, bool rereadHeaders) {
  if (!isOpen_ || !data_) return;
  for (TBufferedFile* file : {static_cast<TBufferedFile*>(data_.get()),
                              static_cast<TBufferedFile*>(index_.get()),
                              static_cast<TBufferedFile*>(blob_.get())}) {
    if (file == nullptr) continue;
    file->DropBuffers();
    if (trim) file->TrimCache();
    if (rereadHeaders) file->ReadHeader();
  }
}

// The files are synced together: nothing orders them among themselves.
void TDataTable::FlushOs(std::span<const std::string> directories) {
  if (!isOpen_ || readOnly_ || !data_) return;
  std::vector<TEngineFile*> files{data_.get(), index_.get()};
  if (blob_) files.push_back(blob_.get());
  TEngineFile::FlushAll(files, directories);
}

void TDataTable::FlushOsWritten() {
  if (!isOpen_ || readOnly_ || !data_) return;
  std::vector<TEngineFile*> files;
  if (data_->Unflushed()) files.push_back(data_.get());
  if (index_->Unflushed()) files.push_back(index_.get());
  if (blob_ && blob_->Unflushed()) files.push_back(blob_.get());
  TEngineFile::FlushAll(files);
}

bool TDataTable::CheckForChanges() {
  if (!isOpen_ || !data_) return false;
  if (!data_->HeaderChanged()) return false;
  data_->DropBuffers();
  index_->ReadHeader();
  index_->DropBuffers();
  if (blob_) {
    blob_->ReadHeader();
    blob_->DropBuffers();
  }
  return true;
}

}  // namespace strata
