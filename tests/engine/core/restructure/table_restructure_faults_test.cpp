// A restructure under failing file operations and under crashes: the n-th
// operation fails (or is the last one before the process dies), for every n
// the restructure performs, and afterwards the table as the next user finds
// it must hold either its complete old structure and rows or its complete
// new ones, verify clean, with no staged, temporary or journal file left
// behind. Full rebuilds, index-only rebuilds (one that deletes a duplicate)
// and header-only updates, with the temporary directory on the same or on
// another file system. With the temporary directory on the same file
// system the rounds run on the simulated disk (in memory, quick); across
// file systems, on the real ones.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>

#include "engine/core/journal/scratch_folder.h"
#include "engine/core/objects/data_engine.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "platform/file_system.h"
#include "platform/forwarding_file_system.h"
#include "platform/os_error.h"
#include "tests/engine/core/faulting_file_system.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/support/simulated_disk.h"

namespace strata {
namespace {

using namespace strata::testing;

// An engine of its own over one directory, so that every round starts and
// ends with no file held open.
struct Database {
  Database(const std::string& path, const std::string& privatePath,
           const std::function<void(DataEngineOptions&)>& configure = {}) {
    strata::testing::UseQuickLocks(engine);
    if (configure) configure(engine.Options());
    engine.Activate();
    TDataSession& session = strata::testing::QuickSession(engine);
    session.SetPrivateDirectory(privatePath);
    directory = &session.OpenDirectory("faults", path);
  }
  TDataEngine engine;
  TDataDirectory* directory = nullptr;
};

enum class Change { FullRebuild, IndexOnly, HeaderOnly };

struct FaultCase {
  Change change;
  bool otherFileSystem;
  bool dies;
  // A memory budget so small that the index builds spill sorted runs.
  bool spills = false;
};

std::string CaseText(const FaultCase& c) {
  const char* change = c.change == Change::FullRebuild ? "FullRebuild"
                       : c.change == Change::IndexOnly ? "IndexOnly"
                                                       : "HeaderOnly";
  return std::string(change) + (c.otherFileSystem ? "TempElsewhere" : "TempAlongside") +
         (c.dies ? "Killed" : "Failing") + (c.spills ? "Spilling" : "");
}

void PrintTo(const FaultCase& c, std::ostream* out) { *out << CaseText(c); }

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return CaseText(info.param);
}

// people: ID integer, Name string[30], Code string[10], Notes memo, with
// three rows (rows 2 and 3 share their Code). The full rebuild widens Code
// and adds an integer Extra; the index-only rebuild adds a unique index on
// Code, which deletes row 3; the header-only update renames Name.
class RestructureFaultTest : public strata::testing::TempDirTest,
                             public ::testing::WithParamInterface<FaultCase> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (!GetParam().otherFileSystem) {
      disk_ = std::make_unique<SimulatedDisk>();
      disk_->SetTracking(false);
      diskScope_.emplace(*disk_);
      MakeFolders(dir_);
    }
    if (GetParam().otherFileSystem) {
      // The temporary directory on another file system: the new files come
      // next to the table by copying.
      struct stat tmp {}, shm {};
      if (::stat(dir_.c_str(), &tmp) != 0 || ::stat("/dev/shm", &shm) != 0 ||
          tmp.st_dev == shm.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
      }
      std::string pattern = "/dev/shm/restructure-XXXXXX";
      ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
      privateDir_ = pattern + "/";
    } else {
      privateDir_ = dir_ + "private/";
      Files().CreateDirectory(privateDir_);
    }
  }
  void TearDown() override {
    if (GetParam().otherFileSystem && !privateDir_.empty()) {
      std::filesystem::remove_all(privateDir_);
    }
    diskScope_.reset();
    TempDirTest::TearDown();
  }

  // The file system of the rounds: the simulated disk, or the real one when
  // the temporary directory lies on another file system.
  static platform::FileSystem& Files() { return platform::CurrentFileSystem(); }

  // Makes a folder and its missing parents.
  static void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      Files().CreateDirectory(path.substr(0, slash));
    }
  }

  // Removes a folder with everything in it.
  static void RemoveTree(const std::string& folder) {
    std::vector<std::string> names;
    if (Files().ListDirectories(folder, "*", names)) {
      for (const std::string& name : names) RemoveTree(folder + name + "/");
    }
    if (Files().ListFiles(folder, "*", names)) {
      for (const std::string& name : names) Files().Delete(folder + name);
    }
    Files().RemoveDirectory(folder);
  }

  std::string Text(const std::string& path) {
    platform::OpenedFile opened = Files().Open(path, {.readOnly = true});
    if (!opened.handle) return "<missing>";
    std::string text(static_cast<std::size_t>(opened.handle->Size()), '\0');
    opened.handle->ReadAt(0, std::as_writable_bytes(std::span(text)));
    return text;
  }

  void CreatePeople(TDataDirectory& directory) {
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
    indexes[0] = IndexDef("", {1}).Unique();
    indexes[1] = IndexDef("ByName", {2});
    {
      TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
      std::vector<FieldDescriptor> fields = {
          FieldDef(1, "ID").Integer(), FieldDef(2, "Name").String(30),
          FieldDef(3, "Code").String(10), FieldDef(4, "Notes").Memo()};
      cursor.CreateTableFiles({}, {fields, indexes, 1});
    }
    TDataCursor cursor(directory, "people");
    cursor.Open();
    for (int id = 1; id <= 3; ++id) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      cursor.SetField(record, 1, Int32Bytes(id));
      cursor.SetField(record, 2, TextBytes("name " + std::to_string(id) + '\0'));
      cursor.SetField(record, 3, TextBytes("code" + std::to_string(std::min(id, 2)) + '\0'));
      cursor.SetBlobValue(record, 4, TextBytes(std::string(3000, static_cast<char>('a' + id))));
      cursor.InsertRecord(record);
    }
    cursor.Close();
  }

  // The structure the full rebuild brings the table to.
  struct Structure {
    std::vector<FieldDescriptor> fields;
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
  };
  Structure Rebuilt(TDataDirectory& directory) {
    Structure wanted;
    {
      TDataCursor cursor(directory, "people");
      cursor.Open(true);
      wanted.fields.assign(cursor.Fields().begin(), cursor.Fields().end());
    }
    wanted.fields[2] = FieldDef(3, "Code").String(20);
    wanted.fields.push_back(FieldDef(5, "Extra").Integer());
    wanted.indexes[0] = IndexDef("", {1}).Unique();
    wanted.indexes[1] = IndexDef("ByName", {2});
    return wanted;
  }

  // Builds the table in a fresh directory, then restructures it with the
  // n-th file operation failing (or, with dies, being the last). The
  // temporary tables go to a scratch folder, as in an update run. Returns
  // how many operations the restructure did and names the failed one.
  int RestructureFailingAt(const std::string& path, int failAt, std::string* failed = nullptr) {
    Files().CreateDirectory(path);
    Files().CreateDirectory(privateDir_);
    FaultingFileSystem faults(Files());
    {
      platform::ScopedFileSystem scope(faults);
      auto scratch = std::make_unique<ScratchFolder>(platform::CurrentFileSystem(), privateDir_);
      Database database(path, scratch->Path(), [&](DataEngineOptions& options) {
        if (GetParam().spills) options.MemoryBudget = 256;
      });
      CreatePeople(*database.directory);
      auto [fields, indexes] = Rebuilt(*database.directory);
      int secondary = 1;
      switch (GetParam().change) {
        case Change::FullRebuild:
          break;
        case Change::IndexOnly:
          fields.pop_back();
          fields[2] = FieldDef(3, "Code").String(10);
          indexes[2] = IndexDef("ByCode", {3}).Unique();
          secondary = 2;
          break;
        case Change::HeaderOnly:
          fields.pop_back();
          fields[2] = FieldDef(3, "Code").String(10);
          fields[1].Name = "FullName";
          break;
      }
      faults.failAt = failAt;
      faults.dies = GetParam().dies;
      faults.armed = true;
      try {
        TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
        RestructureOptions options;
        options.SuppressBackups = suppressBackups_;
        cursor.RestructureTable(options, {fields, indexes, secondary});
      } catch (const EStrataEngineError&) {
      }
      // The engine and the scratch folder go while the faults are in force:
      // after a crash nothing of theirs reaches the disk.
    }
    if (failed != nullptr) *failed = faults.failed;
    return faults.count;
  }

  // The table as the next user finds it (field names and row texts), once
  // the update run's recovery is done, and whether verify finds it clean.
  std::vector<std::string> Contents(const std::string& path, bool* clean = nullptr) {
    Database database(path, privateDir_);
    database.directory->RecoverTables();
    ScratchFolder::RemoveAbandoned(platform::CurrentFileSystem(), privateDir_);
    std::vector<std::string> contents;
    {
      TDataCursor cursor(*database.directory, "people");
      cursor.Open(true);
      for (const FieldDescriptor& field : cursor.Fields()) contents.push_back(field.Name);
    }
    for (std::string& row : strata::testing::RowTexts(*database.directory, "people")) {
      contents.push_back(std::move(row));
    }
    if (clean != nullptr) {
      TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
      *clean = cursor.VerifyOrRepairTable(false);
    }
    return contents;
  }

  // Files other than the table's, its backups and the lock file.
  std::vector<std::string> StrayFiles(const std::string& path) const {
    static const std::set<std::string> expected = {"people.dat", "people.idx", "people.blb",
                                                   "people.dbk", "people.ibk", "people.bbk",
                                                   "strata.lck"};
    std::vector<std::string> stray;
    std::vector<std::string> names;
    Files().ListFiles(path, "*", names);
    for (const std::string& name : names) {
      if (!expected.contains(name)) stray.push_back(name);
    }
    Files().ListDirectories(path, "*", names);
    stray.insert(stray.end(), names.begin(), names.end());
    Files().ListFiles(privateDir_, "*", names);
    for (const std::string& name : names) {
      if (name != "strata.lck") stray.push_back(privateDir_ + name);
    }
    Files().ListDirectories(privateDir_, "*", names);
    for (const std::string& name : names) stray.push_back(privateDir_ + name + "/");
    return stray;
  }

  std::unique_ptr<SimulatedDisk> disk_;
  std::optional<platform::ScopedFileSystem> diskScope_;
  std::string privateDir_;
  bool suppressBackups_ = false;
};

