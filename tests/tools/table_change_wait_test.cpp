// Readers and writers side by side, the program run as people run it: a
// command that meets a table another program is changing waits and then
// reads the committed table, or gives up naming the table; a writer waits
// for a reader; an interrupted change is named as such by every command,
// and repair and update say what they recovered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/journal/table_journal.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "platform/file_system.h"
#include "engine/core/cursors/data_cursor.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/write_test_support.h"
#include "tests/tools/program_run.h"

namespace strata::testing {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Another program holding a table for `milliseconds`, in a child process
// that uses only the file system: its files' share locks (exclusive, as a
// change takes them, or shared, as a reader does) and, for a change, the
// table's journal, held from its creation to its removal as a change holds
// it. The object returns once the child holds everything.
class OtherProgram {
 public:
  OtherProgram(const std::vector<std::string>& files, const std::string& journal, bool exclusive,
               int milliseconds) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      int status = 0;
      try {
        platform::FileSystem& files_ = platform::CurrentFileSystem();
        std::vector<std::unique_ptr<platform::FileHandle>> held;
        for (const std::string& file : files) {
          held.push_back(
              files_.Open(file, {.exclusive = exclusive, .readOnly = !exclusive}).handle);
          if (!held.back()) status = 1;
        }
        std::optional<TableJournal> change;
        if (!journal.empty()) change.emplace(TableJournal::Create(files_, journal));
        if (::write(ready[1], "x", 1) != 1) status = 1;
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
        if (change) change->Remove();
      } catch (...) {
        status = 1;  // the test sees the exit status
      }
      ::_exit(status);
    }
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the other program did not start";
    ::close(ready[0]);
  }
  // A child still holding the table is ended: the test is done with it.
  ~OtherProgram() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Wait();
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  int Wait() {
    if (pid_ > 0) {
      int raw = 0;
      ::waitpid(pid_, &raw, 0);
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      pid_ = -1;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

class TableChangeWaitTest : public TempDirTest {
 protected:
  // Good: three records; Other: none. The engine is gone before the
  // program runs.
  void SetUp() override {
    TempDirTest::SetUp();
    TDataEngine engine;
    UseQuickLocks(engine);
    engine.Activate();
    TDataDirectory& directory = QuickSession(engine).OpenDirectory("shop", dir_);
    CreateSample(directory, "Good");
    CreateSample(directory, "Other");
    TDataCursor good(directory, "Good");
    good.Open();
    for (int id = 1; id <= 3; ++id) {
      Bytes record = good.NewRecordBuffer();
      good.ApplyDefaults(record);
      const Bytes number = Int32Bytes(id);
      const Bytes name = TextBytes("n" + std::to_string(id));
      good.SetField(record, 1, std::span<const std::uint8_t>(number));
      good.SetField(record, 2, std::span<const std::uint8_t>(name));
      good.InsertRecord(record);
    }
    good.Close();
  }

  RunResult Run(const std::string& args) { return RunStrataProgram(args, dir_); }
  std::string Dir() const { return "'" + dir_ + "'"; }
  std::vector<std::string> GoodFiles() const { return {dir_ + "Good.dat", dir_ + "Good.idx"}; }

  // A journal that records a swap of Good's files cut off after the new
  // files were staged (finished by recovery) or before (rolled back).
  void LeaveInterruptedSwap(bool staged) {
    namespace fs = std::filesystem;
    JournalSwap swap;
    for (const char* extension : {".dat", ".idx"}) {
      const std::string final = dir_ + "Good" + extension;
      fs::copy_file(final, final + ".new~");
      swap.NewFiles.push_back({dir_ + "gone" + extension, final + ".new~", final});
      swap.OldFiles.push_back(
          {final, dir_ + "Good" + (extension == std::string(".dat") ? ".dbk" : ".ibk"), false});
      if (staged) fs::rename(final, swap.OldFiles.back().Backup);
    }
    std::vector<JournalEntry> entries = {swap};
    if (staged) entries.push_back(JournalSwapStaged{});
    std::vector<std::uint8_t> image = TableJournal::Magic();
    for (const JournalEntry& entry : entries) {
      const std::vector<std::uint8_t> bytes = TableJournal::Encode(entry);
      image.insert(image.end(), bytes.begin(), bytes.end());
    }
    std::ofstream(dir_ + "Good.journal", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
  }
};

constexpr const char* kChanging = "another program is changing the table";

// Every kind of reader waits for the change to end and reads the table as
// it was committed.
TEST_F(TableChangeWaitTest, AReaderWaitsForAChangeAndThenReadsTheCommittedTable) {
  const struct {
    std::string args;
    std::string expected;  // in standard output
  } cases[] = {
      {"count " + Dir() + " Good", "3 Good\n"},
      {"count " + Dir(), "3 Good\n0 Other\n"},
      {"tables " + Dir(), "Good"},
      {"info " + Dir() + " Good", "Name"},
      {"export " + Dir() + " Good --format csv", "ID,Name,Done\r\n1,n1,\r\n2,n2,\r\n3,n3,\r\n"},
      {"export-sqlite " + Dir() + " - Good", "SQLite format 3"},
      {"verify " + Dir() + " Good", "Good"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    OtherProgram change(GoodFiles(), dir_ + "Good.journal", /*exclusive=*/true, 400);
    const Clock::time_point start = Clock::now();
    const RunResult run = Run(c.args);
    EXPECT_GE(SecondsSince(start), 0.3);  // it waited
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
    EXPECT_EQ(change.Wait(), 0);
  }
}

// With --wait the reader gives up after that time, naming the table and
// why, never as a refused access or a damaged file; the other tables of a
// folder are read all the same.
TEST_F(TableChangeWaitTest, AReaderGivesUpAfterItsWaitNamingTheTable) {
  const std::string reason = std::string(kChanging) +
                             "; try again when it has finished, or wait longer with --wait "
                             "SECONDS\n";
  const struct {
    std::string args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"count " + Dir() + " Good --wait 0.3", 2, "", "strata: Good: " + reason},
      {"count " + Dir() + " --wait 0.3", 1, "0 Other\n", "strata: Good: " + reason},
      {"info " + Dir() + " Good --wait 0.3", 2, "", "strata: Good: " + reason},
      {"export " + Dir() + " Good --wait 0", 2, "", "strata: Good: " + reason},
  };
  // Held far longer than any command takes: a command that did not give up
  // would still be waiting.
  OtherProgram change(GoodFiles(), dir_ + "Good.journal", /*exclusive=*/true, 30000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Clock::time_point start = Clock::now();
    const RunResult run = Run(c.args);
    EXPECT_LT(SecondsSince(start), 10.0);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_EQ(Run("count " + Dir() + " Good --wait -1").status, 2);  // refused as usage
}

// A command that changes a table waits for a program reading it and, when
// the reader stays, names the table and what holds it.
TEST_F(TableChangeWaitTest, ARepairWaitsForAReaderAndNamesTheTableWhenItStays) {
  {
    OtherProgram reader(GoodFiles(), "", /*exclusive=*/false, 400);
    const RunResult repair = Run("repair " + Dir() + " Good --force-index-rebuild");
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(reader.Wait(), 0);
  }
  OtherProgram reader(GoodFiles(), "", /*exclusive=*/false, 30000);
  const RunResult repair = Run("repair " + Dir() + " Good --force-index-rebuild --wait 0.3");
  EXPECT_EQ(repair.status, 2);
  EXPECT_EQ(repair.err, "strata: Good: another program has the table open (it holds '" +
                            dir_ + "Good.dat'); run this again when it has closed the table, or "
                            "wait longer with --wait SECONDS\n");
}

// A change that nobody is running any more is no reason to wait: every
// reader says at once what happened and what mends it, and repair says what
// it recovered.
TEST_F(TableChangeWaitTest, AnInterruptedChangeIsNamedAtOnceAndRepairSaysWhatItRecovered) {
  for (const bool staged : {true, false}) {
    SCOPED_TRACE(staged ? "staged" : "not staged");
    LeaveInterruptedSwap(staged);
    const std::string reason = "a change to it was interrupted (Good.journal); run strata repair\n";
    // Each may wait 20 seconds for a change under way: it does not.
    const struct {
      std::string args;
      int status;
      std::string err;
    } cases[] = {
        {"count " + Dir() + " Good --wait 20", 2, "strata: Good: " + reason},
        {"count " + Dir() + " --wait 20", 1, "strata: Good: " + reason},
        {"schema " + Dir() + " --wait 20", 1, "strata: Good: " + reason},
        {"info " + Dir() + " Good --wait 20", 2, "strata: Good: " + reason},
        {"export " + Dir() + " Good --wait 20", 2, "strata: Good: " + reason},
        {"export-sqlite " + Dir() + " - Good --wait 20", 2, "strata: Good: " + reason},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.args);
      const Clock::time_point start = Clock::now();
      const RunResult run = Run(c.args);
      EXPECT_LT(SecondsSince(start), 10.0);
      EXPECT_EQ(run.status, c.status);
      EXPECT_EQ(run.err, c.err);
    }
    const RunResult tables = Run("tables " + Dir());
    EXPECT_NE(tables.out.find(reason.substr(0, reason.size() - 1)), std::string::npos)
        << tables.out;

    const RunResult repair = Run("repair " + Dir());
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(repair.out.substr(0, repair.out.find('\n') + 1),
              std::string("recovered 'Good': the interrupted change was ") +
                  (staged ? "finished" : "rolled back") + "\n");
    EXPECT_EQ(Run("count " + Dir() + " Good").out, "3 Good\n");
    std::filesystem::remove(dir_ + "Good.dbk");
    std::filesystem::remove(dir_ + "Good.ibk");
  }
  // An emptied journal records no change (a reader that held it kept its
  // writer from removing it): the table is read as it is.
  std::ofstream(dir_ + "Good.journal") << "";
  const RunResult count = Run("count " + Dir());
  EXPECT_EQ(count.status, 0) << count.err;
  EXPECT_EQ(count.out, "3 Good\n0 Other\n");
}

// The update of an older database: it waits for readers, names the table
// one of them keeps, says what it recovered of a killed run, and readers run
// over and over beside it never see a change half done.
class UpdateBesideReadersTest : public TableChangeWaitTest {
 protected:
  void SetUp() override {
    TableChangeWaitTest::SetUp();
    sample_ = dir_ + "sample/";
    ASSERT_EQ(Run("sample-db '" + sample_ + "' --rows 40").status, 0);
  }
  std::vector<std::string> DataFiles() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(sample_)) {
      if (entry.path().extension() == ".dat") files.push_back(entry.path().string());
    }
    return files;
  }
  std::string Sample() const { return "'" + sample_ + "'"; }

  std::string sample_;
};

TEST_F(UpdateBesideReadersTest, TheUpdateWaitsForReadersAndNamesTheTableOneKeeps) {
  {
    OtherProgram reader(DataFiles(), "", /*exclusive=*/false, 30000);
    const RunResult update = Run("update " + Sample());
    EXPECT_EQ(update.status, 2);
    EXPECT_NE(update.err.find("': another program has the table open (it holds '" + sample_),
              std::string::npos)
        << update.err;
    EXPECT_EQ(update.err.find("Access denied"), std::string::npos) << update.err;
  }
  // A journal of a killed run: recovered first, and said.
  std::vector<std::uint8_t> image = TableJournal::Magic();
  const std::vector<std::uint8_t> entry =
      TableJournal::Encode(JournalRemoveFile{sample_ + "asset.leftover~"});
  image.insert(image.end(), entry.begin(), entry.end());
  std::ofstream(sample_ + "asset.journal", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
  std::ofstream(sample_ + "asset.leftover~") << "x";

  OtherProgram reader(DataFiles(), "", /*exclusive=*/false, 500);
  const RunResult update = Run("update " + Sample());
  EXPECT_EQ(update.status, 0) << update.err;
  EXPECT_EQ(update.out.substr(0, update.out.find('\n') + 1),
            "recovered 'asset': the interrupted change was rolled back\n");
  EXPECT_FALSE(std::filesystem::exists(sample_ + "asset.journal"));
  EXPECT_FALSE(std::filesystem::exists(sample_ + "asset.leftover~"));
  EXPECT_EQ(reader.Wait(), 0);
}

TEST_F(UpdateBesideReadersTest, ReadersBesideAnUpdateNeverSeeAChangeHalfDone) {
  const pid_t update = StartStrataProgram({"update", sample_});
  const std::string commands[] = {"count " + Sample(), "export " + Sample() + " schedule",
                                  "tables " + Sample()};
  int rounds = 0;
  int raw = 0;
  const Clock::time_point start = Clock::now();
  while (::waitpid(update, &raw, WNOHANG) == 0 && SecondsSince(start) < 60) {
    const RunResult read = Run(commands[rounds++ % 3]);
    EXPECT_EQ(read.status, 0) << read.err;
    for (const char* wrong : {"Access denied", "missing", "interrupted", "does not exist",
                              "corrupt", "another program"}) {
      EXPECT_EQ(read.err.find(wrong), std::string::npos) << read.err;
    }
  }
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(Run("verify " + Sample()).status, 0);
}

}  // namespace
}  // namespace strata::testing
