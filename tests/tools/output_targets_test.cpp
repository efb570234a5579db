// Where the exports write, run as a program: a new path, a regular file
// (its mode and owner kept), a symbolic link, a hard link, a FIFO with a
// reader, a device through a link, "-" and a folder, each for `export` and
// `export-sqlite`; standard output that refuses the bytes; and signals that
// end a command while it has begun a file or a folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "tests/tools/export_fixture.h"
#include "tests/tools/program_run.h"

namespace strata::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kCsv[] = "Number,Label\r\n1,one\r\n2,two\r\n3,three\r\n";
constexpr uid_t kNobody = 65534;

// A folder "data" with the table Small (three rows) and a folder "out" for
// the outputs.
class OutputTargetsTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    dir_ = data_.string() + "/";
    CreateNumberAndTextTable(dir_, "Small", "Number", "Label", 10);
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", dir_);
    {
      TDataCursor cursor(directory, "Small", CursorModes{.Exclusive = true});
      cursor.Open();
      std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
      const char* labels[] = {"one", "two", "three"};
      for (std::int32_t n = 1; n <= 3; ++n) {
        cursor.ApplyDefaults(record);
        std::uint8_t number[4];
        StoreI32(number, n);
        cursor.SetField(record, 1, std::span<const std::uint8_t>(number));
        const std::string label = std::string(labels[n - 1]) + '\0';
        cursor.SetField(record, 2,
                        std::span(reinterpret_cast<const std::uint8_t*>(label.data()), label.size()));
        cursor.InsertRecord(record);
      }
      cursor.Close();
    }
    session.CloseDirectory(directory);
    fs::remove(dir_ + "strata.lck");
    out_ = root_ / "out";
    fs::create_directories(out_);
  }
  RunResult Run(const std::string& args) { return RunStrataProgram(args, dir_); }
  std::string Quoted(const fs::path& path) const { return "'" + path.string() + "'"; }
  // The names in the output folder.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  fs::path out_;
};

// True when the file is a SQLite database holding Small's three rows.
bool HoldsSmall(const std::string& path) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
  std::string rows;
  ok = ok && sqlite3_exec(
                 db, "SELECT Number, Label FROM Small ORDER BY Number",
                 [](void* text, int, char** values, char**) {
                   *static_cast<std::string*>(text) += std::string(values[0]) + values[1] + ";";
                   return 0;
                 },
                 &rows, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok && rows == "1one;2two;3three;";
}

TEST_F(OutputTargetsTest, EachKindOfTargetIsReplacedOrWrittenInPlace) {
  const bool root = ::geteuid() == 0;
  struct Case {
    std::string what;
    // Makes what the target path names, before the command.
    std::function<void(const fs::path&)> make;
    // The names the output folder holds afterwards.
    std::vector<std::string> names;
  };
  const fs::path file = out_ / "target";
  const std::vector<Case> cases = {
      {"a new path", [](const fs::path&) {}, {"target"}},
      {"a file of mode 0640 and another owner",
       [&](const fs::path& path) {
         std::ofstream(path) << "old content, longer than the new one will be .........";
         fs::permissions(path, fs::perms(0640));
         if (root) {
           ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
         }
       },
       {"target"}},
      {"a symbolic link",
       [&](const fs::path& path) {
         std::ofstream(out_ / "real") << "old";
         fs::create_symlink("real", path);
       },
       {"real", "target"}},
      {"a hard link",
       [&](const fs::path& path) {
         std::ofstream(path) << "old";
         fs::create_hard_link(path, out_ / "other");
       },
       {"other", "target"}},
  };
  for (const char* command : {"export", "export-sqlite"}) {
    const bool sqlite = std::string(command) == "export-sqlite";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(command) + " to " + c.what);
      fs::remove_all(out_);
      fs::create_directories(out_);
      c.make(file);
      struct stat before {};
      const bool existed = ::stat(file.c_str(), &before) == 0;
      const RunResult run =
          Run(sqlite ? "export-sqlite '" + dir_ + "' " + Quoted(file) + " Small --replace"
                     : "export '" + dir_ + "' Small --output " + Quoted(file));
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(Names(), c.names);
      // Every name of the target shows the new content.
      for (const std::string& name : c.names) {
        if (sqlite) {
          EXPECT_TRUE(HoldsSmall((out_ / name).string())) << name;
        } else {
          EXPECT_EQ(ReadWholeFile((out_ / name).string()), kCsv) << name;
        }
      }
      struct stat after {};
      ASSERT_EQ(::lstat(file.c_str(), &after), 0);
      if (c.what == "a symbolic link") {
        EXPECT_TRUE(S_ISLNK(after.st_mode));
      }
      if (c.what == "a hard link") {
        EXPECT_EQ(after.st_ino, before.st_ino);
      }
      if (existed) {
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
      }
    }
  }
}

