#include "engine/core/locking/data_directory_locks.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/locking/lock_file_layout.h"
#include "engine/errors/engine_error.h"
#include "tests/engine/files/files_test_support.h"

namespace strata {
namespace {

using strata::testing::CodeOf;
using strata::testing::InChild;

// Refused locks give up after three quick retries.
constexpr TableLockSettings kQuickTables{1, 3, 1, 3, 1, 3};
constexpr LockFileTiming kQuickLockFile{3, 1, 2, 5};

// The list's header: the stamp at 0, ListLength (4 + the entries) at 4.
static_assert(lock_file_layout::kStamp == 0 && lock_file_layout::kListLength == 4);
static_assert(lock_file_layout::kHeaderSize == 8 && lock_file_layout::kEntries == 8);

// The bytes of a lock file.
std::string Image(std::int32_t stamp, const std::vector<std::string>& names) {
  std::string entries;
  for (const std::string& name : names) entries += static_cast<char>(name.size()) + name;
  std::uint8_t header[lock_file_layout::kHeaderSize];
  StoreI32(header + lock_file_layout::kStamp, stamp);
  StoreI32(header + lock_file_layout::kListLength,
           static_cast<std::int32_t>(lock_file_layout::kListLengthSize + entries.size()));
  return std::string(reinterpret_cast<const char*>(header), sizeof header) + entries;
}

class DirectoryLocksTest : public strata::testing::TempDirTest {
 protected:
  std::unique_ptr<TDataDirectoryLocks> Open(FileRegistry& registry,
                                            LockFileTiming timing = kQuickLockFile) {
    auto locks = std::make_unique<TDataDirectoryLocks>(
        registry, dir_, DatabaseName(), LockOffsets::For(false), kQuickTables,
        TDataDirectoryLocks::kDefaultLockFileName, false, ".dat", timing);
    locks->OpenLockFile();
    return locks;
  }
  std::unique_ptr<TDataDirectoryLocks> Open() { return Open(registry_); }
  std::string DatabaseName() const { return dir_.substr(0, dir_.size() - 1); }

