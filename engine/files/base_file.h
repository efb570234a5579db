// TBaseFile: the one store object of a path in this process, shared by every
// user of that path. It counts its open handles, keeps one position per
// handle and the list of byte ranges locked in this process. Two kinds exist:
// TPhysicalFile (a file on disk) and TMemoryFile (a file kept in memory).
//
// CreateNew, Open, Close, Rename and Delete return a handle id or 0, or a
// negated engine code recorded by RecordOsError. Users hold IoLock() around
// every seek-plus-transfer pair; the store's own operations take it too, so
// it is re-entered (a recursive mutex). Stores are created and destroyed only
// by the FileRegistry.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "engine/files/file_modes.h"

namespace strata::platform {
class FileHandle;
}

namespace strata {

class TBaseFile : public FileModes {
 public:
  // Seek origins.
  static constexpr int kFromStart = 0;
  static constexpr int kFromCurrent = 1;
  static constexpr int kFromEnd = 2;

  explicit TBaseFile(std::string path);
  virtual ~TBaseFile();
  TBaseFile(const TBaseFile&) = delete;
  TBaseFile& operator=(const TBaseFile&) = delete;

  virtual std::int64_t GetSize();
  virtual std::int32_t CreateNew();
  virtual std::int32_t Open();
  virtual std::int32_t Close(std::int32_t handleId);
  virtual std::int32_t Rename(const std::string& newPath);
  virtual std::int32_t Delete();
  // Bytes transferred at the handle's position, which advances; -1 on
  // failure. Writing 0 bytes sets the end of the file at the position.
  virtual std::int64_t Read(std::int32_t handleId, std::span<std::byte> buffer);
  virtual std::int64_t Write(std::int32_t handleId, std::span<const std::byte> data);
  virtual bool Flush();
  // The handle's new position. The end origin adds the offset to the size.
  virtual std::int64_t Seek(std::int32_t handleId, int origin, std::int64_t offset);
  // Locks [offset, offset + length) unless it overlaps a range already locked
  // in this process; unlocking removes the range that starts at offset.
  virtual bool LockRange(std::int64_t length, std::int64_t offset);
  virtual bool UnlockRange(std::int64_t length, std::int64_t offset);

  // True when the open OS file can only be read, whatever the last request.
  virtual bool HandleReadOnly() const { return false; }
  // The open OS file that Flush syncs, for syncing several stores together;
  // null when there is none (a store in memory, a closed one). Caller holds
  // IoLock while using it.
  virtual platform::FileHandle* SyncHandle() { return nullptr; }

  std::recursive_mutex& IoLock() { return ioLock_; }
  const std::string& Path() const { return path_; }
  std::uint16_t OpenCount() const { return openCount_; }
  // Whether anything was written since the store was created or opened.
  bool Written() const { return written_; }
  bool HasHandle(std::int32_t handleId) const;

 protected:
  struct Handle {
    std::int32_t id;
    std::int64_t position;
  };
  // The handle entry, or nullptr. Caller holds IoLock.
  Handle* FindHandle(std::int32_t handleId);
  std::int32_t AddHandle();
  void SetPath(std::string path) { path_ = std::move(path); }
  void MarkWritten() { written_ = true; }
  void ClearWritten() { written_ = false; }
  // The ranges locked in this process; the OS lock of a physical store is
  // taken after the range is entered here and removed with it.
  bool AddLockedRange(std::int64_t length, std::int64_t offset);
  bool RemoveLockedRange(std::int64_t offset);

  std::int64_t size_ = 0;

 private:
  struct LockedRange {
    std::int64_t start;
    std::int64_t end;  // inclusive
  };

  std::recursive_mutex ioLock_;
  std::mutex lockListLock_;
  std::string path_;
  std::vector<LockedRange> lockedRanges_;  // sorted by start
  std::vector<Handle> handles_;
  std::uint16_t openCount_ = 0;
  std::int32_t lastHandleId_ = 0;
  bool written_ = false;
};

}  // namespace strata
