#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/files/engine_file.h"
#include "tests/engine/core/core_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

namespace fs = std::filesystem;

constexpr std::int64_t kRecord5 = 0xFFFFFFFA;

// A second user of the directory in this process: its own session.
struct User {
  User(TDataEngine& engine, const std::string& path)
      : session(QuickSession(engine)), directory(session.OpenDirectory("books", path)) {}
  ~User() { session.CloseDirectory(directory); }
  TDataTable& Open(bool exclusive = false) {
    return directory.OpenTable("asset", "asset", {.Exclusive = exclusive});
  }
  TDataSession& session;
  TDataDirectory& directory;
};

// Runs body in a child process with an engine of its own (the parent's file
// descriptions and their locks are not the child's).
int InOtherProcess(const std::string& path, const std::function<int(User&)>& body) {
  return InChild([&] {
    TDataEngine engine;
    strata::testing::UseQuickLocks(engine);
    engine.Activate();
    User user(engine, path);
    return body(user);
  });
}

// Exit status for an engine error code (fits in 8 bits).
int Status(ErrorCode code) { return code == 0 ? 0 : code % 200 + 1; }

class TableLockingTest : public strata::testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    first_.emplace(engine_, dir_);
    second_.emplace(engine_, dir_);
    CreateSample(first_->directory, "asset");
  }
  // Whether another file description can lock the byte right now.
  bool ByteFree(std::int64_t offset, const std::string& file = "asset.dat") {
    FileRegistry registry;
    TEngineFile probe(registry, dir_ + file, false);
    probe.Open();
    const bool free = probe.LockBytes(true, 1, offset);
    if (free) probe.LockBytes(false, 1, offset);
    probe.Close();
    return free;
  }

  std::optional<User> first_;
  std::optional<User> second_;
};

TEST_F(TableLockingTest, SessionsSeeEachOthersCommittedChanges) {
  TDataTable& a = first_->Open();
  TDataTable& b = second_->Open();
  ASSERT_NE(a.LockEntry(), nullptr);
  ASSERT_NE(b.LockEntry(), nullptr);
  EXPECT_NE(a.DataFile(), b.DataFile());  // separate caches

  AppendRecord(a, 7);
  EXPECT_EQ(b.DataFile()->RecordCount(), 0);
  EXPECT_TRUE(b.ReadLockTable());
  b.ReadUnlockTable();
  EXPECT_EQ(b.DataFile()->RecordCount(), 1);
  EXPECT_FALSE(b.ReadLockTable());  // nothing new
  b.ReadUnlockTable();

  AppendRecord(b, 8);
  EXPECT_TRUE(a.WriteLockTable());
  a.WriteUnlockTable();
  EXPECT_EQ(a.DataFile()->RecordCount(), 2);
  EXPECT_EQ(a.DataFile()->UnitCount(), 2);
}

TEST_F(TableLockingTest, ChangeOfTheIndexFileAloneStillMovesTheDataChangeCount) {
  TDataTable& a = first_->Open();
  TDataTable& b = second_->Open();
  const std::int32_t before = a.DataFile()->Header().ChangeCount;
  a.WriteLockTable();
  a.IndexFile()->SetFirstFreePage(0);  // marks only the index header
  a.Flush();
  a.WriteUnlockTable();
  EXPECT_GT(a.DataFile()->Header().ChangeCount, before);
  EXPECT_TRUE(b.ReadLockTable());
  b.ReadUnlockTable();
}

TEST_F(TableLockingTest, ExclusiveOpenConflictsWithSharedOpen) {
  TDataTable& shared = first_->Open();
  EXPECT_EQ(CodeOf([&] { first_->Open(true); }), STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { second_->Open(true); }), STRATA_OSEACCES);
  EXPECT_EQ(InOtherProcess(dir_, [](User& user) { return Status(CodeOf([&] { user.Open(true); })); }),
            Status(STRATA_OSEACCES));
  EXPECT_EQ(InOtherProcess(dir_, [](User& user) { return Status(CodeOf([&] { user.Open(); })); }), 0);
  first_->directory.CloseTable(shared);

  TDataTable& exclusive = first_->Open(true);
  EXPECT_EQ(exclusive.LockEntry(), nullptr);
  EXPECT_EQ(CodeOf([&] { first_->Open(); }), STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { second_->Open(); }), STRATA_OSEACCES);
  EXPECT_EQ(InOtherProcess(dir_, [](User& user) { return Status(CodeOf([&] { user.Open(); })); }),
            Status(STRATA_OSEACCES));
}

