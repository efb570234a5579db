// Table journals: the file reads back up to its first damaged entry, a
// journal held by its writer is left alone, and a journal left behind is
// recovered before a table is opened, asked for or created, or refused with
// the missing file's name when it cannot be; a reader that cannot recover
// tells a change under way, which it waits for, from an interrupted one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "engine/core/cursors/data_cursor.h"
#include "engine/core/journal/table_journal.h"
#include "engine/core/journal/table_recovery.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/write_test_support.h"

namespace strata {
namespace {

using strata::testing::CodeOf;
using strata::testing::CoreTest;

std::vector<JournalEntry> EveryKind() {
  JournalSwap swap;
  swap.NewFiles = {{"/t/1.dat", "/d/x.dat.new~", "/d/x.dat"}, {"/t/1.idx", "/d/x.idx.new~", "/d/x.idx"}};
  swap.OldFiles = {{"/d/x.dat", "/d/x.dbk", false}, {"/d/x.blb", "/d/x.blb.old~", true}};
  return {JournalRemoveFile{"/t/1.ibk"},
          JournalRestoreCopy{"/d/x.idx", "/t/1.ibk"},
          JournalRestoreBytes{"/d/x.dat", 0, {1, 2, 3, 0, 255}},
          swap,
          JournalSwapStaged{},
          JournalRecovered{}};
}

std::vector<std::uint8_t> ImageOf(const std::vector<JournalEntry>& entries) {
  std::vector<std::uint8_t> image = TableJournal::Magic();
  for (const JournalEntry& entry : entries) {
    const std::vector<std::uint8_t> bytes = TableJournal::Encode(entry);
    image.insert(image.end(), bytes.begin(), bytes.end());
  }
  return image;
}

TEST(TableJournalFormatTest, ReadsBackEveryEntryUpToTheFirstDamagedOne) {
  const std::vector<JournalEntry> entries = EveryKind();
  const std::vector<std::uint8_t> image = ImageOf(entries);
  EXPECT_EQ(TableJournal::Decode(image), entries);

  // Cut anywhere: exactly the entries written whole come back.
  std::vector<std::size_t> ends;
  std::size_t end = TableJournal::Magic().size();
  for (const JournalEntry& entry : entries) ends.push_back(end += TableJournal::Encode(entry).size());
  for (std::size_t cut = 0; cut < image.size(); ++cut) {
    const std::size_t whole = static_cast<std::size_t>(
        std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
    const std::vector<std::uint8_t> prefix(image.begin(), image.begin() + static_cast<long>(cut));
    EXPECT_EQ(TableJournal::Decode(prefix),
              std::vector<JournalEntry>(entries.begin(), entries.begin() + static_cast<long>(whole)))
        << "cut at " << cut;
  }

  // A changed byte inside the third entry stops the reading there.
  std::vector<std::uint8_t> damaged = image;
  damaged[ends[1] + 7] ^= 0x20;
  EXPECT_EQ(TableJournal::Decode(damaged),
            std::vector<JournalEntry>(entries.begin(), entries.begin() + 2));
  damaged = image;
  damaged[0] = 'X';
  EXPECT_TRUE(TableJournal::Decode(damaged).empty());
}

class TableJournalTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    session_ = &strata::testing::QuickSession(engine_);
    directory_ = &session_->OpenDirectory("journals", dir_);
  }

  // A table "t" with three records.
  void CreateTable() {
    strata::testing::CreateSample(*directory_, "t");
    TDataTable& table = directory_->OpenTable("t", "t");
    for (int id = 1; id <= 3; ++id) strata::testing::AppendRecord(table, id);
    directory_->CloseTable(table);
  }
  std::int32_t RecordCount() {
    TDataCursor cursor(*directory_, "t");
    cursor.Open(true);
    return cursor.PhysicalRecordCount();
  }
  void WriteJournal(const std::vector<JournalEntry>& entries) {
    const std::vector<std::uint8_t> image = ImageOf(entries);
    std::ofstream(dir_ + "t.journal", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ + name); }