TEST_F(OutputTargetsTest, FifoDeviceStandardOutputAndFolderAreNeverReplaced) {
  const fs::path fifo = out_ / "fifo";
  const fs::path received = root_ / "received";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const char* command : {"export", "export-sqlite"}) {
    SCOPED_TRACE(command);
    const bool sqlite = std::string(command) == "export-sqlite";
    const std::string writer = sqlite ? "export-sqlite '" + dir_ + "' " + Quoted(fifo) + " Small"
                                      : "export '" + dir_ + "' Small --output " + Quoted(fifo);
    // The reader gives up after a while if nothing ever opens the FIFO.
    const RunResult run =
        Run(writer + " & timeout 20 cat " + Quoted(fifo) + " >" + Quoted(received) + "; wait $!");
    EXPECT_EQ(run.status, 0) << run.err;
    struct stat after {};
    ASSERT_EQ(::lstat(fifo.c_str(), &after), 0);
    EXPECT_TRUE(S_ISFIFO(after.st_mode));
    const std::string got = ReadWholeFile(received.string());
    if (sqlite) {
      EXPECT_TRUE(got.starts_with(std::string("SQLite format 3") + '\0')) << got.size();
      EXPECT_TRUE(HoldsSmall(received.string()));
    } else {
      EXPECT_EQ(got, kCsv);
    }

    // A device through a link: written in place, so its error shows.
    const fs::path full = out_ / "full";
    fs::remove(full);
    fs::create_symlink("/dev/full", full);
    const RunResult refused = Run(sqlite ? "export-sqlite '" + dir_ + "' " + Quoted(full) + " Small"
                                         : "export '" + dir_ + "' Small --output " + Quoted(full));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "strata: cannot write '" + full.string() +
                               "': no space left on the device\n");
    EXPECT_TRUE(fs::is_symlink(full));

    const RunResult standard = Run(sqlite ? "export-sqlite '" + dir_ + "' - Small"
                                          : "export '" + dir_ + "' Small --output -");
    EXPECT_EQ(standard.status, 0) << standard.err;
    if (sqlite) {
      EXPECT_TRUE(standard.out.starts_with(std::string("SQLite format 3") + '\0'));
    } else {
      EXPECT_EQ(standard.out, kCsv);
    }
    EXPECT_FALSE(fs::exists(dir_ + "-"));
    EXPECT_FALSE(fs::exists(root_ / "-"));

    const RunResult folder = Run(sqlite ? "export-sqlite '" + dir_ + "' " + Quoted(out_) + " Small"
                                        : "export '" + dir_ + "' Small --output " + Quoted(out_));
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "strata: cannot write '" + out_.string() + "': it is a folder\n");
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "full"}));
}

// Standard output that takes nothing: every command says so and ends with
// status 2, whatever it printed.
TEST_F(OutputTargetsTest, AFullStandardOutputIsAnError) {
  const std::string d = "'" + dir_ + "'";
  for (const std::string& args :
       {"tables " + d, "info " + d + " Small", "schema " + d, "count " + d + " Small",
        "verify " + d, "export " + d + " Small", "export-sqlite " + d + " - Small",
        std::string("help"), std::string("help export"), std::string("--version")}) {
    SCOPED_TRACE(args);
    const std::string err = (root_ / "err").string();
    const int raw =
        std::system(("'" + StrataProgramPath() + "' " + args + " >/dev/full 2>'" + err + "'").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
    EXPECT_EQ(ReadWholeFile(err), "strata: cannot write 'standard output': no space left on the device\n");
  }
}

// Waits until `ready` holds, for at most 60 seconds.
bool WaitUntil(const std::function<bool()>& ready) {
  for (int i = 0; i < 60000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(OutputTargetsTest, ASignalRemovesWhatTheCommandBegan) {
  // The database is complete and waits for a reader of the FIFO.
  const fs::path fifo = out_ / "fifo";
  const fs::path temporary = root_ / "tmp";
  fs::create_directories(temporary);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t exporting = StartStrataProgram({"export-sqlite", dir_, fifo.string(), "Small"},
                                             {"TMPDIR=" + temporary.string()});
  ASSERT_TRUE(WaitUntil([&] { return !fs::is_empty(temporary); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(exporting, SIGINT);
  EXPECT_EQ(WaitForStrataProgram(exporting), 128 + SIGINT);
  EXPECT_TRUE(fs::is_empty(temporary));

  // A sample database in a new folder two levels down: both go.
  const fs::path sample = root_ / "new" / "sample";
  const pid_t writing = StartStrataProgram({"sample-db", sample.string(), "--rows", "3000"});
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code ignored;
    return std::distance(fs::directory_iterator(sample, ignored), fs::directory_iterator()) > 6;
  }));
  ::kill(writing, SIGTERM);
  EXPECT_EQ(WaitForStrataProgram(writing), 128 + SIGTERM);
  EXPECT_FALSE(fs::exists(root_ / "new"));

  // Into an empty folder that was there: the folder stays, empty.
  fs::create_directories(sample);
  const pid_t filling = StartStrataProgram({"sample-db", sample.string(), "--rows", "3000"});
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code ignored;
    return std::distance(fs::directory_iterator(sample, ignored), fs::directory_iterator()) > 6;
  }));
  ::kill(filling, SIGHUP);
  EXPECT_EQ(WaitForStrataProgram(filling), 128 + SIGHUP);
  EXPECT_TRUE(fs::is_directory(sample));
  EXPECT_TRUE(fs::is_empty(sample));
}

}  // namespace
}  // namespace strata::testing
