// The simulated disk: the same answers as the POSIX file system where the
// engine depends on them (each case runs on both), and the states a power
// cut may leave: nothing unsynced is promised, names changed in a folder
// survive in any order unless a sync of the folder came between, a change
// of a name never survives without the earlier changes of that name, a
// rename into a folder is durable with that folder's sync, a write may be
// torn or leave zeros.
#include "tests/support/simulated_disk.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "tests/support/power_cut_recorder.h"
#include "tests/support/temp_dir_test.h"

namespace strata::testing {
namespace {

using platform::FileHandle;
using platform::FileSystem;

std::span<const std::byte> Text(const std::string& text) {
  return std::as_bytes(std::span(text));
}

std::string Content(FileHandle& handle) {
  std::string text(static_cast<std::size_t>(handle.Size()), '\0');
  handle.ReadAt(0, std::as_writable_bytes(std::span(text)));
  return text;
}

std::string ImageText(const DiskImage& image, const std::string& path) {
  const auto found = image.Files.find(path);
  if (found == image.Files.end()) return "<missing>";
  const std::vector<std::uint8_t> bytes = found->second.All();
  return std::string(bytes.begin(), bytes.end());
}

// Each case on the POSIX file system (in a private folder) and on the
// simulated disk: the engine must not be able to tell them apart.
class SeamBehaviourTest : public TempDirTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (GetParam()) {
      fs_ = &disk_;
      root_ = "/data/";
      ASSERT_TRUE(disk_.CreateDirectory("/data"));
    } else {
      fs_ = &platform::DefaultFileSystem();
      root_ = dir_;
    }
  }
  std::string Put(const std::string& name, const std::string& text) {
    std::unique_ptr<FileHandle> file = fs_->CreateAlways(root_ + name);
    EXPECT_TRUE(file);
    file->WriteAt(0, Text(text));
    return root_ + name;
  }

  SimulatedDisk disk_;
  FileSystem* fs_ = nullptr;
  std::string root_;
};

TEST_P(SeamBehaviourTest, NamesAreFoundWithoutLetterCaseAndCreatedExactly) {
  Put("Accents.DAT", "upper");
  EXPECT_TRUE(fs_->FileExists(root_ + "accents.dat"));
  EXPECT_EQ(Content(*fs_->Open(root_ + "accents.dat", {}).handle), "upper");
  Put("ACCENTS.dat", "lowest");  // lower in byte order than "Accents.DAT"
  EXPECT_EQ(Content(*fs_->Open(root_ + "accents.dat", {}).handle), "lowest");
  for (const char* taken : {"ACCENTS.dat", "accents.DAT"}) {
    errno = 0;
    EXPECT_EQ(fs_->CreateNew(root_ + taken), nullptr) << taken;
    EXPECT_EQ(errno, EEXIST) << taken;
  }
  EXPECT_TRUE(fs_->Delete(root_ + "ACCENTS.DAT"));  // removes "ACCENTS.dat"
  EXPECT_EQ(Content(*fs_->Open(root_ + "accents.dat", {}).handle), "upper");

  std::vector<std::string> names;
  Put("b.DAT", "");
  Put("c.idx", "");
  ASSERT_TRUE(fs_->CreateDirectory(root_ + "d.dat"));
  ASSERT_TRUE(fs_->ListFiles(root_, "*.dat", names));
  EXPECT_EQ(names, (std::vector<std::string>{"Accents.DAT", "b.DAT"}));
  ASSERT_TRUE(fs_->ListDirectories(root_, "*", names));
  EXPECT_EQ(names, std::vector<std::string>{"d.dat"});
  EXPECT_FALSE(fs_->FileExists(root_ + "d.dat"));
  errno = 0;
  EXPECT_FALSE(fs_->ListFiles(root_ + "none/", "*", names));
  EXPECT_EQ(errno, ENOENT);
}

TEST_P(SeamBehaviourTest, RenamesNeverReplaceAndHeldFilesStayPut) {
  const std::string a = Put("a.dat", "a");
  Put("b.dat", "b");
  for (const char* target : {"b.dat", "B.DAT"}) {
    errno = 0;
    EXPECT_FALSE(fs_->Rename(a, root_ + target)) << target;
    EXPECT_EQ(errno, EEXIST) << target;
  }
  {
    platform::OpenedFile held = fs_->Open(a, {});
    ASSERT_TRUE(held.handle);
    for (const auto& [what, refused] : std::vector<std::pair<std::string, std::function<bool()>>>{
             {"rename", [&] { return !fs_->Rename(a, root_ + "c.dat"); }},
             {"delete", [&] { return !fs_->Delete(a); }},
             {"create always", [&] { return fs_->CreateAlways(a) == nullptr; }},
             {"exclusive open", [&] { return !fs_->Open(a, {.exclusive = true}).handle; }}}) {
      errno = 0;
      EXPECT_TRUE(refused()) << what;
      EXPECT_EQ(errno, EAGAIN) << what;
    }
    EXPECT_TRUE(fs_->Open(a, {}).handle) << "a second shared open";
  }
  EXPECT_TRUE(fs_->Rename(root_ + "A.DAT", root_ + "c.dat"));
  EXPECT_EQ(Content(*fs_->Open(root_ + "c.dat", {}).handle), "a");
  EXPECT_FALSE(fs_->FileExists(a));
  errno = 0;
  EXPECT_FALSE(fs_->Rename(a, root_ + "d.dat"));
  EXPECT_EQ(errno, ENOENT);
}