TEST_F(TableLockingTest, RecordLocksSitAtTheTopOfTheDataFile) {
  TDataTable& a = first_->Open();
  TDataTable& b = second_->Open();
  EXPECT_EQ(CodeOf([&] { a.LockRecord(0); }), STRATA_RECLOCKFAILED);
  EXPECT_FALSE(a.LockRecord(5));
  // The read lock taken on the way is the caller's operation's to release.
  EXPECT_TRUE(a.LockEntry()->Held() & TDataTableLocks::kReadHeld);
  a.ReadUnlockTable();
  EXPECT_EQ(CodeOf([&] { a.LockRecord(5); }), STRATA_RECLOCKFAILED);
  EXPECT_FALSE(ByteFree(kRecord5));
  EXPECT_TRUE(ByteFree(kRecord5 - 1));
  EXPECT_TRUE(ByteFree(kRecord5 + 1));

  std::string message;
  EXPECT_EQ(CodeOf([&] { b.LockRecord(5); }, &message), STRATA_RECLOCKFAILED);
  EXPECT_NE(message.find("asset"), std::string::npos) << message;
  EXPECT_EQ(b.LockEntry()->Held(), 0);  // the waits gave back the read lock
  EXPECT_EQ(InOtherProcess(dir_,
                           [](User& user) {
                             TDataTable& table = user.Open();
                             const ErrorCode code = CodeOf([&] { table.LockRecord(5); });
                             const ErrorCode next = CodeOf([&] { table.LockRecord(6); });
                             return code == 0 ? 0 : Status(code) + (next == 0 ? 0 : 100);
                           }),
            Status(STRATA_RECLOCKFAILED));

  EXPECT_EQ(CodeOf([&] { a.LockTable(); }), STRATA_LOCKED);
  a.UnlockRecord(5);
  EXPECT_EQ(CodeOf([&] { a.UnlockRecord(5); }), STRATA_UNLOCKFAILED);
  EXPECT_TRUE(ByteFree(kRecord5));
  EXPECT_FALSE(b.LockRecord(5));
  b.ReadUnlockTable();
  EXPECT_EQ(CodeOf([&] { a.LockTable(); }), STRATA_LOCKED);  // b's record is in the range
  b.UnlockRecord(5);

  // The whole-table lock covers every record byte.
  EXPECT_EQ(CodeOf([&] { a.LockTable(); }), 0);
  EXPECT_FALSE(ByteFree(0xFFFFFFFF - 200'000'000));
  EXPECT_TRUE(ByteFree(0xFFFFFFFF - 200'000'001));
  EXPECT_FALSE(a.LockRecord(9));  // nothing to do under the table lock
  EXPECT_FALSE(a.RecordLocked(9));
  EXPECT_EQ(CodeOf([&] { b.LockTable(); }), STRATA_LOCKED);
  a.UnlockTable();
  EXPECT_EQ(CodeOf([&] { a.UnlockTable(); }), STRATA_UNLOCKFAILED);
}

