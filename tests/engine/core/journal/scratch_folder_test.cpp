// Scratch folders: a run's own folder goes with it unless a failure left
// files in it; the folders of runs that died are removed by the next run,
// those of live runs never.
#include "engine/core/journal/scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tests/engine/files/files_test_support.h"

namespace strata {
namespace {

using strata::testing::InChild;

class ScratchFolderTest : public strata::testing::TempDirTest {
 protected:
  std::vector<std::string> Folders() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ScratchFolderTest, AFolderGoesWithItsRunUnlessAFailureLeftFilesInIt) {
  std::string path;
  {
    ScratchFolder folder(platform::CurrentFileSystem(), dir_);
    path = folder.Path();
    EXPECT_EQ(path.rfind(dir_ + ".strata-temp-", 0), 0u) << path;
    Put(path.substr(dir_.size()) + "strata.lck", "its database's lock file");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  {
    ScratchFolder folder(platform::CurrentFileSystem(), dir_);
    path = folder.Path();
    Put(path.substr(dir_.size()) + "123450.ibk", "a copy a journal may need");
  }
  EXPECT_TRUE(std::filesystem::exists(path + "123450.ibk"));
  ScratchFolder::RemoveAbandoned(platform::CurrentFileSystem(), dir_);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ScratchFolderTest, OnlyTheFoldersOfDeadRunsAreRemoved) {
  // A run that died holding a temporary table, and a folder that lost its
  // owner file.
  ASSERT_EQ(InChild([&] {
              const ScratchFolder* folder = new ScratchFolder(platform::CurrentFileSystem(), dir_);
              Put(folder->Path().substr(dir_.size()) + "123450.dat", "half a table");
              return 0;  // ends without removing it
            }),
            0);
  std::filesystem::create_directory(dir_ + ".strata-temp-1-0");
  ScratchFolder live(platform::CurrentFileSystem(), dir_);
  Put(live.Path().substr(dir_.size()) + "543210.dat", "a table in the making");
  Put(".strata-temp-file", "not a folder");
  std::filesystem::create_directory(dir_ + "other-folder");
  ASSERT_EQ(Folders().size(), 4u);

  ScratchFolder::RemoveAbandoned(platform::CurrentFileSystem(), dir_);
  const std::string liveName = live.Path().substr(dir_.size(), live.Path().size() - dir_.size() - 1);
  EXPECT_EQ(Folders(), (std::vector<std::string>{liveName, "other-folder"}));
  EXPECT_TRUE(std::filesystem::exists(live.Path() + "543210.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + ".strata-temp-file"));
}

}  // namespace
}  // namespace strata