TEST_P(SeamBehaviourTest, ByteRangeLocksExcludeOtherDescriptionsOnly) {
  const std::string path = Put("lock.dat", "");
  std::unique_ptr<FileHandle> first = fs_->Open(path, {}).handle;
  std::unique_ptr<FileHandle> second = fs_->Open(path, {}).handle;
  ASSERT_TRUE(first->LockRange(0xFFFFFFFA, 1));
  EXPECT_TRUE(first->LockRange(0xFFFFFFFA, 1)) << "a description never conflicts with itself";
  EXPECT_FALSE(second->LockRange(0xFFFFFFF0, 0x20));
  EXPECT_TRUE(second->LockRange(0xFFFFFFFB, 1));
  ASSERT_TRUE(first->UnlockRange(0xFFFFFFFA, 1));
  EXPECT_TRUE(second->LockRange(0xFFFFFFFA, 1));
  first.reset();
  EXPECT_TRUE(fs_->Open(path, {}).handle->LockRange(0, 1)) << "locks end with their description";
}

TEST_P(SeamBehaviourTest, FoldersAreMadeOnceAndRemovedWhenEmpty) {
  EXPECT_TRUE(fs_->CreateDirectory(root_ + "w"));
  errno = 0;
  EXPECT_FALSE(fs_->CreateDirectory(root_ + "w"));
  EXPECT_EQ(errno, EEXIST);
  Put("w/inside", "x");
  EXPECT_FALSE(fs_->RemoveDirectory(root_ + "w"));
  EXPECT_TRUE(fs_->Delete(root_ + "w/inside"));
  EXPECT_TRUE(fs_->RemoveDirectory(root_ + "w"));
  EXPECT_TRUE(fs_->SyncDirectory(root_));
  errno = 0;
  EXPECT_FALSE(fs_->SyncDirectory(root_ + "w/"));
  EXPECT_EQ(errno, ENOENT);
  std::unique_ptr<FileHandle> file = fs_->CreateAlways(root_ + "t.dat");
  file->WriteAt(10, Text("xy"));
  EXPECT_EQ(file->Size(), 12);
  std::string head(4, '?');
  EXPECT_EQ(file->ReadAt(8, std::as_writable_bytes(std::span(head))), 4);
  EXPECT_EQ(head, std::string("\0\0xy", 4));
  ASSERT_TRUE(file->Truncate(11));
  EXPECT_EQ(file->ReadAt(8, std::as_writable_bytes(std::span(head))), 3);
}

INSTANTIATE_TEST_SUITE_P(PosixAndSimulated, SeamBehaviourTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Simulated" : "Posix";
                         });

// Power cuts.

class PowerCutStatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(disk_.CreateDirectory("/db"));
    disk_.SyncEverything();
  }
  void Write(const std::string& path, const std::string& text, bool sync) {
    std::unique_ptr<FileHandle> file = disk_.CreateAlways(path);
    ASSERT_TRUE(file);
    file->WriteAt(0, Text(text));
    if (sync) file->Sync();
  }
  // Every distinct state over many power cuts, as the files' texts.
  std::set<std::map<std::string, std::string>> Outcomes(double survival, bool tear = false) {
    std::set<std::map<std::string, std::string>> outcomes;
    std::mt19937_64 random(7);
    for (int i = 0; i < 400; ++i) {
      const DiskImage image = disk_.PowerCut(random, survival, tear);
      std::map<std::string, std::string> texts;
      for (const auto& [path, bytes] : image.Files) texts[path] = ImageText(image, path);
      outcomes.insert(texts);
    }
    return outcomes;
  }

  SimulatedDisk disk_;
};

TEST_F(PowerCutStatesTest, OnlySyncedBytesAndNamesArePromised) {
  Write("/db/a", "old", true);
  ASSERT_TRUE(disk_.SyncDirectory("/db"));
  Write("/db/a", "new", false);  // emptied and rewritten, not synced
  Write("/db/b", "synced data", true);  // its name is not durable
  EXPECT_EQ(ImageText(disk_.Issued(), "/db/a"), "new");
  EXPECT_EQ(ImageText(disk_.Issued(), "/db/b"), "synced data");
  EXPECT_EQ(ImageText(disk_.Synced(), "/db/a"), "old");
  EXPECT_EQ(ImageText(disk_.Synced(), "/db/b"), "<missing>");

  // Old, emptied or new; the new name with its synced bytes or not at all.
  std::set<std::string> a;
  std::set<std::string> b;
  for (const auto& outcome : Outcomes(0.5)) {
    a.insert(outcome.at("/db/a"));
    b.insert(outcome.contains("/db/b") ? outcome.at("/db/b") : "<missing>");
  }
  EXPECT_EQ(a, (std::set<std::string>{"old", "", "new", std::string(3, '\0')}));
  EXPECT_EQ(b, (std::set<std::string>{"synced data", "<missing>"}));

  ASSERT_TRUE(disk_.SyncDirectory("/db/"));
  EXPECT_EQ(ImageText(disk_.Synced(), "/db/b"), "synced data");
  EXPECT_EQ(ImageText(SimulatedDisk(disk_.Synced()).Issued(), "/db/b"), "synced data");
}

