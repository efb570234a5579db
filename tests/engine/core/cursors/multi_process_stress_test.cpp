// Several processes insert, change and delete records of one shared table at
// once, each writing down every operation the engine reported done; one
// process is killed while it holds the table's write lock. The others must
// go on once the lock is free, and the table must verify clean and hold
// exactly what the ledgers add up to.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

constexpr int kProcesses = 4;
constexpr char kTable[] = "ledger";

// (owner, sequence number) -> value
using Rows = std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t>;

class MultiProcessStressTest : public strata::testing::WriteTest {
 protected:
  void SetUp() override {
    WriteTest::SetUp();
    Create(kTable,
           {FieldDef(1, "Owner").Integer(), FieldDef(2, "Seq").Integer(),
            FieldDef(3, "Value").Integer(), FieldDef(4, "Label").String(30)},
           {}, {IndexDef("ByOwnerSeq", {1, 2}).Unique(), IndexDef("ByValue", {3})}, {4});
    // The children open the folder themselves: nothing of the parent's stays
    // open or locked.
    session_->CloseDirectory(*directory_);
    directory_ = nullptr;
  }

  std::string LedgerPath(int owner) const { return dir_ + "ledger-" + std::to_string(owner); }

  // One child: random operations until the deadline, each written to the
  // ledger once the engine reported it done ("I seq value", "M seq value",
  // "D seq"). With holdFd it takes the table write lock after a while,
  // tells the parent through the pipe and waits to be killed.
  [[noreturn]] void Child(int owner, std::chrono::steady_clock::time_point deadline, int holdFd) {
    int status = 0;
    try {
      TDataEngine engine;
      // Lock waits long enough to outlast the other writers and the killed
      // process's held lock, short enough to end within the test.
      engine.Options().TableLocks = TableLockSettings{1, 4000, 1, 4000, 1, 4000};
      engine.Activate();
      TDataSession& session = engine.NewSession();
      session.SetLockRetryCount(4000);
      session.SetLockWaitTime(1);
      TDataDirectory& directory = session.OpenDirectory("stress", dir_);
      TDataCursor cursor(directory, kTable);
      cursor.Open();
      const int ledger = ::open(LedgerPath(owner).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      auto note = [&](const std::string& line) {
        if (::write(ledger, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
          ::_exit(3);
        }
      };
      std::mt19937 random(static_cast<unsigned>(owner * 7919 + 17));
      std::map<std::int32_t, std::int32_t> records;  // seq -> record number
      std::int32_t next = 0;
      auto insert = [&](std::int32_t seq, std::int32_t value) {
        Bytes record = cursor.NewRecordBuffer();
        cursor.SetField(record, 1, Int32Bytes(owner));
        cursor.SetField(record, 2, Int32Bytes(seq));
        cursor.SetField(record, 3, Int32Bytes(value));
        cursor.SetField(record, 4, strata::testing::TextBytes("owner " + std::to_string(owner)));
        cursor.InsertRecord(record);
        records[seq] = cursor.CurrentRecord();
      };
      for (int step = 0; std::chrono::steady_clock::now() < deadline; ++step) {
        if (holdFd >= 0 && step == 60) {
          cursor.Table()->WriteLockTable();
          const char ready = 'h';
          if (::write(holdFd, &ready, 1) != 1) ::_exit(4);
          for (;;) ::pause();
        }
        const int choice = static_cast<int>(random() % 4);
        const std::int32_t value = static_cast<std::int32_t>(random() % 1000);
        try {
          if (choice <= 1 || records.empty()) {
            insert(next, value);
            note("I " + std::to_string(next) + " " + std::to_string(value) + "\n");
            ++next;
            continue;
          }
          auto it = records.begin();
          std::advance(it, static_cast<long>(random() % records.size()));
          const std::int32_t seq = it->first;
          cursor.DeleteRecord(it->second);
          records.erase(it);
          if (choice == 2) {
            note("D " + std::to_string(seq) + "\n");
            continue;
          }
          try {
            insert(seq, value);
          } catch (const EStrataEngineError&) {
            note("D " + std::to_string(seq) + "\n");
            throw;
          }
          note("M " + std::to_string(seq) + " " + std::to_string(value) + "\n");
        } catch (const EStrataEngineError& error) {
          // A lock not had in time: the operation did not happen.
          const ErrorCode lockCodes[] = {STRATA_READLOCK, STRATA_WRITELOCK, STRATA_LOCKED,
                                         STRATA_RECLOCKFAILED, STRATA_LOCKREADLOCK,
                                         STRATA_LOCKWRITELOCK};
          if (std::find(std::begin(lockCodes), std::end(lockCodes), error.Code) ==
              std::end(lockCodes)) {
            throw;
          }
        }
      }
      ::close(ledger);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "process %d: %s\n", owner, error.what());
      status = 2;
    }
    ::_exit(status);
  }

  // What the ledgers of every round so far add up to.
  Rows LedgerRows() const {
    Rows rows;
    for (int owner = 0; owner < owners_; ++owner) {
      std::ifstream in(LedgerPath(owner));
      std::string op;
      std::int32_t seq = 0;
      while (in >> op >> seq) {
        if (op == "D") {
          rows.erase({owner, seq});
        } else {
          std::int32_t value = 0;
          in >> value;
          rows[{owner, seq}] = value;
        }
      }
    }
    return rows;
  }

  Rows TableRows() {
    TDataCursor cursor(*directory_, kTable);
    cursor.Open();
    Rows rows;
    Bytes record = cursor.NewRecordBuffer();
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (!cursor.ReadRecord(n, record)) continue;
      auto field = [&](std::uint16_t f) { return LoadI32(cursor.GetField(record, f)->data()); };
      EXPECT_TRUE(rows.emplace(std::make_pair(field(1), field(2)), field(3)).second);
    }
    return rows;
  }

  // Processes of each round write as owners of their own.
  void Round(bool killOne) {
    const int first = owners_;
    owners_ += kProcesses;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int pipeFds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::vector<pid_t> children;
    for (int owner = first; owner < owners_; ++owner) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) Child(owner, deadline, killOne && owner == first ? pipeFds[1] : -1);
      children.push_back(pid);
    }
    ::close(pipeFds[1]);
    if (killOne) {
      char ready = 0;
      ASSERT_EQ(::read(pipeFds[0], &ready, 1), 1);
      // The others now wait for the held lock; then its holder dies.
      ::usleep(300 * 1000);
      ::kill(children[0], SIGKILL);
    }
    ::close(pipeFds[0]);
    for (std::size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
      if (killOne && i == 0) {
        EXPECT_TRUE(WIFSIGNALED(status));
      } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << i;
      }
    }
    directory_ = &session_->OpenDirectory("books", dir_);
    const Rows expected = LedgerRows();
    EXPECT_GT(expected.size(), 20u);
    EXPECT_EQ(TableRows(), expected);
    TDataCursor verifier(*directory_, kTable, CursorModes{.Exclusive = true, .ReadOnly = true});
    std::vector<std::string> findings;
    verifier.OnLog = [&](std::string_view line) { findings.emplace_back(line); };
    EXPECT_TRUE(verifier.VerifyOrRepairTable(false)) << ::testing::PrintToString(findings);
    session_->CloseDirectory(*directory_);
    directory_ = nullptr;
  }

  int owners_ = 0;
};

TEST_F(MultiProcessStressTest, LedgersAddUpAndAKilledLockHolderBlocksNobody) {
  Round(false);
  // Second round on the same table: the killed process had done some work
  // and held the table write lock when it died.
  Round(true);
}

}  // namespace
}  // namespace strata
