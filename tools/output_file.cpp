#include "tools/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/process.h"

namespace strata::tools {

namespace {

constexpr std::size_t kCopyChunk = 1 << 16;

}  // namespace

std::string TemporaryNameFor(const std::string& path) {
  const std::filesystem::path target(path);
  return (target.parent_path() /
          ("." + target.filename().string() + ".strata-" + platform::ThreadIdText()))
      .string();
}

std::string OsReason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "no space left on the device";
  return std::strerror(error);
}

OutputFile::OutputFile(std::string path, Use use, std::ostream& standardOutput)
    : path_(std::move(path)), use_(use) {
  if (path_ == "-") {
    stream_ = &standardOutput;
    inPlace_ = true;
  } else {
    struct stat link {};
    struct stat target {};
    const bool exists = ::lstat(path_.c_str(), &link) == 0;
    if (!exists && errno != ENOENT) Fail(errno);
    const bool symlink = exists && S_ISLNK(link.st_mode);
    if (symlink) {
      // A link to nothing yet: its target is created through it.
      if (::stat(path_.c_str(), &target) != 0 && errno != ENOENT) Fail(errno);
    } else {
      target = link;
    }
    if (exists && S_ISDIR(target.st_mode)) Fail("it is a folder");
    inPlace_ = symlink || (exists && (!S_ISREG(target.st_mode) || target.st_nlink > 1));
    if (!inPlace_) {
      try {
        OpenTemporary(exists, target.st_uid, target.st_gid, target.st_mode & 07777);
      } catch (const OutputError&) {
        // The folder refuses new names; a file that may be written is
        // written where it is.
        if (!exists || ::access(path_.c_str(), W_OK) != 0) throw;
        inPlace_ = true;
      }
    }
    if (inPlace_) {
      if (use_ == Use::Stream) {
        OpenTarget();
      } else if (exists && ::access(path_.c_str(), W_OK) != 0) {
        // Opened only when the staged file is complete (a FIFO's reader
        // then gets the file at once), but refused now when it cannot be.
        Fail(errno);
      }
    }
  }
  if (inPlace_ && use_ == Use::Staged) {
    // The complete file is built aside and copied into the target.
    const std::string leaf = stream_ != nullptr ? std::string("stdout")
                                                : std::filesystem::path(path_).filename().string();
    temporary_ = platform::TemporaryPath() + "." + leaf + ".strata-" + platform::ThreadIdText();
    cleanup_.emplace(temporary_, SignalCleanup::Kind::File);
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);  // a file of a dead process of the same id
  }
}

void OutputFile::OpenTarget() {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) Fail(errno);
  struct stat opened {};
  truncate_ = ::fstat(fd_, &opened) == 0 && S_ISREG(opened.st_mode);
}

void OutputFile::OpenTemporary(bool exists, unsigned ownerId, unsigned groupId, unsigned mode) {
  temporary_ = TemporaryNameFor(path_);
  cleanup_.emplace(temporary_, SignalCleanup::Kind::File);
  int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left by a dead process that had the same id.
    ::unlink(temporary_.c_str());
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    const int error = errno;
    cleanup_.reset();
    temporary_.clear();
    Fail(error);
  }
  if (exists) {
    // Owner first: a change of owner clears the set-id bits that the mode
    // then sets again. Only a privileged process may give the file away;
    // otherwise it keeps the writer's owner.
    const bool ownerKept = ::fchown(fd, ownerId, groupId) == 0 ||
                           ::fchown(fd, static_cast<uid_t>(-1), groupId) == 0;
    static_cast<void>(ownerKept);
    if (::fchmod(fd, mode) != 0) {
      const int error = errno;
      ::close(fd);
      Fail(error);
    }
  }
  if (use_ == Use::Staged) {
    ::close(fd);
  } else {
    fd_ = fd;
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

std::string OutputFile::Shown() const { return stream_ != nullptr ? "standard output" : path_; }

void OutputFile::Fail(int error) const { Fail(OsReason(error)); }

void OutputFile::Fail(const std::string& reason) const {
  throw OutputError("cannot write '" + Shown() + "': " + reason);
}

void OutputFile::TruncateOnce() {
  if (!truncate_) return;
  truncate_ = false;
  if (::ftruncate(fd_, 0) != 0) Fail(errno);
}

void OutputFile::WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
}

void OutputFile::Write(std::string_view bytes) {
  if (bytes.empty()) return;
  if (stream_ != nullptr) {
    errno = 0;
    stream_->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!*stream_) Fail(errno != 0 ? OsReason(errno) : std::string("the stream refused the data"));
    return;
  }
  TruncateOnce();
  WriteAll(fd_, bytes);
}

void OutputFile::CopyStagedIntoTarget() {
  const int from = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) Fail(errno);
  std::string chunk(kCopyChunk, '\0');
  try {
    for (;;) {
      const ssize_t got = ::read(from, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Fail(errno);
      if (got == 0) break;
      Write(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
  } catch (...) {
    ::close(from);
    throw;
  }
  ::close(from);
}

void OutputFile::CloseTarget() {
  if (stream_ != nullptr) {
    errno = 0;
    stream_->flush();
    if (!*stream_) Fail(errno != 0 ? OsReason(errno) : std::string("the stream refused the data"));
    return;
  }
  TruncateOnce();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail(errno);
}

void OutputFile::Commit() {
  if (inPlace_) {
    if (use_ == Use::Staged) {
      if (stream_ == nullptr) OpenTarget();
      CopyStagedIntoTarget();
    }
    CloseTarget();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    cleanup_.reset();
    committed_ = true;
    return;
  }
  if (use_ == Use::Stream) {
    // On disk before it takes the name: a crash must not leave an empty
    // file where the old one was.
    const int fd = fd_;
    fd_ = -1;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !synced) Fail(synced ? errno : error);
  }
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) Fail(errno);
  cleanup_.reset();
  committed_ = true;
}

}  // namespace strata::tools
