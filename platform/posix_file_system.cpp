// The default FileSystem: open(2), pread/pwrite, flock(2) share modes and
// open-file-description byte-range locks.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace strata::platform {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + "/" + name;
}

// The exact name when anything of that name exists, else the lowest name
// of the directory that differs from it only in ASCII letter case, else the
// name unchanged. errno is left as the failed exact lookup set it.
std::string ResolveName(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return path;
  const int saved = errno;
  const std::string directory = DirectoryPart(path);
  const std::string name = NamePart(path);
  std::string best;
  if (!name.empty() && name != "." && name != "..") {
    if (DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        const std::string_view candidate(entry->d_name);
        if (EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) {
          best.assign(candidate);
        }
      }
      ::closedir(dir);
    }
  }
  errno = saved;
  return best.empty() ? path : directory + best;
}

// Keeps errno of a failure across the clean-up calls that follow it.
void CloseKeepingErrno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

class PosixFileHandle final : public FileHandle {
 public:
  explicit PosixFileHandle(int fd) : fd_(fd) {}
  ~PosixFileHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }

  std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
    std::size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t got = ::pread(fd_, buffer.data() + done, buffer.size() - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
      if (got < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
  }

  std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t put = ::pwrite(fd_, data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
      if (put < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      done += static_cast<std::size_t>(put);
    }
    return static_cast<std::int64_t>(done);
  }

  std::int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
  }

  bool Truncate(std::int64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

  bool Sync() override { return ::fsync(fd_) == 0; }

  bool LockRange(std::int64_t offset, std::int64_t length) override {
    return SetLock(F_WRLCK, offset, length);
  }

  bool UnlockRange(std::int64_t offset, std::int64_t length) override {
    return SetLock(F_UNLCK, offset, length);
  }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  bool SetLock(short type, std::int64_t offset, std::int64_t length) {
    if (offset < 0 || length <= 0) {
      errno = EINVAL;
      return false;
    }
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    return ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }

  int fd_;
};

// Takes the share lock without blocking; a refusal reads as "access denied".
bool TakeShareLock(int fd, bool exclusive) {
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
  if (errno == EWOULDBLOCK) errno = EAGAIN;
  return false;
}

// Opens a file that this process does not hold open and takes the exclusive
// share lock, proving that nobody else holds it open. -1 with errno on failure.
int ProbeExclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    CloseKeepingErrno(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  if (!TakeShareLock(fd, true)) {
    CloseKeepingErrno(fd);
    return -1;
  }
  return fd;
}

// Copies an open file to a new file (never replacing one) and syncs it.
bool CopyToNewFile(int source, const std::string& target) {
  struct stat st {};
  if (::fstat(source, &st) != 0) return false;
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) return false;
  std::vector<char> chunk(1 << 16);
  off_t offset = 0;
  bool ok = true;
  for (;;) {
    const ssize_t got = ::pread(source, chunk.data(), chunk.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ssize_t done = 0;
    while (ok && done < got) {
      const ssize_t put = ::write(out, chunk.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) ok = false;
      else done += put;
    }
    if (!ok) break;
    offset += got;
  }
  if (ok) ok = ::fsync(out) == 0;
  if (::close(out) != 0) ok = false;
  if (!ok) {
    const int saved = errno;
    ::unlink(target.c_str());
    errno = saved;
  }
  return ok;
}

