#include "platform/file_system.h"
#include "platform/forwarding_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/process.h"
#include "tests/support/temp_dir_test.h"

namespace strata::platform {
namespace {

class FileSystemTest : public strata::testing::TempDirTest {
 protected:
  static std::string Content(FileHandle& handle) {
    std::string text(static_cast<std::size_t>(handle.Size()), '\0');
    handle.ReadAt(0, std::as_writable_bytes(std::span(text)));
    return text;
  }
  // Runs body in a child process and returns its exit status.
  static int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
  }

  FileSystem& fs_ = DefaultFileSystem();
};

TEST_F(FileSystemTest, NamesAreFoundWithoutRegardToLetterCase) {
  Put("Accents.DAT", "upper");
  EXPECT_TRUE(fs_.FileExists(dir_ + "accents.dat"));
  OpenedFile opened = fs_.Open(dir_ + "accents.dat", {});
  ASSERT_TRUE(opened.handle);
  EXPECT_EQ(Content(*opened.handle), "upper");
  opened.handle.reset();

  Put("ACCENTS.dat", "lowest");  // lower in byte order than "Accents.DAT"
  EXPECT_EQ(Content(*fs_.Open(dir_ + "accents.dat", {}).handle), "lowest");
  Put("accents.dat", "exact");
  EXPECT_EQ(Content(*fs_.Open(dir_ + "accents.dat", {}).handle), "exact");

  EXPECT_TRUE(fs_.Delete(dir_ + "ACCENTS.DAT"));  // removes "ACCENTS.dat"
  EXPECT_FALSE(std::filesystem::exists(dir_ + "ACCENTS.dat"));
  EXPECT_FALSE(fs_.FileExists(dir_ + "missing.dat"));
  std::filesystem::create_directory(dir_ + "folder.dat");
  EXPECT_FALSE(fs_.FileExists(dir_ + "folder.dat"));
}

TEST_F(FileSystemTest, SyncsDirectoriesThatExist) {
  FileSystem& fs = DefaultFileSystem();
  EXPECT_TRUE(fs.SyncDirectory(dir_));
  EXPECT_FALSE(fs.SyncDirectory(dir_ + "missing/"));
  EXPECT_EQ(errno, ENOENT);
}

// Files and folders synced in one wait, on the threads of the system's
// file system and one after the other through a wrapper: a failure is
// reported by its position (files first) with its errno.
TEST_F(FileSystemTest, SyncAllSyncsEveryFileAndFolderAndNamesTheOneThatFailed) {
  ForwardingFileSystem forwarding(fs_);
  for (FileSystem* files : {&fs_, static_cast<FileSystem*>(&forwarding)}) {
    SCOPED_TRACE(files == &fs_ ? "system" : "forwarding");
    auto a = files->CreateAlways(dir_ + "a.dat");
    auto b = files->CreateAlways(dir_ + "b.dat");
    ASSERT_TRUE(a && b);
    FileHandle* handles[] = {a.get(), b.get()};
    const std::string folders[] = {dir_, dir_ + "missing/"};
    EXPECT_EQ(files->SyncAll(handles, std::span(folders, 1)), -1);
    EXPECT_EQ(files->SyncAll({}, std::span(folders, 1)), -1);
    errno = 0;
    EXPECT_EQ(files->SyncAll(handles, folders), 3);
    EXPECT_EQ(errno, ENOENT);
    a.reset();
    b.reset();
    ASSERT_TRUE(files->Delete(dir_ + "a.dat") && files->Delete(dir_ + "b.dat"));
  }
}

TEST_F(FileSystemTest, DirectoriesAreMadeListedAndRemovedApartFromFiles) {
  EXPECT_TRUE(fs_.CreateDirectory(dir_ + ".work-1"));
  EXPECT_FALSE(fs_.CreateDirectory(dir_ + ".work-1"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_TRUE(fs_.CreateDirectory(dir_ + ".Work-0"));
  Put(".work-file", "not a directory");
  std::vector<std::string> names;
  ASSERT_TRUE(fs_.ListDirectories(dir_, ".work-*", names));
  EXPECT_EQ(names, (std::vector<std::string>{".Work-0", ".work-1"}));
  ASSERT_TRUE(fs_.ListFiles(dir_, ".work-*", names));
  EXPECT_EQ(names, std::vector<std::string>{".work-file"});

  Put(".work-1/inside", "x");
  EXPECT_FALSE(fs_.RemoveDirectory(dir_ + ".work-1"));  // not empty
  std::filesystem::remove(dir_ + ".work-1/inside");
  EXPECT_TRUE(fs_.RemoveDirectory(dir_ + ".work-1"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + ".work-1"));
}

TEST_F(FileSystemTest, RenameNeverReplacesAFile) {
  Put("a.dat", "a");
  Put("b.dat", "b");
  for (const char* target : {"b.dat", "B.DAT"}) {
    errno = 0;
    EXPECT_FALSE(fs_.Rename(dir_ + "a.dat", dir_ + target)) << target;
    EXPECT_EQ(errno, EEXIST) << target;
  }
  EXPECT_EQ(Content(*fs_.Open(dir_ + "b.dat", {}).handle), "b");
  EXPECT_TRUE(fs_.Rename(dir_ + "A.DAT", dir_ + "c.dat"));
  EXPECT_EQ(Content(*fs_.Open(dir_ + "c.dat", {}).handle), "a");
  EXPECT_FALSE(fs_.FileExists(dir_ + "a.dat"));
}

TEST_F(FileSystemTest, ShareModesHoldAgainstOtherProcesses) {
  const std::string path = Put("t.dat", "x");
  struct Case {
    bool heldExclusive;
    bool askExclusive;
    bool granted;
  };
  for (const Case c : {Case{false, false, true}, Case{false, true, false}, Case{true, false, false},
                       Case{true, true, false}}) {
    OpenedFile held = fs_.Open(path, {.exclusive = c.heldExclusive});
    ASSERT_TRUE(held.handle);
    const int status = InChild([&] {
      OpenedFile other = DefaultFileSystem().Open(path, {.exclusive = c.askExclusive});
      if (other.handle) return 0;
      return errno == EAGAIN ? 1 : 2;
    });
    EXPECT_EQ(status, c.granted ? 0 : 1) << c.heldExclusive << c.askExclusive;
  }
}

TEST_F(FileSystemTest, FilesHeldOpenAreNeitherEmptiedNorDeletedNorRenamed) {
  const std::string path = Put("held.dat", "content");
  OpenedFile held = fs_.Open(path, {});
  ASSERT_TRUE(held.handle);
  errno = 0;
  EXPECT_EQ(fs_.CreateAlways(path), nullptr);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_FALSE(fs_.Delete(path));
  EXPECT_FALSE(fs_.Rename(path, dir_ + "moved.dat"));
  EXPECT_EQ(Content(*held.handle), "content");
  held.handle.reset();

  std::unique_ptr<FileHandle> created = fs_.CreateAlways(path);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->Size(), 0);
}

TEST_F(FileSystemTest, CreateNewRefusesAnyExistingNameAndLocksTheNewFile) {
  Put("Taken.DAT", "kept");
  for (const char* name : {"Taken.DAT", "taken.dat"}) {
    errno = 0;
    EXPECT_EQ(fs_.CreateNew(dir_ + name), nullptr) << name;
    EXPECT_EQ(errno, EEXIST) << name;
  }
  EXPECT_EQ(Content(*fs_.Open(dir_ + "taken.dat", {}).handle), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "taken.dat"));

  std::unique_ptr<FileHandle> created = fs_.CreateNew(dir_ + "Fresh.dat");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "Fresh.dat"));
  // Held exclusively: no other program opens it while it is being filled.
  EXPECT_EQ(InChild([&] { return DefaultFileSystem().Open(dir_ + "fresh.dat", {}).handle ? 0 : 1; }),
            1);
}

