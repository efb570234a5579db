#include "engine/files/engine_file.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include "engine/errors/engine_error.h"
#include "platform/file_system.h"
#include "platform/os_error.h"

namespace strata {

TEngineFile::TEngineFile(FileRegistry& registry, std::string path, bool inMemory)
    : registry_(registry), inMemory_(inMemory), path_(std::move(path)) {}

TEngineFile::~TEngineFile() {
  if (store_ == nullptr || handleId_ <= 0) return;
  registry_.CloseStoreFile(store_, inMemory_, handleId_);
}

void TEngineFile::RaiseFileError(ErrorCode code) const { RaiseTableError(code, GetName()); }

void TEngineFile::RaiseWriteError() const {
  const int error = platform::LastErrorNumber();
  // The message names only the file; a full disk is what the user must fix.
  const std::string_view detail = error == ENOSPC || error == EDQUOT ? kNoSpaceDetail : "";
  RaiseEngineError(STRATA_WRITEERR, {}, {}, {}, GetName(), {}, {}, detail);
}

void TEngineFile::Open() {
  if (isOpen_) Close();
  if (!Exists()) {
    // The lookup found no file: the error says so in its OsErrorCode too,
    // as it does when the open itself meets a missing file.
    platform::SetLastErrorNumber(ENOENT);
    RecordOsError();
    RaiseFileError(STRATA_OSENOENT);
  }
  ForcedReadOnly = false;
  const StoreOpenResult opened =
      registry_.OpenStoreFile(path_, inMemory_, *this);
  if (opened.handleId < 0) RaiseFileError(static_cast<ErrorCode>(-opened.handleId));
  store_ = opened.store;
  handleId_ = opened.handleId;
  ReadOnly = opened.readOnly;
  ForcedReadOnly = opened.forcedReadOnly;
  isOpen_ = true;
}

void TEngineFile::CreateNew() {
  if (isOpen_) Close();
  const StoreOpenResult created = registry_.CreateStoreFile(path_, inMemory_, *this);
  if (created.handleId < 0) RaiseFileError(static_cast<ErrorCode>(-created.handleId));
  store_ = created.store;
  handleId_ = created.handleId;
  Exclusive = true;
  ReadOnly = false;
  ForcedReadOnly = false;
  isOpen_ = true;
}

void TEngineFile::Close() {
  std::int32_t result = 0;
  bool written = false;
  if (handleId_ > 0 && store_ != nullptr) {
    written = store_->Written();
    platform::SetLastErrorNumber(0);
    result = registry_.CloseStoreFile(store_, inMemory_, handleId_);
  }
  store_ = nullptr;
  handleId_ = 0;
  isOpen_ = false;
  // A failed close of a file that was written may have lost data.
  if (result < 0 && written) RaiseWriteError();
  if (result < 0) RaiseFileError(static_cast<ErrorCode>(-result));
}

void TEngineFile::Delete() {
  const std::int32_t result = registry_.DeleteStoreFile(path_, inMemory_);
  if (result < 0) RaiseFileError(static_cast<ErrorCode>(-result));
}

void TEngineFile::Rename(const std::string& newPath) {
  const std::int32_t result = registry_.RenameStoreFile(path_, inMemory_, newPath);
  if (result < 0) RaiseFileError(static_cast<ErrorCode>(-result));
  path_ = newPath;
}

std::int64_t TEngineFile::Read(std::span<std::byte> buffer, bool allowShort) {
  const std::int64_t got = store_ != nullptr ? store_->Read(handleId_, buffer) : -1;
  if (got < 0 || (!allowShort && got < static_cast<std::int64_t>(buffer.size()))) {
    RaiseFileError(STRATA_READERR);
  }
  return got;
}

void TEngineFile::Write(std::span<const std::byte> data) {
  platform::SetLastErrorNumber(0);
  const std::int64_t put = store_ != nullptr ? store_->Write(handleId_, data) : -1;
  if (put != static_cast<std::int64_t>(data.size())) RaiseWriteError();
  unflushed_ = true;
}

void TEngineFile::Flush() {
  platform::SetLastErrorNumber(0);
  if (store_ == nullptr || !store_->Flush()) RaiseWriteError();
  unflushed_ = false;
}

void TEngineFile::FlushAll(std::span<TEngineFile* const> files,
                           std::span<const std::string> directories) {
  std::vector<TEngineFile*> synced;
  std::vector<platform::FileHandle*> handles;
  std::vector<std::unique_lock<std::recursive_mutex>> locks;
  for (TEngineFile* file : files) {
    platform::FileHandle* handle = file->store_ != nullptr ? file->store_->SyncHandle() : nullptr;
    if (handle == nullptr) {
      file->Flush();
      continue;
    }
    locks.emplace_back(file->store_->IoLock());
    synced.push_back(file);
    handles.push_back(handle);
  }
  if (files.empty() || (handles.empty() && directories.empty())) return;
  platform::FileSystem& fs = files.front()->registry_.Files();
  const int failed = fs.SyncAll(handles, directories);
  if (failed < 0) {
    for (TEngineFile* file : synced) file->unflushed_ = false;
    return;
  }
  const ErrorCode code = RecordOsError();
  const auto at = static_cast<std::size_t>(failed);
  if (at < synced.size()) synced[at]->RaiseFileError(STRATA_WRITEERR);
  RaiseTableError(code, directories[at - synced.size()]);
}

bool TEngineFile::LockBytes(bool lock, std::int64_t length, std::int64_t offset) {
  if (store_ == nullptr) return false;
  return lock ? store_->LockRange(length, offset) : store_->UnlockRange(length, offset);
}

std::int64_t TEngineFile::Seek(int origin, std::int64_t offset) {
  if (store_ == nullptr) return -1;
  return store_->Seek(handleId_, origin, offset);
}

std::int64_t TEngineFile::GetFileSize() {
  if (store_ == nullptr) return -1;
  std::lock_guard io(store_->IoLock());
  const std::int64_t position = Seek(TBaseFile::kFromCurrent, 0);
  const std::int64_t size = Seek(TBaseFile::kFromEnd, 0);
  Seek(TBaseFile::kFromStart, position);
  return size;
}

bool TEngineFile::Exists() { return registry_.FileExists(path_, inMemory_); }

void TEngineFile::EnterIo() {
  if (store_ != nullptr) store_->IoLock().lock();
}

void TEngineFile::LeaveIo() {
  if (store_ != nullptr) store_->IoLock().unlock();
}

std::int64_t TEngineFile::ReadAt(std::int64_t offset, std::span<std::byte> buffer,
                                 bool allowShort) {
  IoGuard io(*this);
  Seek(TBaseFile::kFromStart, offset);
  return Read(buffer, allowShort);
}

void TEngineFile::WriteAt(std::int64_t offset, std::span<const std::byte> data) {
  IoGuard io(*this);
  Seek(TBaseFile::kFromStart, offset);
  Write(data);
}

}  // namespace strata
