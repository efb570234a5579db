// A full rebuild under failing file operations: the n-th operation fails,
// for every n the rebuild performs, and afterwards the table must hold either
// its complete old structure and rows or its complete new ones, with no
// staged or temporary file left behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "engine/core/data_engine.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using strata::testing::Bytes;
using strata::testing::Field;
using strata::testing::Int32Bytes;
using strata::testing::MakeIndex;
using strata::testing::TextBytes;

// Forwards to the default file system and fails the failAt-th operation
// (counting from 1) with EIO. Existence tests and unlocking are not counted:
// they have no failure to report. A write also fails when failWrite, given
// the file's path and the write's offset, says so.
class FaultingFileSystem : public platform::FileSystem {
 public:
  int failAt = 0;
  int count = 0;
  std::string failed;  // the operation that failed, for the test's trace
  std::function<bool(const std::string& path, std::int64_t offset)> failWrite;

  bool Fails(const char* operation, const std::string& path = {}) {
    if (++count != failAt) return false;
    failed = std::string(operation) + " " + path;
    platform::SetLastErrorNumber(EIO);
    return true;
  }

  platform::OpenedFile Open(const std::string& path, const platform::OpenRequest& request) override {
    if (Fails("open", path)) return {};
    platform::OpenedFile opened = base_.Open(path, request);
    if (opened.handle) {
      opened.handle = std::make_unique<Handle>(*this, std::move(opened.handle), path);
    }
    return opened;
  }
  std::unique_ptr<platform::FileHandle> CreateAlways(const std::string& path) override {
    if (Fails("create", path)) return nullptr;
    return Wrap(base_.CreateAlways(path), path);
  }
  std::unique_ptr<platform::FileHandle> CreateNew(const std::string& path) override {
    if (Fails("create new", path)) return nullptr;
    return Wrap(base_.CreateNew(path), path);
  }
  bool Delete(const std::string& path) override { return !Fails("delete", path) && base_.Delete(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return !Fails("rename", from) && base_.Rename(from, to);
  }
  bool FileExists(const std::string& path) override { return base_.FileExists(path); }
  bool ListFiles(const std::string& directory, std::string_view pattern,
                 std::vector<std::string>& names) override {
    return !Fails("list", directory) && base_.ListFiles(directory, pattern, names);
  }
  bool SyncDirectory(const std::string& directory) override {
    return !Fails("sync directory", directory) && base_.SyncDirectory(directory);
  }

 private:
  class Handle : public platform::FileHandle {
   public:
    Handle(FaultingFileSystem& owner, std::unique_ptr<platform::FileHandle> inner,
           std::string path)
        : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}
    std::int64_t ReadAt(std::int64_t offset, std::span<std::byte> buffer) override {
      return owner_.Fails("read") ? -1 : inner_->ReadAt(offset, buffer);
    }
    std::int64_t WriteAt(std::int64_t offset, std::span<const std::byte> data) override {
      if (owner_.failWrite && owner_.failWrite(path_, offset)) {
        owner_.failed = "write " + path_;
        platform::SetLastErrorNumber(EIO);
        return -1;
      }
      return owner_.Fails("write") ? -1 : inner_->WriteAt(offset, data);
    }
    std::int64_t Size() override { return owner_.Fails("size") ? -1 : inner_->Size(); }
    bool Truncate(std::int64_t size) override { return !owner_.Fails("truncate") && inner_->Truncate(size); }
    bool Sync() override { return !owner_.Fails("sync") && inner_->Sync(); }
    bool LockRange(std::int64_t offset, std::int64_t length) override {
      return !owner_.Fails("lock") && inner_->LockRange(offset, length);
    }
    bool UnlockRange(std::int64_t offset, std::int64_t length) override {
      return inner_->UnlockRange(offset, length);
    }
    bool Close() override {
      const bool closed = inner_->Close();
      return !owner_.Fails("close") && closed;
    }

   private:
    FaultingFileSystem& owner_;
    std::unique_ptr<platform::FileHandle> inner_;
    std::string path_;
  };