  // The swap of "t" as a full rebuild plans it, with its temporary files
  // in the folder "tmp".
  JournalSwap SwapOfT() const {
    JournalSwap swap;
    for (const char* extension : {".dat", ".idx"}) {
      const std::string final = dir_ + "t" + extension;
      swap.NewFiles.push_back({dir_ + "tmp/9" + extension, final + ".new~", final});
    }
    swap.OldFiles = {{dir_ + "t.dat", dir_ + "t.dbk", false}, {dir_ + "t.idx", dir_ + "t.ibk", false}};
    return swap;
  }

  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
};

TEST_F(TableJournalTest, AJournalHeldByItsWriterIsLeftAlone) {
  TableJournal held = TableJournal::Create(platform::CurrentFileSystem(), dir_ + "t.journal");
  held.Append({JournalRemoveFile{dir_ + "gone"}});
  std::string message;
  EXPECT_EQ(CodeOf([&] { TableJournal::OpenLeftover(platform::CurrentFileSystem(), dir_ + "t.journal", 2, 1); }, &message),
            STRATA_OSEACCES);
  EXPECT_NE(message.find("t.journal"), std::string::npos) << message;
  EXPECT_EQ(CodeOf([&] { TableJournal::Create(platform::CurrentFileSystem(), dir_ + "t.journal"); }), STRATA_OSEACCES);

  // A file of that name that is not a journal is nobody's to recover.
  Put("u.journal", "notes of somebody else");
  EXPECT_FALSE(TableJournal::OpenLeftover(platform::CurrentFileSystem(), dir_ + "u.journal", 0, 0).has_value());
  EXPECT_EQ(Slurp("u.journal"), "notes of somebody else");
  EXPECT_FALSE(TableJournal::OpenLeftover(platform::CurrentFileSystem(), dir_ + "missing.journal", 0, 0).has_value());
}

TEST_F(TableJournalTest, AHalfSwappedTableIsFinishedBeforeItIsAskedForOrCreated) {
  CreateTable();
  // Killed after the old files became backups: the new files are staged.
  std::filesystem::rename(dir_ + "t.dat", dir_ + "t.dbk");
  std::filesystem::rename(dir_ + "t.idx", dir_ + "t.ibk");
  std::filesystem::copy_file(dir_ + "t.dbk", dir_ + "t.dat.new~");
  std::filesystem::copy_file(dir_ + "t.ibk", dir_ + "t.idx.new~");
  WriteJournal({SwapOfT(), JournalSwapStaged{}});

  EXPECT_TRUE(directory_->TableExists("t"));
  EXPECT_FALSE(Exists("t.journal"));
  EXPECT_FALSE(Exists("t.dat.new~"));
  EXPECT_EQ(CodeOf([&] {
              TDataCursor cursor(*directory_, "t", CursorModes{.Exclusive = true});
              std::vector<FieldDescriptor> fields = strata::testing::SampleStructure().Fields;
              std::array<IndexDescriptor, kIndexSlotCount> indexes{};
              indexes[0] = TIndexFile::DefaultPrimaryDescriptor();
              cursor.CreateTableFiles({}, {fields, indexes, 0});
            }),
            STRATA_TABLEEXISTS);
  EXPECT_EQ(RecordCount(), 3);
}

// A power cut that kept a later rename of the swap and lost an earlier one
// (the disk may order the renames of one folder as it likes until the
// folder is synced): each old file still under its name is moved aside
// before its new file takes the name.
TEST_F(TableJournalTest, ASwapWithAnyOfItsRenamesLostIsFinished) {
  CreateTable();
  std::filesystem::copy_file(dir_ + "t.dat", dir_ + "t.dat.new~");
  std::filesystem::copy_file(dir_ + "t.idx", dir_ + "t.idx.new~");
  Put("t.ibk", "an older backup");
  const std::string oldIndex = Slurp("t.idx");
  std::filesystem::rename(dir_ + "t.dat", dir_ + "t.dbk");
  std::filesystem::rename(dir_ + "t.dat.new~", dir_ + "t.dat");
  WriteJournal({SwapOfT(), JournalSwapStaged{}});

  EXPECT_EQ(RecordCount(), 3);
  for (const char* gone : {"t.journal", "t.dat.new~", "t.idx.new~"}) EXPECT_FALSE(Exists(gone)) << gone;
  EXPECT_EQ(Slurp("t.ibk"), oldIndex);
  EXPECT_TRUE(Exists("t.dbk"));
}

// A journal's header reaches the disk with its first entry, in one sync. A
// header lost or cut short by a power cut (zeros, as a file system leaves
// that kept the size but not the bytes) means that no entry was complete:
// whatever follows it announces nothing, and the journal goes.
TEST_F(TableJournalTest, AJournalWithoutItsHeaderAnnouncesNothing) {
  CreateTable();
  const std::vector<std::uint8_t> whole = ImageOf({JournalRemoveFile{dir_ + "t.dat"}});
  const std::size_t header = TableJournal::Magic().size();
  std::vector<std::uint8_t> headerLost = whole;
  std::fill(headerLost.begin(), headerLost.begin() + static_cast<long>(header), 0);
  std::vector<std::uint8_t> headerTorn = whole;
  std::fill(headerTorn.begin() + 3, headerTorn.begin() + static_cast<long>(header), 0);
  const struct {
    const char* what;
    std::vector<std::uint8_t> image;
  } cases[] = {{"all zeros", std::vector<std::uint8_t>(whole.size(), 0)},
               {"header lost, entry kept", headerLost},
               {"header cut short", headerTorn},
               {"zeros shorter than a header", std::vector<std::uint8_t>(5, 0)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(dir_ + "t.journal", std::ios::binary)
        .write(reinterpret_cast<const char*>(c.image.data()), static_cast<long>(c.image.size()));
    EXPECT_EQ(RecordCount(), 3);
    EXPECT_FALSE(Exists("t.journal"));
  }
}

// What a correct run cannot leave: a file the swap does not know holds the
// name a staged file is to take. It is named, and nothing moves.
TEST_F(TableJournalTest, AStrangerHoldingAFinalNameIsNamed) {
  CreateTable();
  std::filesystem::copy_file(dir_ + "t.dat", dir_ + "t.dat.new~");
  std::filesystem::copy_file(dir_ + "t.idx", dir_ + "t.idx.new~");
  JournalSwap swap = SwapOfT();
  swap.OldFiles.pop_back();  // the plan found no index file
  WriteJournal({swap, JournalSwapStaged{}});
  std::string message;
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("t", "t"); }, &message), STRATA_OSEACCES);
  EXPECT_NE(message.find(dir_ + "t.idx'"), std::string::npos) << message;
  for (const char* kept : {"t.idx", "t.idx.new~", "t.journal"}) EXPECT_TRUE(Exists(kept)) << kept;
}