TEST_P(RestructureFaultTest, EveryFailingOperationLeavesTheOldOrTheNewTable) {
  const std::string clean = dir_ + "clean/";
  const int operations = RestructureFailingAt(clean, 0);
  const std::vector<std::string> after = Contents(clean);
  std::vector<std::string> before;
  {
    const std::string untouched = dir_ + "untouched/";
    Files().CreateDirectory(untouched);
    Database database(untouched, privateDir_);
    CreatePeople(*database.directory);
  }
  before = Contents(dir_ + "untouched/");
  ASSERT_NE(before, after);
  switch (GetParam().change) {
    case Change::FullRebuild:
      ASSERT_EQ(after.size(), 5u + 3u);
      EXPECT_EQ(after[4], "Extra");
      EXPECT_EQ(after[5], "1|name 1|code1|" + std::string(3000, 'b') + "|-");
      break;
    case Change::IndexOnly:
      EXPECT_EQ(after.size(), 4u + 2u);  // the row with the second "code2" went
      break;
    case Change::HeaderOnly:
      EXPECT_EQ(after[1], "FullName");
      break;
  }

  int oldOutcomes = 0;
  for (int failAt = 1; failAt <= operations; ++failAt) {
    const std::string path = dir_ + "round" + std::to_string(failAt) + "/";
    std::string failed;
    ASSERT_GE(RestructureFailingAt(path, failAt, &failed), failAt);
    SCOPED_TRACE("operation " + std::to_string(failAt) + ": " + failed);
    bool verified = false;
    const std::vector<std::string> contents = Contents(path, &verified);
    EXPECT_TRUE(contents == before || contents == after);
    EXPECT_TRUE(verified);
    if (contents == before) ++oldOutcomes;
    EXPECT_EQ(StrayFiles(path), std::vector<std::string>{});
    RemoveTree(path);
    RemoveTree(privateDir_);
  }
  // Most operations come before the new files or headers take the table's
  // place.
  EXPECT_GT(oldOutcomes, operations / 2);
}