TEST_F(FileSystemTest, FileWithoutWriteBitOpensForcedReadOnly) {
  const std::string path = Put("ro.dat", "data");
  ::chmod(path.c_str(), 0444);
  OpenedFile opened = fs_.Open(path, {});
  ASSERT_TRUE(opened.handle);
  EXPECT_TRUE(opened.readOnly);
  EXPECT_TRUE(opened.forcedReadOnly);
  const std::byte one{1};
  EXPECT_EQ(opened.handle->WriteAt(0, std::span(&one, 1)), -1);

  OpenedFile writable = fs_.Open(Put("rw.dat", "data"), {});
  EXPECT_FALSE(writable.readOnly);
  EXPECT_FALSE(writable.forcedReadOnly);
}

TEST_F(FileSystemTest, ByteRangeLocksExcludeOtherDescriptionsAndProcesses) {
  const std::string path = Put("lock.dat", "");
  std::unique_ptr<FileHandle> first = fs_.Open(path, {}).handle;
  std::unique_ptr<FileHandle> second = fs_.Open(path, {}).handle;
  const std::int64_t high = 0x7FFFFFFFFFFFFFF0;
  ASSERT_TRUE(first->LockRange(0xFFFFFFFA, 1));
  ASSERT_TRUE(first->LockRange(high, 4));
  EXPECT_FALSE(second->LockRange(0xFFFFFFFA, 1));
  EXPECT_FALSE(second->LockRange(0xFFFFFFF0, 0x20));
  EXPECT_TRUE(second->LockRange(0xFFFFFFFB, 1));
  EXPECT_EQ(InChild([&] {
              std::unique_ptr<FileHandle> other = DefaultFileSystem().Open(path, {}).handle;
              if (other->LockRange(0xFFFFFFFA, 1) || other->LockRange(high + 2, 1)) return 1;
              return other->LockRange(0xFFFFFFF0, 1) ? 0 : 2;
            }),
            0);
  ASSERT_TRUE(first->UnlockRange(0xFFFFFFFA, 1));
  EXPECT_TRUE(second->LockRange(0xFFFFFFFA, 1));
}