  std::unique_ptr<platform::FileHandle> Wrap(std::unique_ptr<platform::FileHandle> inner,
                                             const std::string& path) {
    return inner ? std::make_unique<Handle>(*this, std::move(inner), path) : nullptr;
  }

  platform::FileSystem& base_ = platform::DefaultFileSystem();
};

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

// people: ID integer, Name string[30], Code string[10], Notes memo, with
// three rows. The rebuild widens Code and adds an integer Extra.
class RestructureFaultTest : public strata::testing::TempDirTest,
                             public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (GetParam()) {
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
      std::filesystem::create_directory(privateDir_);
    }
  }
  void TearDown() override {
    if (GetParam() && !privateDir_.empty()) std::filesystem::remove_all(privateDir_);
    TempDirTest::TearDown();
  }

  std::vector<FieldDescriptor> OldFields() const {
    return {Field(1, "ID", kTypeInteger), Field(2, "Name", kTypeString, 30),
            Field(3, "Code", kTypeString, 10), Field(4, "Notes", kTypeBlob, 0, kSubTypeMemo)};
  }

  void CreatePeople(TDataDirectory& directory) {
    std::array<IndexDescriptor, kIndexSlotCount> indexes{};
    indexes[0] = MakeIndex({"", {1}, true});
    indexes[1] = MakeIndex({"ByName", {2}, false});
    {
      TDataCursor cursor(directory, "people", CursorModes{.Exclusive = true});
      std::vector<FieldDescriptor> fields = OldFields();
      cursor.CreateTableFiles({}, fields, indexes, 1);
    }
    TDataCursor cursor(directory, "people");
    cursor.Open();
    for (int id = 1; id <= 3; ++id) {
      Bytes record = cursor.NewRecordBuffer();
      cursor.ApplyDefaults(record);
      cursor.SetField(record, 1, Int32Bytes(id));
      cursor.SetField(record, 2, TextBytes("name " + std::to_string(id) + '\0'));
      cursor.SetField(record, 3, TextBytes("code" + std::to_string(id) + '\0'));
      cursor.SetBlobValue(record, 4, TextBytes(std::string(3000, static_cast<char>('a' + id))));
      cursor.InsertRecord(record);
    }
    cursor.Close();
  }

  // The structure the rebuild brings the table to.
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
    wanted.fields[2] = Field(3, "Code", kTypeString, 20);
    wanted.fields.push_back(Field(5, "Extra", kTypeInteger));
    wanted.indexes[0] = MakeIndex({"", {1}, true});
    wanted.indexes[1] = MakeIndex({"ByName", {2}, false});
    return wanted;
  }

  // Builds the table in a fresh directory, then rebuilds it with the n-th
  // file operation failing. Returns how many operations the rebuild did and
  // names the failed one in `failed`.
  int RebuildFailingAt(const std::string& path, int failAt, std::string* failed = nullptr) {
    std::filesystem::create_directory(path);
    std::filesystem::create_directory(privateDir_);
    Database database(path, privateDir_);
    CreatePeople(*database.directory);
    auto [fields, indexes] = Rebuilt(*database.directory);

    FaultingFileSystem faults;
    faults.failAt = failAt;
    {
      platform::ScopedFileSystem scope(faults);
      try {
        TDataCursor cursor(*database.directory, "people", CursorModes{.Exclusive = true});
        cursor.RestructureTable({}, fields, indexes, 1);
      } catch (const EStrataEngineError&) {
      }
    }
    if (failed != nullptr) *failed = faults.failed;
    return faults.count;
  }

  // The table as a fresh engine finds it: field names and row texts.
  std::vector<std::string> Contents(const std::string& path) {
    Database database(path, privateDir_);
    std::vector<std::string> contents;
    {
      TDataCursor cursor(*database.directory, "people");
      cursor.Open(true);
      for (const FieldDescriptor& field : cursor.Fields()) contents.push_back(field.Name);
    }
    for (std::string& row : strata::testing::RowTexts(*database.directory, "people")) {
      contents.push_back(std::move(row));
    }
    return contents;
  }

  // Files other than the table's, its backups and the lock file.
  std::vector<std::string> StrayFiles(const std::string& path) const {
    static const std::set<std::string> expected = {"people.dat", "people.idx", "people.blb",
                                                   "people.dbk", "people.ibk", "people.bbk",
                                                   "strata.lck"};
    std::vector<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      if (!expected.contains(entry.path().filename().string())) {
        stray.push_back(entry.path().filename().string());
      }
    }
    for (const auto& entry : std::filesystem::directory_iterator(privateDir_)) {
      if (entry.path().filename() != "strata.lck") stray.push_back(entry.path().string());
    }
    return stray;
  }

  std::string privateDir_;
};

