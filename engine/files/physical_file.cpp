#include "engine/files/physical_file.h"

#include <algorithm>

#include "engine/errors/engine_error.h"

namespace strata {

namespace {

std::int32_t OsFailure() { return -static_cast<std::int32_t>(RecordOsError()); }

}  // namespace

TPhysicalFile::TPhysicalFile(std::string path, platform::FileSystem* files)
    : TBaseFile(std::move(path)), files_(files) {}

TPhysicalFile::~TPhysicalFile() = default;

std::int64_t TPhysicalFile::GetSize() {
  std::lock_guard io(IoLock());
  if (file_ == nullptr) return size_;
  const std::int64_t size = file_->Size();
  if (size < 0) {
    RecordOsError();
    return -1;
  }
  size_ = size;
  return size_;
}

std::int32_t TPhysicalFile::CreateNew() {
  std::lock_guard io(IoLock());
  if (OpenCount() == 0) {
    platform::FileSystem& fileSystem = Files();
    file_ = FailIfExists ? fileSystem.CreateNew(Path()) : fileSystem.CreateAlways(Path());
    if (file_ == nullptr) return OsFailure();
    fileReadOnly_ = false;
    ReadOnly = false;
    ForcedReadOnly = false;
  } else if (FailIfExists) {
    return -static_cast<std::int32_t>(STRATA_OSEACCES);  // it exists: it is open
  } else if (file_ == nullptr || !file_->Truncate(0)) {
    return OsFailure();
  }
  return TBaseFile::CreateNew();
}

std::int32_t TPhysicalFile::Open() {
  std::lock_guard io(IoLock());
  if (OpenCount() == 0) {
    ForcedReadOnly = false;
    platform::OpenedFile opened =
        Files().Open(Path(), {.exclusive = Exclusive, .readOnly = ReadOnly});
    if (opened.handle == nullptr) return OsFailure();
    const std::int64_t size = opened.handle->Size();
    if (size < 0) return OsFailure();
    file_ = std::move(opened.handle);
    fileReadOnly_ = opened.readOnly;
    ReadOnly = opened.readOnly;
    ForcedReadOnly = opened.forcedReadOnly;
    size_ = size;
  }
  return TBaseFile::Open();
}

std::int32_t TPhysicalFile::Close(std::int32_t handleId) {
  std::lock_guard io(IoLock());
  const std::int32_t result = TBaseFile::Close(handleId);
  if (result < 0 || OpenCount() > 0 || file_ == nullptr) return result;
  const bool closed = file_->Close();
  file_.reset();
  return closed ? 0 : OsFailure();
}

std::int32_t TPhysicalFile::Rename(const std::string& newPath) {
  std::lock_guard io(IoLock());
  if (!Files().Rename(Path(), newPath)) return OsFailure();
  return TBaseFile::Rename(newPath);
}

std::int32_t TPhysicalFile::Delete() {
  std::lock_guard io(IoLock());
  if (!Files().Delete(Path())) return OsFailure();
  return 0;
}

std::int64_t TPhysicalFile::Read(std::int32_t handleId, std::span<std::byte> buffer) {
  std::lock_guard io(IoLock());
  Handle* handle = FindHandle(handleId);
  if (handle == nullptr || file_ == nullptr) return -1;
  const std::int64_t got = file_->ReadAt(handle->position, buffer);
  if (got < 0) {
    RecordOsError();
    return -1;
  }
  handle->position += got;
  return got;
}

std::int64_t TPhysicalFile::Write(std::int32_t handleId, std::span<const std::byte> data) {
  std::lock_guard io(IoLock());
  Handle* handle = FindHandle(handleId);
  if (handle == nullptr || file_ == nullptr) return -1;
  MarkWritten();
  if (data.empty()) {
    if (!file_->Truncate(handle->position)) {
      RecordOsError();
      return -1;
    }
    size_ = handle->position;
    return 0;
  }
  const std::int64_t put = file_->WriteAt(handle->position, data);
  if (put < 0) {
    RecordOsError();
    return -1;
  }
  handle->position += put;
  size_ = std::max(size_, handle->position);
  return put;
}

bool TPhysicalFile::Flush() {
  std::lock_guard io(IoLock());
  if (file_ == nullptr) return false;
  if (file_->Sync()) return true;
  RecordOsError();
  return false;
}

std::int64_t TPhysicalFile::Seek(std::int32_t handleId, int origin, std::int64_t offset) {
  std::lock_guard io(IoLock());
  if (origin == kFromEnd && GetSize() < 0) return -1;
  return TBaseFile::Seek(handleId, origin, offset);
}

bool TPhysicalFile::LockRange(std::int64_t length, std::int64_t offset) {
  if (file_ == nullptr || !AddLockedRange(length, offset)) return false;
  if (file_->LockRange(offset, length)) return true;
  RemoveLockedRange(offset);
  return false;
}

bool TPhysicalFile::UnlockRange(std::int64_t length, std::int64_t offset) {
  if (file_ == nullptr || !RemoveLockedRange(offset)) return false;
  return file_->UnlockRange(offset, length);
}

}  // namespace strata