  FileRegistry registry_;
};

TEST_F(DirectoryLocksTest, NewLockFileListsTheTablesAndEntriesAreAppended) {
  for (const char* name : {"beta.dat", "Zulu.dat", "Alpha.DAT", "gamma.dat", "notes.txt", "delta.idx"}) {
    Put(name, "");
  }
  auto first = Open();
  ASSERT_FALSE(first->Disabled());
  EXPECT_EQ(Slurp("strata.lck"), Image(1, {"Alpha", "beta", "gamma", "Zulu"}));

  auto second = Open();
  EXPECT_EQ(second->Entries().size(), 4u);
  EXPECT_EQ(first->EntryFor("ALPHA").Slot(), 1);
  EXPECT_EQ(Slurp("strata.lck"), Image(1, {"Alpha", "beta", "gamma", "Zulu"}));

  EXPECT_EQ(first->EntryFor("zeta").Slot(), 5);
  EXPECT_EQ(Slurp("strata.lck"), Image(2, {"Alpha", "beta", "gamma", "Zulu", "zeta"}));
  // The other user reads the appended entry instead of adding its own.
  EXPECT_EQ(second->EntryFor("Zeta").Slot(), 5);
  EXPECT_EQ(second->EntryFor("omega").Slot(), 6);
  EXPECT_EQ(first->EntryFor("OMEGA").Slot(), 6);
  EXPECT_EQ(Slurp("strata.lck"), Image(3, {"Alpha", "beta", "gamma", "Zulu", "zeta", "omega"}));
}

TEST_F(DirectoryLocksTest, StampWrapsToOne) {
  Put("strata.lck", Image(INT32_MAX, {"a"}));
  auto locks = Open();
  EXPECT_EQ(locks->EntryFor("b").Slot(), 2);
  EXPECT_EQ(Slurp("strata.lck"), Image(1, {"a", "b"}));
}

TEST_F(DirectoryLocksTest, InMemoryDirectoryKeepsItsLockFileInMemory) {
  for (const char* name : {"b.dat", "A.dat", "c.idx"}) {
    TEngineFile file(registry_, name, true);
    file.CreateNew();
    file.Close();
  }
  TDataDirectoryLocks locks(registry_, "", "Memory", LockOffsets::For(false), kQuickTables,
                            "strata.lck", true);
  locks.OpenLockFile();
  ASSERT_FALSE(locks.Disabled());
  EXPECT_EQ(locks.EntryFor("c").Slot(), 3);
  EXPECT_FALSE(std::filesystem::exists("strata.lck"));

  TEngineFile file(registry_, "strata.lck", true);
  file.Open();
  std::string bytes(Image(2, {"A", "b", "c"}).size(), '\0');
  file.Seek(TBaseFile::kFromStart, 0);
  file.Read(std::as_writable_bytes(std::span(bytes)), false);
  EXPECT_EQ(bytes, Image(2, {"A", "b", "c"}));
}

TEST_F(DirectoryLocksTest, ConcurrentProcessesAppendToDifferentSlots) {
  Open();  // creates the lock file, then closes it
  constexpr int kTables = 40;
  const auto appender = [this](char tag) {
    return [this, tag] {
      FileRegistry registry;
      auto locks = Open(registry, LockFileTiming{});
      std::ofstream report(dir_ + "slots-" + tag + ".txt");
      for (int i = 0; i < kTables; ++i) {
        const std::string name = std::string(1, tag) + std::to_string(i);
        report << name << ' ' << locks->EntryFor(name).Slot() << '\n';
      }
      return locks->Disabled() ? 1 : 0;
    };
  };
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(InChild(appender('p')));
  EXPECT_EQ(InChild(appender('q')), 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  auto locks = Open();
  ASSERT_EQ(locks->Entries().size(), 2u * kTables);
  for (const char* report : {"slots-p.txt", "slots-q.txt"}) {
    std::istringstream lines(Slurp(report));
    std::string name;
    int slot = 0;
    int count = 0;
    while (lines >> name >> slot) {
      ASSERT_GE(slot, 1);
      EXPECT_EQ(locks->Entries()[static_cast<std::size_t>(slot - 1)]->Name(), name);
      ++count;
    }
    EXPECT_EQ(count, kTables);
  }
}

TEST_F(DirectoryLocksTest, ProcessesCreatingTheLockFileTogetherAgreeOnSlots) {
  constexpr int kRounds = 25;
  const std::vector<std::string> tables = {"gamma", "Alpha", "beta", "newA", "newB"};
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string directory = dir_ + "db" + std::to_string(round) + "/";
    std::filesystem::create_directory(directory);
    for (const char* name : {"Alpha.dat", "beta.dat", "gamma.dat"}) {
      std::ofstream(directory + name).put('x');
    }
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
      children[child] = ::fork();
      if (children[child] != 0) continue;
      ::close(start[1]);
      char go = 0;
      const bool started = ::read(start[0], &go, 1) == 0;  // both start when the pipe closes
      ::_exit(InChild([&] {
        FileRegistry registry;
        TDataDirectoryLocks locks(registry, directory, "db", LockOffsets::For(false),
                                  kQuickTables);
        locks.OpenLockFile();
        std::ofstream report(directory + "slots" + std::to_string(child));
        // The two users ask for the new tables in opposite orders.
        std::vector<std::string> order = tables;
        if (child == 1) std::reverse(order.begin(), order.end());
        for (const std::string& name : order) {
          report << name << ' ' << locks.EntryFor(name).Slot() << '\n';
        }
        return started && !locks.Disabled() ? 0 : 1;
      }));
    }
    ::close(start[0]);
    ::close(start[1]);
    for (const pid_t child : children) {
      int status = 0;
      ::waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      ASSERT_EQ(WEXITSTATUS(status), 0);
    }

    std::map<std::string, int> slots[2];
    for (int child = 0; child < 2; ++child) {
      std::ifstream report(directory + "slots" + std::to_string(child));
      std::string name;
      int slot = 0;
      while (report >> name >> slot) slots[child][name] = slot;
      ASSERT_EQ(slots[child].size(), tables.size());
    }
    EXPECT_EQ(slots[0], slots[1]);
    std::set<int> distinct;
    for (const auto& [name, slot] : slots[0]) distinct.insert(slot);
    EXPECT_EQ(distinct, (std::set<int>{1, 2, 3, 4, 5}));
    // The list of the directory's tables came first, and nothing was lost.
    std::ifstream file(directory + "strata.lck", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(file)), {});
    const std::string listed = Image(1, {"Alpha", "beta", "gamma"}).substr(8);
    EXPECT_EQ(image.substr(8, listed.size()), listed);
    EXPECT_EQ(image.size(), 8 + listed.size() + 2 * 5);
  }
}

