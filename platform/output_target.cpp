#include "platform/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace strata::platform {

namespace {

void Describe(const struct stat& status, OutputPathDescription& description) {
  description.Folder = S_ISDIR(status.st_mode);
  description.Regular = S_ISREG(status.st_mode);
  description.Links = status.st_nlink;
  description.OwnerId = status.st_uid;
  description.GroupId = status.st_gid;
  description.Mode = status.st_mode & 07777;
}

}  // namespace

bool DescribeOutputPath(const std::string& path, OutputPathDescription& description) {
  description = {};
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return errno == ENOENT;
  description.Exists = true;
  description.Symlink = S_ISLNK(link.st_mode);
  if (!description.Symlink) {
    Describe(link, description);
    return true;
  }
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return errno == ENOENT;  // a link to nothing yet
  Describe(target, description);
  return true;
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool RenameOver(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

OutputDescriptor::~OutputDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

OutputDescriptor::OutputDescriptor(OutputDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

OutputDescriptor& OutputDescriptor::operator=(OutputDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool OutputDescriptor::OpenForWriting(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool OutputDescriptor::CreateNew(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool OutputDescriptor::IsRegularFile() const {
  struct stat opened {};
  return ::fstat(fd_, &opened) == 0 && S_ISREG(opened.st_mode);
}

bool OutputDescriptor::TakeOwner(unsigned ownerId, unsigned groupId) {
  return ::fchown(fd_, ownerId, groupId) == 0 ||
         ::fchown(fd_, static_cast<uid_t>(-1), groupId) == 0;
}

bool OutputDescriptor::SetMode(unsigned mode) { return ::fchmod(fd_, mode) == 0; }

bool OutputDescriptor::Truncate() { return ::ftruncate(fd_, 0) == 0; }

bool OutputDescriptor::WriteAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool OutputDescriptor::Sync() { return ::fsync(fd_) == 0; }

bool OutputDescriptor::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || ::close(fd) == 0;
}

InputDescriptor::~InputDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputDescriptor::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

std::int64_t InputDescriptor::Read(std::span<char> buffer) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace strata::platform
