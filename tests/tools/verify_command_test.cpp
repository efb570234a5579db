// `strata verify` and `strata repair` run as a program: the lines printed,
// the exit statuses, and bad usage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/journal/table_journal.h"
#include "engine/formats/table_file_header.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/tools/program_run.h"
#include "tools/verify_command.h"

namespace strata::testing {
namespace {


class VerifyCommandTest : public TempDirTest {
 protected:
  // Good and Bad, two empty tables; Bad's data file ends in a partial
  // record slot. The engine is gone before the program runs.
  void SetUp() override {
    TempDirTest::SetUp();
    {
      TDataEngine engine;
      UseQuickLocks(engine);
      engine.Activate();
      TDataDirectory& directory = QuickSession(engine).OpenDirectory("shop", dir_);
      CreateSample(directory, "Good");
      CreateSample(directory, "Bad");
    }
    std::ofstream(dir_ + "Bad.dat", std::ios::binary | std::ios::app) << "xyz";
  }

  RunResult Run(const std::string& args) { return RunStrataProgram(args, dir_); }
  std::string Dir() const { return "'" + dir_ + "'"; }
};

// The printed lines without their dates and times.
std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find('\n', start);
    std::string line = out.substr(start, end - start);
    for (const char* stamp : {" started at ", " completed at "}) {
      if (const std::size_t at = line.find(stamp); at != std::string::npos) {
        line.resize(at + std::string(stamp).size() - 1);
      }
    }
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TEST_F(VerifyCommandTest, PrintsTheLogAndExitsWithTheFinding) {
  const std::string misaligned = "Physical records not aligned on even record size boundaries";
  const RunResult good = Run("verify " + Dir() + " Good");
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(Lines(good.out), (std::vector<std::string>{"Verification of table Good started at",
                                                       "Verification of table Good completed at"}));
  EXPECT_EQ(good.err.find("strata:"), std::string::npos) << good.err;

  const RunResult all = Run("verify " + Dir());
  EXPECT_EQ(all.status, 1) << all.err;
  EXPECT_EQ(Lines(all.out),
            (std::vector<std::string>{"Verification of table Bad started at", misaligned,
                                      "Verification of table Bad completed at",
                                      "Verification of table Good started at",
                                      "Verification of table Good completed at"}));

  const RunResult repair = Run("repair " + Dir() + " Bad");
  EXPECT_EQ(repair.status, 1) << repair.err;
  EXPECT_EQ(Lines(repair.out), (std::vector<std::string>{"Repair of table Bad started at",
                                                         misaligned + ", error fixed",
                                                         "Repair of table Bad completed at"}));
  EXPECT_EQ(Run("verify " + Dir() + " Bad").status, 0);

  // Standard error is a file here, not a terminal: no progress line.
  const RunResult forced = Run("repair " + Dir() + " Good --force-index-rebuild");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(forced.err, "");
}

TEST_F(VerifyCommandTest, AnInterruptedSwapIsReportedByVerifyAndFinishedByRepair) {
  // Killed after Good's old files became backups, the new ones staged.
  namespace fs = std::filesystem;
  JournalSwap swap;
  for (const char* extension : {".dat", ".idx"}) {
    const std::string final = dir_ + "Good" + extension;
    fs::copy_file(final, final + ".new~");
    swap.NewFiles.push_back({dir_ + "gone" + extension, final + ".new~", final});
    swap.OldFiles.push_back({final, dir_ + "Good" + (extension == std::string(".dat") ? ".dbk" : ".ibk"), false});
    fs::rename(final, swap.OldFiles.back().Backup);
  }
  std::vector<std::uint8_t> image = TableJournal::Magic();
  for (const JournalEntry& entry : {JournalEntry{swap}, JournalEntry{JournalSwapStaged{}}}) {
    const std::vector<std::uint8_t> bytes = TableJournal::Encode(entry);
    image.insert(image.end(), bytes.begin(), bytes.end());
  }
  std::ofstream(dir_ + "Good.journal", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));

  const RunResult verify = Run("verify " + Dir());
  EXPECT_EQ(verify.status, 1) << verify.err;
  EXPECT_EQ(Lines(verify.out).front(),
            "Good: a change was interrupted; Good.journal records it, and strata repair or "
            "strata update finishes or undoes it");
  EXPECT_TRUE(fs::exists(dir_ + "Good.journal"));
  EXPECT_FALSE(fs::exists(dir_ + "Good.dat"));