TEST_F(PowerCutStatesTest, RenamesReachTheDiskInAnyOrderUnlessAFolderSyncCameBetween) {
  // The swap of a rebuilt table: the old files aside, the new ones in.
  const auto swap = [&](const std::string& folder, bool syncBetween) {
    ASSERT_TRUE(disk_.CreateDirectory(folder));
    for (const char* name : {"x.dat", "x.idx", "x.dat.new~", "x.idx.new~"}) {
      Write(folder + name, name, true);
    }
    ASSERT_TRUE(disk_.SyncDirectory(folder));
    ASSERT_TRUE(disk_.SyncDirectory("/"));
    ASSERT_TRUE(disk_.Rename(folder + "x.dat", folder + "x.dbk"));
    ASSERT_TRUE(disk_.Rename(folder + "x.idx", folder + "x.ibk"));
    if (syncBetween) {
      ASSERT_TRUE(disk_.SyncDirectory(folder));
    }
    ASSERT_TRUE(disk_.Rename(folder + "x.dat.new~", folder + "x.dat"));
    ASSERT_TRUE(disk_.Rename(folder + "x.idx.new~", folder + "x.idx"));
  };
  swap("/out-of-order/", false);
  bool outOfOrder = false;
  for (const auto& files : Outcomes(0.5)) {
    // A name is never taken before it was given up, nor a file in two places.
    EXPECT_EQ(files.size(), 4u);
    const bool idxMoved = files.contains("/out-of-order/x.ibk");
    const auto dat = files.find("/out-of-order/x.dat");
    if (dat != files.end() && dat->second == "x.dat.new~" && !idxMoved) outOfOrder = true;
  }
  EXPECT_TRUE(outOfOrder) << "a later rename kept while an earlier one was lost";

  disk_.SyncEverything();
  swap("/in-order/", true);
  for (const auto& files : Outcomes(0.5)) {
    EXPECT_TRUE(files.contains("/in-order/x.dbk") && files.contains("/in-order/x.ibk"));
  }
}

TEST_F(PowerCutStatesTest, ARenameIntoAFolderIsDurableWithThatFoldersSync) {
  ASSERT_TRUE(disk_.CreateDirectory("/db/.temp"));
  Write("/db/.temp/t.dat", "rebuilt", true);
  ASSERT_TRUE(disk_.Rename("/db/.temp/t.dat", "/db/x.dat.new~"));
  EXPECT_EQ(ImageText(disk_.Synced(), "/db/x.dat.new~"), "<missing>");
  for (const auto& files : Outcomes(0.5)) {
    // The folder made and the file created in it may be lost; the renamed
    // file is in one place or the other or, with its folder, gone.
    EXPECT_LE(files.size(), 1u);
  }
  ASSERT_TRUE(disk_.SyncDirectory("/db/"));
  for (const auto& files : Outcomes(0.5)) {
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"/db/x.dat.new~", "rebuilt"}}));
  }
}

TEST_F(PowerCutStatesTest, TheLastWriteTearsAtASectorBoundary) {
  std::unique_ptr<FileHandle> file = disk_.CreateAlways("/db/j");
  ASSERT_TRUE(disk_.SyncDirectory("/db"));
  file->WriteAt(0, Text("STRJRNL1"));
  file->Sync();
  const std::string entry(1500, 'e');
  file->WriteAt(8, Text(entry));
  std::set<std::size_t> written;
  for (const auto& files : Outcomes(1.0, true)) {
    const std::string& text = files.at("/db/j");
    ASSERT_EQ(text.size(), 1508u) << "the size the write gave";
    written.insert(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  }
  EXPECT_EQ(written, (std::set<std::size_t>{8, 512, 1024}));
}

TEST_F(PowerCutStatesTest, TheRecorderTakesEverySyncAndTheMomentBeforeIt) {
  PowerCutRecorder::Plan plan;
  plan.Every = 0;
  plan.RandomStates = 2;
  std::set<std::string> moments;
  {
    PowerCutRecorder recorder(disk_, plan);
    Write("/db/a", "a", true);  // create, write, sync
    ASSERT_TRUE(disk_.Rename("/db/a", "/db/b"));
    ASSERT_TRUE(disk_.SyncDirectory("/db"));
    // The write and the sync, the rename and the sync.
    EXPECT_EQ(recorder.Moments(), 4);
    for (const auto& state : recorder.States()) moments.insert(state.Moment);
    EXPECT_LT(recorder.States().size(), static_cast<std::size_t>(recorder.Taken()));
  }
  EXPECT_TRUE(moments.contains("after operation 5 (rename /db/a -> /db/b): everything issued"));
  EXPECT_FALSE(disk_.OnOperation);
}

}  // namespace
}  // namespace strata::testing