TEST_P(RestructureFaultTest, EveryFailingOperationLeavesTheOldOrTheNewTable) {
  const std::string clean = dir_ + "clean/";
  const int operations = RebuildFailingAt(clean, 0);
  const std::vector<std::string> after = Contents(clean);
  ASSERT_EQ(after.size(), 5u + 3u);
  EXPECT_EQ(after[4], "Extra");
  EXPECT_EQ(after[5], "1|name 1|code1|" + std::string(3000, 'b') + "|-");

  std::vector<std::string> before;
  {
    const std::string untouched = dir_ + "untouched/";
    std::filesystem::create_directory(untouched);
    Database database(untouched, privateDir_);
    CreatePeople(*database.directory);
  }
  before = Contents(dir_ + "untouched/");

  int oldOutcomes = 0;
  for (int failAt = 1; failAt <= operations; ++failAt) {
    const std::string path = dir_ + "round" + std::to_string(failAt) + "/";
    std::string failed;
    ASSERT_GE(RebuildFailingAt(path, failAt, &failed), failAt);
    SCOPED_TRACE("failing operation " + std::to_string(failAt) + ": " + failed);
    const std::vector<std::string> contents = Contents(path);
    EXPECT_TRUE(contents == before || contents == after);
    if (contents == before) ++oldOutcomes;
    EXPECT_EQ(StrayFiles(path), std::vector<std::string>{});
    std::filesystem::remove_all(path);
    std::filesystem::remove_all(privateDir_);
  }
  // Most failures come before the new files take the table's names.
  EXPECT_GT(oldOutcomes, operations / 2);
}

TEST_P(RestructureFaultTest, AnInsertFailureNotAboutTheRecordEndsTheRebuild) {
  const std::string path = dir_ + "db/";
  std::filesystem::create_directory(path);
  // One cached record: each insert after the first writes the one before.
  Database database(path, privateDir_,
                    [](DataEngineOptions& options) { options.MaxTableDataBufferSize = 1; });
  CreatePeople(*database.directory);
  const std::vector<std::string> before = {Slurp("db/people.dat"), Slurp("db/people.idx"),
                                           Slurp("db/people.blb")};
  auto [fields, indexes] = Rebuilt(*database.directory);

  // The first record written to the new table's data file fails.
  FaultingFileSystem faults;
  const std::int64_t firstRecord = 512 + 768 * static_cast<std::int64_t>(fields.size());
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
    error = strata::testing::ErrorOf([&] { cursor.RestructureTable({}, fields, indexes, 1); });
  }
  ASSERT_TRUE(error) << "the rebuild went on";
  EXPECT_FALSE(faults.failed.empty());
  EXPECT_TRUE(losses.empty());
  EXPECT_TRUE((std::vector<std::string>{Slurp("db/people.dat"), Slurp("db/people.idx"),
                                        Slurp("db/people.blb")}) == before);
  EXPECT_EQ(StrayFiles(path), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(TemporaryDirectory, RestructureFaultTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("OnAnotherFileSystem")
                                             : std::string("OnTheSameFileSystem");
                         });

}  // namespace
}  // namespace strata