TEST_F(DirectoryLocksTest, ReadOnlyLockFileDisablesEveryLock) {
  Put("t.dat", "");
  Open();
  std::filesystem::permissions(dir_ + "strata.lck", std::filesystem::perms::owner_write |
                                                        std::filesystem::perms::group_write |
                                                        std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  const std::string before = Slurp("strata.lck");
  auto a = Open();
  auto b = Open();
  ASSERT_TRUE(a->Disabled());
  ASSERT_TRUE(b->Disabled());
  EXPECT_EQ(a->EntryFor("t").Slot(), 1);
  EXPECT_EQ(a->EntryFor("new").Slot(), 2);
  // With real locks these would exclude each other inside the one store.
  EXPECT_TRUE(a->EntryFor("t").WriteLock(true));
  EXPECT_TRUE(b->EntryFor("t").WriteLock(true));
  EXPECT_TRUE(b->EntryFor("new").ReadLock());
  a->LockAllTransactions();
  b->WriteLockAllTables();
  a->WriteLockLockFile();
  b->WriteLockLockFile();
  EXPECT_EQ(Slurp("strata.lck"), before);
}

TEST_F(DirectoryLocksTest, WriterInAnotherProcessKeepsReadersOut) {
  Put("t.dat", "");
  auto locks = Open();
  TDataTableLocks& table = locks->EntryFor("t");
  const auto otherProcess = [this](bool write) {
    return [this, write] {
      FileRegistry registry;
      auto other = Open(registry);
      TDataTableLocks& entry = other->EntryFor("t");
      std::string message;
      const ErrorCode code = CodeOf(
          [&] {
            if (write) {
              entry.WriteLock(true);
            } else {
              entry.ReadLock();
            }
          },
          &message);
      if (code != 0 && LastEngineErrorContext().DatabaseName != DatabaseName()) return 98;
      return code == 0 ? 0 : code - 10200;  // fits an exit status
    };
  };

  ASSERT_TRUE(table.WriteLock(true));
  EXPECT_EQ(table.Held(), TDataTableLocks::kWriteHeld | TDataTableLocks::kTransactionHeld);
  EXPECT_EQ(InChild(otherProcess(false)), STRATA_READLOCK - 10200);
  table.WriteUnlock(true);
  EXPECT_EQ(table.Held(), 0);

  ASSERT_TRUE(table.ReadLock());
  EXPECT_EQ(InChild(otherProcess(false)), 0);
  EXPECT_EQ(InChild(otherProcess(true)), STRATA_WRITELOCK - 10200);
  // A second user of this process shares the store and still reads.
  auto second = Open();
  EXPECT_TRUE(second->EntryFor("t").ReadLock());
}

TEST_F(DirectoryLocksTest, FailedWriteLockGivesBackTheTransactionByte) {
  auto reader = Open();
  auto writer = Open();
  auto third = Open();
  ASSERT_TRUE(reader->EntryFor("t").ReadLock());

  TDataTableLocks& entry = writer->EntryFor("t");
  std::string message;
  EXPECT_EQ(CodeOf([&] { entry.WriteLock(true); }, &message), STRATA_WRITELOCK);
  EXPECT_NE(message.find("'t'"), std::string::npos) << message;
  EXPECT_EQ(entry.Held(), 0);
  EXPECT_TRUE(third->EntryFor("t").TransLock());
  third->EntryFor("t").TransUnlock();

  reader->EntryFor("t").ReadUnlock();
  EXPECT_TRUE(entry.WriteLock(true));
  EXPECT_EQ(CodeOf([&] { third->EntryFor("t").TransLock(); }), STRATA_TRANSLOCK);
}

TEST_F(DirectoryLocksTest, DirectoryWideLocksCoverEveryTable) {
  auto owner = Open();
  auto other = Open();
  owner->EntryFor("a");
  TDataTableLocks& a = other->EntryFor("a");

  owner->LockAllTransactions();
  owner->WriteLockAllTables();
  EXPECT_EQ(owner->EntryFor("a").Held(),
            TDataTableLocks::kWriteHeld | TDataTableLocks::kTransactionHeld);
  // A table added meanwhile is covered as well.
  EXPECT_EQ(owner->EntryFor("b").Held(),
            TDataTableLocks::kWriteHeld | TDataTableLocks::kTransactionHeld);
  EXPECT_EQ(CodeOf([&] { a.TransLock(); }), STRATA_TRANSLOCK);
  EXPECT_EQ(CodeOf([&] { a.ReadLock(); }), STRATA_READLOCK);

  owner->WriteUnlockAllTables();
  EXPECT_TRUE(a.ReadLock());
  owner->UnlockAllTransactions();
  EXPECT_EQ(owner->EntryFor("a").Held(), 0);
  EXPECT_TRUE(a.TransLock());
}

TEST_F(DirectoryLocksTest, LockFileWriteLockExcludesOtherUsers) {
  auto holder = Open();
  auto other = Open();
  holder->ReadLockLockFile();
  EXPECT_EQ(CodeOf([&] { other->EntryFor("t"); }), STRATA_LOCKWRITELOCK);
  holder->ReadUnlockLockFile();
  EXPECT_EQ(other->EntryFor("t").Slot(), 1);
}

TEST_F(DirectoryLocksTest, ClosingReleasesWhatWasHeld) {
  auto closing = Open();
  auto staying = Open();
  ASSERT_TRUE(closing->EntryFor("t").WriteLock(true));
  closing->ReadLockLockFile();
  closing->CloseLockFile();
  EXPECT_TRUE(staying->EntryFor("t").WriteLock(true));
}

TEST_F(DirectoryLocksTest, DamagedLockFileFailsCleanly) {
  std::string lenPastEnd = Image(7, {"a", "b"});
  StoreI32(reinterpret_cast<std::uint8_t*>(lenPastEnd.data()) + lock_file_layout::kListLength,
           40);
  std::string namePastEnd = Image(7, {"a", "bcd"});
  // The second entry, after the one of "a", claims nine characters.
  namePastEnd[lock_file_layout::kEntries + 2] = 9;
  const std::string cases[] = {
      lenPastEnd, namePastEnd, std::string("\x07\0\0\0\x04", 5),
      Image(7, {}).substr(0, lock_file_layout::kListLength) + std::string("\xFF\xFF\xFF\xFF", 4)};
  Put("b.dat", "");
  Put("a.dat", "");
  for (const std::string& damaged : cases) {
    SCOPED_TRACE(::testing::PrintToString(damaged));
    Put("strata.lck", damaged);
    {
      // Nobody else has it open: the list is written anew at once, and the
      // directory locks as usual.
      auto first = Open(registry_, LockFileTiming{3, 1, 11, 100});
      EXPECT_FALSE(first->Disabled());
      ASSERT_EQ(first->Entries().size(), 2u);
      EXPECT_EQ(first->Entries()[0]->Name(), "a");
      auto second = Open();
      EXPECT_FALSE(second->Disabled());
      EXPECT_EQ(second->Entries().size(), 2u);
      first->EntryFor("a").WriteLock(true);
      EXPECT_NE(CodeOf([&] { second->EntryFor("a").WriteLock(true); }), 0);
    }

    // Damaged while another user has it open: this user is told what is
    // wrong with which file, and the file is left alone.
    Put("strata.lck", Image(1, {"a"}));
    auto user = Open();
    auto other = Open();
    ASSERT_FALSE(user->Disabled());
    Put("strata.lck", damaged);
    std::string message;
    EXPECT_EQ(CodeOf([&] { Open(); }, &message), STRATA_HEADERCORRUPT);
    EXPECT_NE(message.find("strata.lck: "), std::string::npos) << message;
    EXPECT_NE(message.find("another program"), std::string::npos) << message;
    EXPECT_EQ(Slurp("strata.lck"), damaged);
    EXPECT_EQ(CodeOf([&] { user->EntryFor("x"); }, &message), STRATA_HEADERCORRUPT);
    EXPECT_NE(message.find("strata.lck"), std::string::npos) << message;
    // The failure gave back the lock file's write lock.
    other->WriteLockLockFile();
    other->WriteUnlockLockFile();
  }
}

}  // namespace
}  // namespace strata