TEST_F(FileSystemTest, ListingMatchesThePatternAndSortsWithoutCase) {
  for (const char* name : {"b.DAT", "A.dat", "c.idx", "strata.lck"}) Put(name, "");
  std::filesystem::create_directory(dir_ + "d.dat");
  std::vector<std::string> names;
  ASSERT_TRUE(fs_.ListFiles(dir_, "*.dat", names));
  EXPECT_EQ(names, (std::vector<std::string>{"A.dat", "b.DAT"}));
  EXPECT_FALSE(fs_.ListFiles(dir_ + "none/", "*", names));
}

TEST(FilePatternTest, WildcardsIgnoreLetterCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  for (const Case c : {Case{"asset.DAT", "*.dat", true}, Case{"asset.dat.bak", "*.dat", false},
                       Case{"a.dat", "?.dat", true}, Case{"ab.dat", "?.dat", false},
                       Case{"x", "*", true}, Case{"my.table.dat", "*.*.dat", true},
                       Case{"dat", "*.dat", false}}) {
    EXPECT_EQ(MatchesFilePattern(c.name, c.pattern), c.matches) << c.name << " " << c.pattern;
  }
  EXPECT_TRUE(FileNameLess("apple", "Banana"));
  EXPECT_TRUE(FileNameLess("ABC", "abc"));  // equal without case: byte order decides
}

TEST(ScopedFileSystemTest, InstallsAndRestores) {
  struct Marker : ForwardingFileSystem {
    bool FileExists(const std::string&) override { return true; }
  } marker;
  {
    ScopedFileSystem scope(marker);
    EXPECT_EQ(&CurrentFileSystem(), &marker);
    EXPECT_TRUE(CurrentFileSystem().FileExists("/no/such/file"));
  }
  EXPECT_EQ(&CurrentFileSystem(), &DefaultFileSystem());
}

}  // namespace
}  // namespace strata::platform