TEST_F(TableJournalTest, AJournalComingBackAfterTheSwapChangesNothing) {
  CreateTable();
  Put("t.dbk", "an older backup");
  WriteJournal({SwapOfT(), JournalSwapStaged{}});
  EXPECT_EQ(RecordCount(), 3);
  EXPECT_EQ(Slurp("t.dbk"), "an older backup");
  EXPECT_FALSE(Exists("t.journal"));
}

TEST_F(TableJournalTest, AnUnstagedSwapIsUndoneAndTheOldTableKept) {
  CreateTable();
  std::filesystem::create_directory(dir_ + "tmp");
  Put("tmp/9.dat", "half a new table");
  Put("t.dat.new~", "a staged new file");
  WriteJournal({SwapOfT()});
  EXPECT_EQ(RecordCount(), 3);
  EXPECT_FALSE(Exists("tmp/9.dat"));
  EXPECT_FALSE(Exists("t.dat.new~"));
  EXPECT_FALSE(Exists("t.journal"));
}

TEST_F(TableJournalTest, WhatCannotBeRecoveredIsNamedAndNothingIsDeleted) {
  CreateTable();
  std::filesystem::rename(dir_ + "t.dat", dir_ + "t.dbk");
  std::filesystem::rename(dir_ + "t.idx", dir_ + "t.ibk");
  Put("t.idx.new~", "a staged index, its data file lost");
  WriteJournal({SwapOfT(), JournalSwapStaged{}});

  std::string message;
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("t", "t"); }, &message), STRATA_OSENOENT);
  EXPECT_NE(message.find("t.dat.new~"), std::string::npos) << message;
  for (const char* kept : {"t.dbk", "t.ibk", "t.idx.new~", "t.journal"}) {
    EXPECT_TRUE(Exists(kept)) << kept;
  }

  // An undo whose copy is gone likewise.
  std::filesystem::remove(dir_ + "t.journal");
  std::filesystem::rename(dir_ + "t.dbk", dir_ + "t.dat");
  std::filesystem::rename(dir_ + "t.ibk", dir_ + "t.idx");
  WriteJournal({JournalRestoreCopy{dir_ + "t.idx", dir_ + "tmp/9.ibk"}});
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("t", "t"); }, &message), STRATA_OSENOENT);
  EXPECT_NE(message.find("9.ibk"), std::string::npos) << message;
  EXPECT_TRUE(Exists("t.journal"));
}