TEST_F(TableLockingTest, LargeFileSupportMovesTheLocks) {
  TDataEngine large;
  strata::testing::UseQuickLocks(large);
  large.Options().LargeFileSupport = true;
  large.Activate();
  EXPECT_EQ(large.Limits().MaxRecordCount, 1'000'000'000);
  User user(large, dir_);
  TDataTable& table = user.Open();
  table.LockRecord(5);
  EXPECT_FALSE(ByteFree(0x7FFFFFFFFFFFFFFF - 5));
  EXPECT_TRUE(ByteFree(kRecord5));
  ASSERT_TRUE(table.LockSemaphore(1));
  EXPECT_FALSE(ByteFree(0x7FFFFFFFFFFFFFFF - 1'000'000'000 - 1));
}

TEST_F(TableLockingTest, SemaphoresExcludeOtherUsers) {
  TDataTable& a = first_->Open();
  TDataTable& b = second_->Open();
  for (const std::int32_t outside : {0, 1025, -1}) {
    EXPECT_FALSE(a.LockSemaphore(outside)) << outside;
    EXPECT_FALSE(a.UnlockSemaphore(outside)) << outside;
  }
  EXPECT_TRUE(a.LockSemaphore(1024));
  EXPECT_FALSE(ByteFree(0xFFFFFFFF - 200'000'000 - 1024));
  EXPECT_FALSE(b.LockSemaphore(1024));
  EXPECT_FALSE(b.UnlockSemaphore(1024));  // not b's to give back
  EXPECT_TRUE(a.LockSemaphore(1));
  first_->directory.CloseTable(a);  // closing gives back every semaphore
  EXPECT_TRUE(b.LockSemaphore(1024));
  EXPECT_TRUE(b.UnlockSemaphore(1024));
  EXPECT_TRUE(ByteFree(0xFFFFFFFF - 200'000'000 - 1024));
}

TEST_F(TableLockingTest, ReadOnlyDatabaseLocksNothing) {
  first_.reset();  // nobody holds the lock file open
  second_.reset();
  fs::permissions(dir_ + "strata.lck",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  User one(engine_, dir_);
  User two(engine_, dir_);
  ASSERT_TRUE(one.directory.ReadOnlyDatabase());
  TDataTable& a = one.Open();
  TDataTable& b = two.Open();
  EXPECT_FALSE(a.LockRecord(5));
  EXPECT_FALSE(b.LockRecord(5));
  EXPECT_TRUE(a.LockSemaphore(3));
  EXPECT_TRUE(b.LockSemaphore(3));
  a.ReadLockTable();
  b.WriteLockTable();
  b.WriteUnlockTable();
  a.UnlockRecord(5);
  b.UnlockRecord(5);
  EXPECT_EQ(CodeOf([&] { a.LockTable(); }), 0);
  EXPECT_EQ(CodeOf([&] { b.LockTable(); }), 0);
  EXPECT_TRUE(ByteFree(kRecord5));
  EXPECT_TRUE(ByteFree(0xFFFFFFFF - 200'000'000));
}

TEST_F(TableLockingTest, TransactionOverAllTablesPublishesOnCommit) {
  TDataDirectory& directory = first_->directory;
  TDataTable& a = first_->Open();
  TDataTable& b = second_->Open();
  directory.StartTransaction();
  EXPECT_TRUE(directory.InTransaction());
  EXPECT_TRUE(a.InTransaction());
  EXPECT_TRUE(a.LockEntry()->Held() & TDataTableLocks::kTransactionHeld);
  // Writers of other sessions wait for the transaction.
  EXPECT_EQ(CodeOf([&] { b.WriteLockTable(); }), STRATA_WRITELOCK);

  AppendRecord(a, 1);
  a.Flush({}, {.Data = true});
  EXPECT_FALSE(b.ReadLockTable());  // nothing reached the file
  b.ReadUnlockTable();
  a.LockRecord(1);
  a.UnlockRecord(1);  // held until the transaction ends
  EXPECT_FALSE(ByteFree(0xFFFFFFFF - 1));

  directory.Commit();
  EXPECT_FALSE(directory.InTransaction());
  EXPECT_FALSE(a.InTransaction());
  EXPECT_TRUE(ByteFree(0xFFFFFFFF - 1));
  EXPECT_EQ(a.LockEntry()->Held(), 0);
  EXPECT_TRUE(b.ReadLockTable());
  b.ReadUnlockTable();
  EXPECT_EQ(b.DataFile()->RecordCount(), 1);

  directory.StartTransaction();
  AppendRecord(a, 2);
  EXPECT_EQ(a.DataFile()->RecordCount(), 2);
  directory.Rollback();
  EXPECT_EQ(a.DataFile()->RecordCount(), 1);
  EXPECT_FALSE(b.WriteLockTable());
  b.WriteUnlockTable();
  EXPECT_EQ(b.DataFile()->RecordCount(), 1);
}

TEST_F(TableLockingTest, RestrictedTransactionOpensAndLocksItsTables) {
  CreateSample(first_->directory, "other");
  TDataDirectory& directory = first_->directory;
  const std::vector<std::string> tables{"asset"};
  directory.StartTransaction(std::span<const std::string>(tables));
  EXPECT_TRUE(directory.RestrictedTransaction());
  TDataTable* a = directory.FindTable("asset");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->IsOpen());
  EXPECT_EQ(a->OpenCount(), 0);
  EXPECT_TRUE(a->InTransaction());
  EXPECT_EQ(a->LockEntry()->Held(), TDataTableLocks::kTransactionHeld);

  TDataTable& b = second_->Open();
  EXPECT_EQ(CodeOf([&] { b.WriteLockTable(); }), STRATA_WRITELOCK);
  TDataTable& other = second_->directory.OpenTable("other", "other");
  EXPECT_FALSE(other.WriteLockTable());  // not part of the transaction
  other.WriteUnlockTable();

  AppendRecord(*a, 1);
  directory.Commit();
  EXPECT_EQ(directory.FindTable("asset"), nullptr);  // opened only for the transaction
  EXPECT_TRUE(b.WriteLockTable());
  EXPECT_EQ(b.DataFile()->RecordCount(), 1);
  b.WriteUnlockTable();
}

TEST_F(TableLockingTest, ExclusiveTableWritesOnFlushOrClose) {
  TDataTable& table = first_->Open(true);
  TDataFile& data = *table.DataFile();
  const std::string before = Slurp("asset.dat");
  {
    BufferPin pin;
    ASSERT_TRUE(data.AllocateSlot(nullptr, pin));
    TDataFile::RecordOf(pin).SetRecordID(3);
    data.IncrementRecordCount();
  }
  EXPECT_EQ(Slurp("asset.dat"), before);
  first_->directory.CloseTable(table);
  TDataTable& reopened = first_->Open(true);
  EXPECT_EQ(reopened.DataFile()->RecordCount(), 1);
  EXPECT_GT(reopened.DataFile()->Header().ChangeCount, 1);

  const auto size = fs::file_size(dir_ + "asset.dat");
  reopened.EmptyFiles();
  reopened.Flush();
  EXPECT_EQ(reopened.DataFile()->RecordCount(), 0);
  EXPECT_LT(fs::file_size(dir_ + "asset.dat"), size);
}

}  // namespace
}  // namespace strata