  const RunResult repair = Run("repair " + Dir());
  EXPECT_EQ(repair.status, 1) << repair.err;  // Bad's finding
  EXPECT_FALSE(fs::exists(dir_ + "Good.journal"));
  EXPECT_EQ(Run("verify " + Dir() + " Good").status, 0);
}

TEST_F(VerifyCommandTest, ProgressGoesToTheTerminalLineAndIsBlankedAfterwards) {
  TDataEngine engine;
  UseQuickLocks(engine);
  engine.Activate();
  std::ostringstream out, err, terminal;
  const tools::VerifyRequest request{true, true, dir_, {"Good"}, {}, false};
  EXPECT_EQ(tools::RunVerify(QuickSession(engine), request, out, err, &terminal), 0);
  EXPECT_EQ(err.str(), "");
  const std::string shown = terminal.str();
  EXPECT_NE(shown.find("\rGood: Rebuilding indexes 100%"), std::string::npos) << shown;
  EXPECT_EQ(shown.back(), '\r');
}

// A lock file cut short or claiming more than it holds locks nobody out:
// the first program to open the folder, alone, writes it anew.
TEST_F(VerifyCommandTest, ADamagedLockFileIsWrittenAnew) {
  namespace fs = std::filesystem;
  const std::string lenPastEnd("\x01\0\0\0\xE8\x03\0\0\x04Good", 13);
  for (const std::string& damaged : {std::string("\x01\0\0", 3), lenPastEnd}) {
    std::ofstream(dir_ + "strata.lck", std::ios::binary | std::ios::trunc) << damaged;
    const RunResult repair = Run("repair " + Dir() + " Good");
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(repair.err, "");
    EXPECT_GE(fs::file_size(dir_ + "strata.lck"), 8u);
  }
}

// A Hearthbook table whose index file is gone: verify names the lost
// definitions as the catalogue gives them, repair restores them.
TEST_F(VerifyCommandTest, ALostIndexFileOfACatalogueTableIsRestoredFromTheCatalogue) {
  namespace fs = std::filesystem;
  const std::string data = dir_ + "home/";
  ASSERT_EQ(RunStrataProgram("sample-db '" + data + "' --rows 5", dir_).status, 0);
  fs::remove(data + "accents.idx");

  const RunResult verify = RunStrataProgram("verify '" + data + "' accents", dir_);
  EXPECT_EQ(verify.status, 1) << verify.err;
  EXPECT_NE(verify.out.find("Index file " + data + "accents.idx missing"), std::string::npos)
      << verify.out;
  EXPECT_NE(verify.out.find("accents: index definitions lost with the index file"),
            std::string::npos)
      << verify.out;
  EXPECT_FALSE(fs::exists(data + "accents.idx"));
  EXPECT_EQ(RunStrataProgram("info '" + data + "' accents", dir_).status, 2);

  const RunResult repair = RunStrataProgram("repair '" + data + "' accents", dir_);
  EXPECT_EQ(repair.status, 1) << repair.err;
  EXPECT_NE(repair.out.find("accents: index definitions restored from the catalogue: primary index"),
            std::string::npos)
      << repair.out;
  EXPECT_EQ(RunStrataProgram("verify '" + data + "' accents", dir_).status, 0);
  const RunResult info = RunStrataProgram("info '" + data + "' accents", dir_);
  EXPECT_EQ(info.status, 0) << info.err;
}

// A header this engine does not read (its version and the start of its
// signature zeroed): every command names the file and what is wrong with
// it; repair rebuilds an index file so damaged as it does a missing one.
TEST_F(VerifyCommandTest, AHeaderOfAnotherVersionIsNamedAndAnIndexFileSoDamagedIsRebuilt) {
  {
    TDataEngine engine;
    UseQuickLocks(engine);
    engine.Activate();
    TDataDirectory& directory = QuickSession(engine).OpenDirectory("shop", dir_);
    CreateSample(directory, "Blobs", /*withBlob=*/true);
  }
  const auto zeroVersion = [&](const std::string& file) {
    std::fstream stream(dir_ + file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(table_file_header_layout::kFormatVersion);
    stream.write(std::string(8, '\0').data(), 8);
  };
  const std::string expected = "has format version 0 where 6 is expected\n";
  std::filesystem::copy_file(dir_ + "Blobs.blb", dir_ + "Blobs.blb.kept");
  zeroVersion("Good.dat");
  zeroVersion("Blobs.blb");
  for (const std::string table : {"Good", "Blobs"}) {
    const std::string file = dir_ + table + (table == "Good" ? ".dat" : ".blb");
    for (const std::string command : {"count", "verify", "schema"}) {
      SCOPED_TRACE(command + " " + table);
      const RunResult run = Run(command + " " + Dir() + " " + table);
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.err, "strata: " + table + ": '" + file + "' " + expected);
    }
  }

  // The BLOB file whole again; now the index file.
  std::filesystem::copy_file(dir_ + "Blobs.blb.kept", dir_ + "Blobs.blb",
                             std::filesystem::copy_options::overwrite_existing);
  zeroVersion("Blobs.idx");
  const RunResult count = Run("count " + Dir() + " Blobs");
  EXPECT_EQ(count.status, 2);
  EXPECT_EQ(count.err, "strata: Blobs: '" + dir_ + "Blobs.idx' " + expected);
  const RunResult verify = Run("verify " + Dir() + " Blobs");
  EXPECT_EQ(verify.status, 1) << verify.err;
  EXPECT_NE(verify.out.find("Index file " + dir_ + "Blobs.idx unreadable"), std::string::npos)
      << verify.out;
  const RunResult repair = Run("repair " + Dir() + " Blobs");
  EXPECT_EQ(repair.status, 1) << repair.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ + "Blobs.idx.damaged~"));
  EXPECT_EQ(Run("count " + Dir() + " Blobs").out, "0 Blobs\n");
}

TEST_F(VerifyCommandTest, ErrorsAndBadUsageExitWithStatusTwo) {
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"verify " + Dir() + " Missing", "strata: Strata Engine Error # 11010 "},
      {"verify", "usage: strata verify DIR [TABLE...]"},
      {"verify " + Dir() + " --force-index-rebuild",
       "verify: unknown option '--force-index-rebuild'"},
      {"repair " + Dir() + " --fast", "repair: unknown option '--fast'"},
  };
  for (const auto& c : cases) {
    const RunResult result = Run(c.args);
    EXPECT_EQ(result.status, 2) << c.args;
    EXPECT_EQ(result.out, "") << c.args;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
  }
}

}  // namespace
}  // namespace strata::testing