TEST_F(TableJournalTest, AReadOnlyDatabaseRefusesATableThatNeedsRecovery) {
  CreateTable();
  WriteJournal({JournalRemoveFile{dir_ + "leftover"}});
  session_->CloseDirectory(*directory_);
  std::filesystem::permissions(dir_ + "strata.lck", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  directory_ = &session_->OpenDirectory("journals", dir_);
  ASSERT_TRUE(directory_->ReadOnlyDatabase());
  std::string message;
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("t", "t"); }, &message), STRATA_OSEACCES);
  EXPECT_NE(message.find("t.journal"), std::string::npos) << message;
}

// What a reader that may not recover learns from a journal, and what the
// next writer's recovery will do with it.
TEST_F(TableJournalTest, AReaderTellsAChangeUnderWayFromAnInterruptedOne) {
  platform::FileSystem& files = platform::CurrentFileSystem();
  const std::string path = dir_ + "t.journal";
  EXPECT_EQ(TableJournal::Inspect(files, path), JournalState::None);
  {
    TableJournal held = TableJournal::Create(files, path);
    held.Append({JournalRemoveFile{dir_ + "gone"}});
    EXPECT_EQ(TableJournal::Inspect(files, path), JournalState::InProgress);
  }  // its writer gone, the journal stays
  std::vector<JournalEntry> recorded;
  EXPECT_EQ(TableJournal::Inspect(files, path, &recorded), JournalState::Interrupted);
  EXPECT_EQ(recorded.size(), 1u);
  EXPECT_FALSE(RecoveryFinishes(recorded));

  const struct {
    const char* name;
    std::vector<JournalEntry> entries;
    JournalState state;
    bool finishes;
  } cases[] = {
      {"nothing recorded", {}, JournalState::Complete, false},
      {"marked recovered", {JournalRemoveFile{dir_ + "gone"}, JournalRecovered{}},
       JournalState::Complete, false},
      {"swap staged", {SwapOfT(), JournalSwapStaged{}}, JournalState::Interrupted, true},
      {"swap not staged", {SwapOfT()}, JournalState::Interrupted, false},
      {"undo", {JournalRestoreBytes{dir_ + "t.dat", 0, {1}}}, JournalState::Interrupted, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteJournal(c.entries);
    recorded.clear();
    EXPECT_EQ(TableJournal::Inspect(files, path, &recorded), c.state);
    if (c.state == JournalState::Interrupted) {
      EXPECT_EQ(RecoveryFinishes(recorded), c.finishes);
    }
  }
  Put("t.journal", "notes of somebody else");
  EXPECT_EQ(TableJournal::Inspect(files, path), JournalState::Complete);
  EXPECT_EQ(Slurp("t.journal"), "notes of somebody else");
}

// A reader of a read-only database waits while another user's change holds
// the table's journal, then reads the table; a journal that records nothing
// is no change at all.
TEST_F(TableJournalTest, AReadOnlyDatabaseWaitsForAChangeUnderWay) {
  CreateTable();
  session_->CloseDirectory(*directory_);
  std::filesystem::permissions(dir_ + "strata.lck", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  directory_ = &session_->OpenDirectory("journals", dir_);
  ASSERT_TRUE(directory_->ReadOnlyDatabase());
  session_->SetLockWaitTime(20);
  session_->SetLockRetryCount(50);

  std::optional<TableJournal> change =
      TableJournal::Create(platform::CurrentFileSystem(), dir_ + "t.journal");
  change->Append({JournalRemoveFile{dir_ + "gone"}});
  std::thread ends([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    change->Remove();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RecordCount(), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  ends.join();

  // Given up after the session's retries, naming the journal.
  TableJournal again = TableJournal::Create(platform::CurrentFileSystem(), dir_ + "t.journal");
  again.Append({JournalRemoveFile{dir_ + "gone"}});
  session_->SetLockRetryCount(2);
  std::string message;
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("t", "t"); }, &message), STRATA_OSEACCES);
  EXPECT_NE(message.find("t.journal"), std::string::npos) << message;
  again.Remove();

  Put("t.journal", "");
  EXPECT_EQ(RecordCount(), 3);
  EXPECT_TRUE(Exists("t.journal"));  // a reader changes nothing
}

}  // namespace
}  // namespace strata
