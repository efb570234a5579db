#include "platform/output_target.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir_test.h"

namespace strata::platform {
namespace {

using OutputTargetTest = strata::testing::TempDirTest;

// What a writer must tell apart: a file it may replace through a temporary
// file, and every kind it must write in place or refuse.
TEST_F(OutputTargetTest, DescribesEachKindOfPathThroughALink) {
  Put("file", "x");
  ::chmod((dir_ + "file").c_str(), 0640);
  Put("linked", "x");
  ASSERT_EQ(::link((dir_ + "linked").c_str(), (dir_ + "second").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "file").c_str(), (dir_ + "to-file").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "nothing").c_str(), (dir_ + "dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir_ + "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir_ + "folder");

  const struct {
    std::string path;
    bool exists, symlink, folder, regular;
    std::uint64_t links;
  } cases[] = {
      {dir_ + "missing", false, false, false, false, 0},
      {dir_ + "file", true, false, false, true, 1},
      {dir_ + "linked", true, false, false, true, 2},
      {dir_ + "to-file", true, true, false, true, 1},
      {dir_ + "dangling", true, true, false, false, 0},
      {dir_ + "fifo", true, false, false, false, 1},
      {dir_ + "folder", true, false, true, false, 0},
      {"/dev/null", true, false, false, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    OutputPathDescription description;
    ASSERT_TRUE(DescribeOutputPath(c.path, description)) << errno;
    EXPECT_EQ(description.Exists, c.exists);
    EXPECT_EQ(description.Symlink, c.symlink);
    EXPECT_EQ(description.Folder, c.folder);
    EXPECT_EQ(description.Regular, c.regular);
    if (!c.folder) {  // a folder's count varies by file system
      EXPECT_EQ(description.Links, c.links);
    }
  }
  OutputPathDescription file;
  ASSERT_TRUE(DescribeOutputPath(dir_ + "to-file", file));
  EXPECT_EQ(file.Mode, 0640u);
  EXPECT_EQ(file.OwnerId, ::geteuid());

  OutputPathDescription unreadable;
  EXPECT_FALSE(DescribeOutputPath(dir_ + "file/below", unreadable));
  EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(OutputTargetTest, ATemporaryFileIsWrittenAndRenamedOverTheOldOne) {
  Put("out", "old contents");
  OutputDescriptor file;
  ASSERT_TRUE(file.CreateNew(dir_ + ".out.tmp"));
  EXPECT_TRUE(file.IsRegularFile());
  EXPECT_TRUE(file.SetMode(0604));
  ASSERT_TRUE(file.WriteAll("new"));
  ASSERT_TRUE(file.Sync());
  ASSERT_TRUE(file.Close());
  EXPECT_TRUE(file.Close());  // a second close has nothing to do

  OutputDescriptor again;
  EXPECT_FALSE(again.CreateNew(dir_ + ".out.tmp"));
  EXPECT_EQ(errno, EEXIST);

  ASSERT_TRUE(RenameOver(dir_ + ".out.tmp", dir_ + "out"));
  EXPECT_EQ(Slurp("out"), "new");
  OutputPathDescription out;
  ASSERT_TRUE(DescribeOutputPath(dir_ + "out", out));
  EXPECT_EQ(out.Mode, 0604u);

  InputDescriptor in;
  ASSERT_TRUE(in.Open(dir_ + "out"));
  char buffer[8];
  EXPECT_EQ(in.Read(buffer), 3);
  EXPECT_EQ(in.Read(buffer), 0);

  EXPECT_TRUE(RemoveFile(dir_ + "out"));
  EXPECT_FALSE(RemoveFile(dir_ + "out"));
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(OutputTargetTest, OpeningForWritingKeepsTheBytesUntilTruncated) {
  Put("kept", "abcdef");
  OutputDescriptor file;
  ASSERT_TRUE(file.OpenForWriting(dir_ + "kept"));
  ASSERT_TRUE(file.WriteAll("XY"));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(Slurp("kept"), "XYcdef");

  ASSERT_TRUE(file.OpenForWriting(dir_ + "kept"));
  ASSERT_TRUE(file.Truncate());
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(Slurp("kept"), "");

  OutputDescriptor device;
  ASSERT_TRUE(device.OpenForWriting("/dev/full"));
  EXPECT_FALSE(device.IsRegularFile());
  EXPECT_FALSE(device.WriteAll("x"));
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
}  // namespace strata::platform