// Without backups the old files are set aside only until the new ones are
// in place: whatever operation fails, none of them, nor a backup, is left.
TEST_P(RestructureFaultTest, SuppressedBackupsLeaveNoOldFileBehind) {
  if (GetParam().change == Change::HeaderOnly) GTEST_SKIP() << "no files are replaced";
  suppressBackups_ = true;
  const int operations = RestructureFailingAt(dir_ + "clean/", 0);
  for (int failAt = 1; failAt <= operations; ++failAt) {
    const std::string path = dir_ + "round" + std::to_string(failAt) + "/";
    std::string failed;
    RestructureFailingAt(path, failAt, &failed);
    SCOPED_TRACE("operation " + std::to_string(failAt) + ": " + failed);
    bool verified = false;
    Contents(path, &verified);
    EXPECT_TRUE(verified);
    EXPECT_EQ(StrayFiles(path), std::vector<std::string>{});
    for (const char* backup : {"people.dbk", "people.ibk", "people.bbk"}) {
      EXPECT_FALSE(Files().FileExists(path + backup)) << backup;
    }
    RemoveTree(path);
    RemoveTree(privateDir_);
  }
}

TEST_P(RestructureFaultTest, AnInsertFailureNotAboutTheRecordEndsTheRebuild) {
  if (GetParam().change != Change::FullRebuild || GetParam().dies) {
    GTEST_SKIP() << "a failing insert is a full rebuild's";
  }
  const std::string path = dir_ + "db/";
  Files().CreateDirectory(path);
  // One cached record: each insert after the first writes the one before.
  Database database(path, privateDir_,
                    [](DataEngineOptions& options) { options.MaxTableDataBufferSize = 1; });
  CreatePeople(*database.directory);
  const std::vector<std::string> before = {Text(path + "people.dat"), Text(path + "people.idx"),
                                           Text(path + "people.blb")};
  auto [fields, indexes] = Rebuilt(*database.directory);

  // The first record written to the new table's data file fails.
  FaultingFileSystem faults(Files());
  const auto firstRecord = static_cast<std::int64_t>(data_header_layout::kFieldDescriptors +
                                                     kFieldDescriptorSize * fields.size());
  faults.failWrite = [&, done = false](const std::string& file, std::int64_t offset) mutable {
    if (done || file.rfind(privateDir_, 0) != 0 || !file.ends_with(".dat") ||
        offset < firstRecord) {
      return false;
    }
    return done = true;
  };
  std::vector<TDataLossCause> losses;
  std::optional<EStrataEngineError> error;
  {
    platform::ScopedFileSystem scope(faults);
    TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
    cursor.OnDataLost = [&](TDataLossCause cause, std::string_view, bool&, bool&) {
      losses.push_back(cause);
    };
    error = strata::testing::ErrorOf([&] { cursor.RestructureTable({}, {fields, indexes, 1}); });
  }
  ASSERT_TRUE(error) << "the rebuild went on";
  EXPECT_FALSE(faults.failed.empty());
  EXPECT_TRUE(losses.empty());
  EXPECT_TRUE((std::vector<std::string>{Text(path + "people.dat"), Text(path + "people.idx"),
                                        Text(path + "people.blb")}) == before);
  EXPECT_EQ(StrayFiles(path), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Restructures, RestructureFaultTest,
    ::testing::Values(FaultCase{Change::FullRebuild, false, false},
                      FaultCase{Change::FullRebuild, true, false},
                      FaultCase{Change::FullRebuild, false, true},
                      FaultCase{Change::FullRebuild, true, true},
                      FaultCase{Change::IndexOnly, false, false},
                      FaultCase{Change::IndexOnly, false, true},
                      FaultCase{Change::IndexOnly, true, true},
                      FaultCase{Change::FullRebuild, false, false, true},
                      FaultCase{Change::FullRebuild, false, true, true},
                      FaultCase{Change::IndexOnly, false, false, true},
                      FaultCase{Change::HeaderOnly, false, false},
                      FaultCase{Change::HeaderOnly, false, true}),
    CaseName);

}  // namespace
}  // namespace strata
