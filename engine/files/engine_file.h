// TEngineFile: one user's view of a file (a table's data, index or BLOB file,
// a directory's lock file). It remembers the path and the open flags, holds
// one handle of the shared store from the FileRegistry, and turns failures
// into engine errors that name the file's path. Positioned access is always
// EnterIo (or an IoGuard), Seek, Read or Write, LeaveIo.
//
// Closing reports failures; destroying an open file closes it and can only
// drop a failure, so writers close explicitly.
//
// Copies (backups, restores, the index-file copy of a restructure, repair):
// CopyTo writes this file's bytes to a target that it creates, plainly
// (level 0: byte for byte) or as a compressed copy (level 1 to 9); RestoreFrom
// recreates this file from such a copy, compressed or plain. The source is
// read and the target written in runs of up to 64 KiB, each under its
// store's I/O lock. The target is created like CreateNew, so a file that
// anybody holds open is never replaced. On any failure the partial target
// is closed and deleted and the error (STRATA_READERR naming the source, STRATA_WRITEERR naming
// the target, STRATA_COMPRESS/STRATA_UNCOMPRESS, ...) passes on. Progress goes to OnProgress in
// whole percent of the source read, whenever it has grown by ProgressStep,
// and always ends with 100.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "engine/errors/error_codes.h"
#include "engine/files/base_file.h"
#include "engine/files/file_modes.h"
#include "engine/files/file_registry.h"

namespace strata {

class CompressionHooks;

struct FileCopyOptions {
  // 0 (or below): a plain copy; 1 to 9: a compressed copy at that level.
  int Level = 0;
  // The percentage between two progress reports (at least 1).
  std::int32_t ProgressStep = 1;
  std::function<void(std::uint16_t percent)> OnProgress;
  // The compression hooks; null means the built-in ones.
  const CompressionHooks* Hooks = nullptr;
};

// The modes are requests, set before Open or CreateNew.
class TEngineFile : public FileModes {
 public:
  TEngineFile(FileRegistry& registry, std::string path, bool inMemory);
  virtual ~TEngineFile();
  TEngineFile(const TEngineFile&) = delete;
  TEngineFile& operator=(const TEngineFile&) = delete;

  // The path; the table-name argument of this file's errors.
  virtual std::string GetName() const { return path_; }
  // Open raises STRATA_OSENOENT (with the path) for a missing file and the registry's
  // or the OS's code otherwise; ReadOnly and ForcedReadOnly give the result.
  virtual void Open();
  virtual void Close();
  // Creates (or empties) the file exclusively, for reading and writing.
  virtual void CreateNew();
  virtual void Delete();
  virtual void Rename(const std::string& newPath);
  // Bytes read at the handle's position; fewer than asked raise STRATA_READERR unless
  // allowShort.
  virtual std::int64_t Read(std::span<std::byte> buffer, bool allowShort);
  // Raises STRATA_WRITEERR unless every byte was written. Writing no bytes sets the end
  // of the file at the position. A write that failed for want of room (ENOSPC,
  // EDQUOT) carries "no space left on the device" as the error's Detail.
  virtual void Write(std::span<const std::byte> data);
  // Flushes the OS buffers of the file; a failure raises STRATA_WRITEERR, with the
  // same Detail as Write.
  virtual void Flush();
  // Flush of each file, the files on disk synced together (one wait on the
  // disk for them all, see platform::FileSystem::SyncAll); a failure raises
  // STRATA_WRITEERR naming the file or directory that failed.
  // The directories given are synced in the same wait, through the file
  // system of the files (there is at least one file then).
  static void FlushAll(std::span<TEngineFile* const> files,
                       std::span<const std::string> directories = {});

  // Copies this file (opened with its requests when it is not open, and
  // closed again) to targetPath, a file of the same kind (disk or memory)
  // that is closed at the end; or to target, created with its own requests
  // (Temporary, Hidden, FailIfExists) as a bare file and left open. A target
  // that is this file itself is refused with STRATA_OSEACCES.
  virtual void CopyTo(const std::string& targetPath, const FileCopyOptions& options);
  virtual void CopyTo(TEngineFile& target, const FileCopyOptions& options);
  // Recreates this file from a copy made by CopyTo (any level; a file
  // without the compressed-copy prefix is a plain copy) and leaves it open
  // for reading and writing. Options other than the progress and the hooks
  // are ignored.
  virtual void RestoreFrom(const std::string& copyPath, const FileCopyOptions& options);
  virtual void RestoreFrom(TEngineFile& copy, const FileCopyOptions& options);

  // Positioned transfers: the store's I/O lock, a seek and one Read or Write.
  std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer, bool allowShort);
  void WriteAt(std::int64_t offset, std::span<const std::byte> data);

  // Locks or unlocks a byte range of the store; false when not open.
  bool LockBytes(bool lock, std::int64_t length, std::int64_t offset);
  std::int64_t Seek(int origin, std::int64_t offset);
  std::int64_t GetFileSize();
  bool Exists();
  void EnterIo();
  void LeaveIo();

  // Holds the store's I/O lock for a scope; the file must be open.
  class IoGuard {
   public:
    explicit IoGuard(TEngineFile& file) : lock_(file.store_->IoLock()) {}

   private:
    std::lock_guard<std::recursive_mutex> lock_;
  };

  const std::string& Path() const { return path_; }
  // True when this file wrote bytes since it was opened or last flushed.
  bool Unflushed() const { return unflushed_; }
  bool InMemory() const { return inMemory_; }
  bool IsOpen() const { return isOpen_; }
  std::int32_t HandleId() const { return handleId_; }
  TBaseFile* Store() const { return store_; }
  FileRegistry& Registry() const { return registry_; }

 protected:
  [[noreturn]] void RaiseFileError(ErrorCode code) const;
  // STRATA_WRITEERR naming the file, with the reason of the failed operation
  // when the disk is full.
  [[noreturn]] void RaiseWriteError() const;
  void SetPath(std::string path) { path_ = std::move(path); }

 private:
  FileRegistry& registry_;
  bool inMemory_;
  TBaseFile* store_ = nullptr;
  std::string path_;
  std::int32_t handleId_ = 0;
  bool isOpen_ = false;
  bool unflushed_ = false;
};

}  // namespace strata