class PosixFileSystem final : public FileSystem {
 public:
  // The handle of a file opened for sequential transfers.
  static std::unique_ptr<FileHandle> Prepared(int fd) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixFileHandle>(fd);
  }

  OpenedFile Open(const std::string& path, const OpenRequest& request) override {
    OpenedFile result;
    const std::string name = ResolveName(path);
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
      errno = ENOENT;  // a file whose attributes cannot be read counts as missing
      return result;
    }
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return result;
    }
    bool readOnly = request.readOnly;
    if ((st.st_mode & S_IWUSR) == 0) {
      readOnly = true;
      result.forcedReadOnly = true;
    }
    int fd = ::open(name.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0 && !readOnly && (errno == EACCES || errno == EROFS)) {
      fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) readOnly = true;
    }
    if (fd < 0) {
      result.forcedReadOnly = false;
      return result;
    }
    if (!TakeShareLock(fd, request.exclusive)) {
      CloseKeepingErrno(fd);
      result.forcedReadOnly = false;
      return result;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    result.handle = std::make_unique<PosixFileHandle>(fd);
    result.readOnly = readOnly;
    return result;
  }

  std::unique_ptr<FileHandle> CreateAlways(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if (!TakeShareLock(fd, true) || ::ftruncate(fd, 0) != 0) {
      CloseKeepingErrno(fd);
      return nullptr;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixFileHandle>(fd);
  }

  std::unique_ptr<FileHandle> CreateNew(const std::string& path) override {
    // A name differing only in letter case is the same file name.
    if (ResolveName(path) != path) {
      errno = EEXIST;
      return nullptr;
    }
    // The file is made and locked without a name and only then given its
    // name (a link never replaces), so nobody can open it before its creator
    // holds it exclusively, and a process that dies in between leaves
    // nothing behind.
    const std::string folder = DirectoryPart(path);
    int unnamed = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
      if (TakeShareLock(unnamed, true)) {
        const std::string self = "/proc/self/fd/" + std::to_string(unnamed);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          return Prepared(unnamed);
        }
        if (errno == EEXIST) {
          CloseKeepingErrno(unnamed);
          return nullptr;
        }
      }
      // No /proc, or a lock or link refused otherwise: the private name.
      ::close(unnamed);
    }
    // File systems without unnamed files: a private name, linked once locked.
    static std::atomic<unsigned> counter{0};
    const std::string staging = DirectoryPart(path) + "." + NamePart(path) + "." +
                                std::to_string(::getpid()) + "-" +
                                std::to_string(counter.fetch_add(1)) + ".new";
    int fd = ::open(staging.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      const bool locked = TakeShareLock(fd, true);
      const bool linked = locked && ::link(staging.c_str(), path.c_str()) == 0;
      const int error = errno;
      ::unlink(staging.c_str());
      if (linked) return Prepared(fd);
      ::close(fd);
      errno = error;
      if (locked && error == EEXIST) return nullptr;
      // A file system without hard links: create the name directly.
    }
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    // The file is ours, but another program may have opened it between the
    // creation and the lock; it then keeps it, so it is not removed here.
    if (!TakeShareLock(fd, true)) {
      CloseKeepingErrno(fd);
      return nullptr;
    }
    return Prepared(fd);
  }

  bool Delete(const std::string& path) override {
    const std::string name = ResolveName(path);
    const int probe = ProbeExclusive(name);
    if (probe < 0) return false;
    const bool ok = ::unlink(name.c_str()) == 0;
    CloseKeepingErrno(probe);
    return ok;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    const std::string source = ResolveName(from);
    const std::string existing = ResolveName(to);
    if (existing != to && existing != source) {
      errno = EEXIST;  // a name differing only in letter case is the same file name
      return false;
    }
    const int probe = ProbeExclusive(source);
    if (probe < 0) return false;
    bool ok = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
    if (!ok && errno == EINVAL) {
      // A file system without the no-replace flag: a hard link never replaces.
      ok = ::link(source.c_str(), to.c_str()) == 0 && ::unlink(source.c_str()) == 0;
    }
    if (!ok && errno == EXDEV) {
      ok = CopyToNewFile(probe, to);
      if (ok && ::unlink(source.c_str()) != 0) {
        const int saved = errno;
        ::unlink(to.c_str());
        errno = saved;
        ok = false;
      }
    }
    CloseKeepingErrno(probe);
    return ok;
  }

  bool FileExists(const std::string& path) override {
    struct stat st {};
    return ::stat(ResolveName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  bool SyncDirectory(const std::string& directory) override {
    const char* name = directory.empty() ? "." : directory.c_str();
    const int fd = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
  }

  // Each sync on a thread of its own: the file system writes them out
  // together and one journal commit of the file system can carry them all.
  int SyncAll(std::span<FileHandle* const> files,
              std::span<const std::string> directories) override {
    const std::size_t count = files.size() + directories.size();
    if (count <= 1) return FileSystem::SyncAll(files, directories);
    std::vector<int> errors(count, 0);
    const auto syncOne = [&](std::size_t i) {
      errno = 0;
      const bool synced =
          i < files.size() ? files[i]->Sync() : SyncDirectory(directories[i - files.size()]);
      errors[i] = synced ? 0 : (errno != 0 ? errno : EIO);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(count - 1);
    for (std::size_t i = 1; i < count; ++i) {
      try {
        helpers.emplace_back(syncOne, i);
      } catch (const std::system_error&) {
        // No thread to be had: this sync is made here, in turn.
        syncOne(i);
      }
    }
    syncOne(0);
    for (std::thread& helper : helpers) helper.join();
    for (std::size_t i = 0; i < count; ++i) {
      if (errors[i] != 0) {
        errno = errors[i];
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override {
    return ListEntries(directory, pattern, S_IFREG, names);
  }

  bool ListDirectories(const std::string& directory, std::string_view pattern,
                       std::vector<std::string>& names) override {
    return ListEntries(directory, pattern, S_IFDIR, names);
  }

  bool CreateDirectory(const std::string& path) override {
    return ::mkdir(path.c_str(), 0777) == 0;
  }

  bool RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }

 private:
  // The entries of one type (S_IFREG or S_IFDIR, links followed) whose names
  // match the pattern, sorted without regard to letter case.
  static bool ListEntries(const std::string& directory, std::string_view pattern,
                          mode_t type, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name(entry->d_name);
      if (name == "." || name == ".." || !MatchesFilePattern(name, pattern)) continue;
      bool matches = type == S_IFREG ? entry->d_type == DT_REG : entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
        struct stat st {};
        matches = ::stat(Join(directory, name).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
      }
      if (matches) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return FileNameLess(a, b); });
    return true;
  }
};

}  // namespace

FileSystem& DefaultFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace strata::platform
