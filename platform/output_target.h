// The operating-system side of writing an output file: what a path names
// (DescribeOutputPath), a file opened for writing (OutputDescriptor), a file
// read back in chunks (InputDescriptor), and the rename and removal that
// put a temporary file in place or take it away. The policy (which targets
// are replaced through a temporary file and which are written in place)
// belongs to the caller.
//
// Like the FileSystem seam, failures return false (or -1) and leave the
// error number in errno (LastErrorNumber); nothing here raises. Paths are
// used exactly as given: no letter-case lookup.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace strata::platform {

// What a path names. The path itself is looked at without following a final
// symbolic link (Exists, Symlink); the remaining fields describe what it
// leads to, through the link. A link to nothing yet has Symlink set and
// every target field zero or false.
struct OutputPathDescription {
  bool Exists = false;   // something, a dangling link included, has the name
  bool Symlink = false;  // the name is a symbolic link
  bool Folder = false;
  bool Regular = false;  // a regular file
  std::uint64_t Links = 0;  // its hard links
  unsigned OwnerId = 0;
  unsigned GroupId = 0;
  unsigned Mode = 0;  // the permission bits (07777)
};

// Fills description; false (errno set) only when the path could not be
// looked at. A missing path is not a failure: Exists stays false.
bool DescribeOutputPath(const std::string& path, OutputPathDescription& description);

// Whether this process may write the existing file (false with errno).
bool MayWrite(const std::string& path);

// Renames from over to (the rename of one folder replaces atomically);
// false with errno.
bool RenameOver(const std::string& from, const std::string& to);

// Removes a file; false with errno (ENOENT when it is not there).
bool RemoveFile(const std::string& path);

// A file open for writing; closed when the object goes (a close failure
// then unseen: call Close to see it). Movable, not copyable.
class OutputDescriptor {
 public:
  OutputDescriptor() = default;
  ~OutputDescriptor();
  OutputDescriptor(OutputDescriptor&& other) noexcept;
  OutputDescriptor& operator=(OutputDescriptor&& other) noexcept;
  OutputDescriptor(const OutputDescriptor&) = delete;
  OutputDescriptor& operator=(const OutputDescriptor&) = delete;

  // Opens path for writing, creating a regular file (mode 0666 less the
  // umask) when nothing has the name; never truncates, and a FIFO opens
  // only once it has a reader. False with errno.
  bool OpenForWriting(const std::string& path);
  // Creates a new file that must not exist (EEXIST otherwise).
  bool CreateNew(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }
  // Whether the open file is a regular file (not a device or FIFO).
  bool IsRegularFile() const;
  // Gives the file an owner and group (a privileged process only; else
  // the group alone where the process belongs to it). False when neither
  // could be set; the file is then the writer's.
  bool TakeOwner(unsigned ownerId, unsigned groupId);
  // Sets the permission bits, set-id bits included.
  bool SetMode(unsigned mode);
  bool Truncate();
  // Writes every byte, going on after an interrupted write.
  bool WriteAll(std::string_view bytes);
  bool Sync();
  // Closes; false with errno when the close reported a failure (a write
  // the file system could not keep). Closed either way.
  bool Close();

 private:
  int fd_ = -1;
};

// A file open for reading.
class InputDescriptor {
 public:
  InputDescriptor() = default;
  ~InputDescriptor();
  InputDescriptor(const InputDescriptor&) = delete;
  InputDescriptor& operator=(const InputDescriptor&) = delete;

  bool Open(const std::string& path);
  // Bytes read into buffer (0 at the end), or -1 with errno; an
  // interrupted read is retried.
  std::int64_t Read(std::span<char> buffer);

 private:
  int fd_ = -1;
};

}  // namespace strata::platform
