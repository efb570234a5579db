// The operating-system seam for files. Everything the engine does with files
// on disk goes through a FileSystem and the FileHandles it opens. The POSIX
// implementation is the default; a test can install a wrapping implementation
// for the whole process with ScopedFileSystem (to count calls or to make
// operations fail) and the default comes back when the scope ends. Wrappers
// derive from ForwardingFileSystem (forwarding_file_system.h), so that an
// operation added here reaches them without being forgotten.
//
// Failures return false, -1 or a null handle and leave errno set, so that
// RecordOsError() maps them to an engine code (a refused share mode or an
// existing rename target leave EAGAIN or EEXIST: "access denied").
//
// File names are looked up without regard to ASCII letter case: the exact
// name wins, else the lowest (in byte order) name that differs only in case.
// Open, Delete, Rename (source and target test), FileExists and the
// existence test of CreateNew all use it; CreateAlways and CreateNew create
// the name exactly as given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace strata::platform {

// One open file description. Share-mode locks (flock) and byte-range locks
// (open-file-description locks) belong to it and end when it is closed.
// Destroying an open handle closes it; call Close() to see a close failure.
class FileHandle {
 public:
  virtual ~FileHandle() = default;

  // Bytes transferred at a 64-bit offset (a read stops early only at the end
  // of the file), or -1.
  virtual std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) = 0;
  virtual std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) = 0;
  virtual std::int64_t Size() = 0;  // -1 on failure
  virtual bool Truncate(std::int64_t size) = 0;
  virtual bool Sync() = 0;
  // Write lock on [offset, offset + length), never blocking. A lock held by
  // another description (of this or another process) refuses it.
  virtual bool LockRange(std::int64_t offset, std::int64_t length) = 0;
  virtual bool UnlockRange(std::int64_t offset, std::int64_t length) = 0;
  virtual bool Close() = 0;
};

struct OpenRequest {
  bool exclusive = false;  // LOCK_EX instead of LOCK_SH
  bool readOnly = false;   // open for reading only
};

struct OpenedFile {
  std::unique_ptr<FileHandle> handle;  // null on failure (errno set)
  bool readOnly = false;               // the effective mode
  bool forcedReadOnly = false;         // the file has no owner-write bit
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file and takes its share lock without blocking. A file
  // without the owner-write bit opens read-only with forcedReadOnly; a file
  // that cannot be opened for writing (EACCES, EROFS) falls back to reading.
  virtual OpenedFile Open(const std::string& path, const OpenRequest& request) = 0;

  // Creates the file, or takes an existing one: opens it without truncating,
  // takes the exclusive share lock, and only then empties it. Read and write.
  virtual std::unique_ptr<FileHandle> CreateAlways(const std::string& path) = 0;

  // Creates a file that must not exist yet: fails with EEXIST when a file of
  // that name (in any letter case) exists, so two creators never both
  // succeed. The new file is then locked exclusively (EAGAIN when another
  // description opened it in between; it is left in place for that user).
  // Read and write.
  virtual std::unique_ptr<FileHandle> CreateNew(const std::string& path) = 0;

  // Deletes or renames a file that this process does not hold open; a file
  // that another description holds open fails with EAGAIN. Renaming never
  // replaces an existing file (EEXIST) and moves across file systems by
  // copying.
  virtual bool Delete(const std::string& path) = 0;
  virtual bool Rename(const std::string& from, const std::string& to) = 0;

  // True when a file (not a directory) of that name exists.
  virtual bool FileExists(const std::string& path) = 0;

  // The names of the regular files of a directory whose names match a
  // wildcard pattern without regard to letter case, sorted without regard to
  // letter case. False (errno set) when the directory cannot be read.
  virtual bool ListFiles(const std::string& directory, std::string_view pattern,
                         std::vector<std::string>& names) = 0;

  // The names of the subdirectories of a directory whose names match the
  // pattern (as ListFiles), sorted the same way.
  virtual bool ListDirectories(const std::string& directory, std::string_view pattern,
                               std::vector<std::string>& names) = 0;

  // Creates one directory that must not exist yet (EEXIST when it does).
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Removes an empty directory.
  virtual bool RemoveDirectory(const std::string& path) = 0;

  // Makes the directory's entries (creations, renames, deletions) durable.
  virtual bool SyncDirectory(const std::string& directory) = 0;

  // Does what Sync of each file and SyncDirectory of each directory would
  // do, with no order among them: a wait on the disk for them all instead
  // of one after the other where the system allows it (the POSIX file
  // system syncs them on parallel threads). Returns -1 when every one
  // succeeded, else the position of a failed one (the files counted first,
  // then the directories) with errno set. This default calls them one
  // after the other, through the overridable calls, in the order given.
  virtual int SyncAll(std::span<FileHandle* const> files,
                      std::span<const std::string> directories);
};

// The implementation in force for the process (the POSIX one by default).
FileSystem& CurrentFileSystem();
FileSystem& DefaultFileSystem();

// The file system an object was handed, or, when it was handed none, the one
// in force for the process at the time of the call.
inline FileSystem& FileSystemOf(FileSystem* handed) {
  return handed != nullptr ? *handed : CurrentFileSystem();
}

// Installs a file system for the process for the lifetime of the object and
// restores the previous one afterwards. Not meant to be used concurrently
// with file operations on other threads.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fileSystem);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Creates a directory with its missing parents; true when it exists
// afterwards (errno set otherwise).
bool CreateDirectories(const std::string& path);

// Case-insensitive (ASCII) wildcard match: "*" any run, "?" one character.
bool MatchesFilePattern(std::string_view name, std::string_view pattern);

// Orders names without regard to ASCII letter case, then by bytes.
bool FileNameLess(std::string_view a, std::string_view b);

}  // namespace strata::platform
