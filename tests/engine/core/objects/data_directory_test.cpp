#include "engine/core/objects/data_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/index_file_header_layout.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/engine/core/core_test_support.h"

namespace strata {
namespace {

using namespace strata::testing;

namespace fs = std::filesystem;

class DirectoryTest : public strata::testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    session_ = &QuickSession(engine_);
    directory_ = &session_->OpenDirectory("books", dir_);
  }
  bool OnDisk(const std::string& name) const { return fs::exists(dir_ + name); }

  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
};

TEST_F(DirectoryTest, SessionSharesDirectoriesByPath) {
  EXPECT_EQ(directory_->Path(), dir_);
  EXPECT_EQ(directory_->ErrorDatabaseName(), DatabaseName());
  TDataDirectory& again = session_->OpenDirectory("other", DatabaseName());
  EXPECT_EQ(&again, directory_);
  EXPECT_EQ(directory_->ReferenceCount(), 2);
  TDataDirectory& named = session_->OpenDirectory("other", dir_, true);
  EXPECT_NE(&named, directory_);
  session_->CloseDirectory(again);
  session_->CloseDirectory(named);
  EXPECT_EQ(session_->DirectoryCount(), 1u);
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  TDataDirectory& current = session_->OpenDirectory("cwd", "");
  fs::current_path(previous);
  EXPECT_EQ(current.Path(), dir_);

  EXPECT_EQ(session_->StoredPrivateDirectory(), platform::TemporaryPath());
  session_->SetPrivateDirectory(" C:\\work ");
  EXPECT_EQ(session_->PrivateDirectory(), "C:/work/");
  session_->SetPrivateDirectory("");
  EXPECT_EQ(session_->PrivateDirectory(), platform::CurrentDirectory());
  for (const auto& [steps, step] : {std::pair{20, 5}, {0, 100}, {3, 33}, {150, 0}}) {
    session_->SetProgressSteps(steps);
    EXPECT_EQ(session_->ProgressStep(), step) << steps;
  }
}

TEST_F(DirectoryTest, CreateOpenCloseKeepsFilesAndCounts) {
  CreateSample(*directory_, "asset", true);
  EXPECT_TRUE(OnDisk("asset.dat"));
  EXPECT_TRUE(OnDisk("asset.idx"));
  EXPECT_TRUE(OnDisk("asset.blb"));
  EXPECT_EQ(directory_->TableCount(), 0u);

  CreateSample(*directory_, "plain");
  EXPECT_FALSE(OnDisk("plain.blb"));

  TDataTable& table = directory_->OpenTable("asset", "asset");
  EXPECT_TRUE(table.IsOpen());
  EXPECT_FALSE(table.Exclusive());
  EXPECT_EQ(table.DataFile()->FieldCount(), 3 + 1);
  EXPECT_TRUE(table.HasBlobFields());
  EXPECT_NE(table.LockEntry(), nullptr);
  EXPECT_EQ(&directory_->OpenTable("asset", "asset"), &table);
  EXPECT_EQ(table.OpenCount(), 2);
  directory_->CloseTable(table);
  EXPECT_TRUE(table.IsOpen());
  directory_->CloseTable(table);
  EXPECT_EQ(directory_->TableCount(), 0u);
}

// An engine handed a file system does all its file work there, whatever the
// process-wide one is: its tables, lock file and journals.
TEST_F(DirectoryTest, AnEngineHandedAFileSystemWorksOnlyThere) {
  fs::create_directories(dir_ + "own");
  strata::testing::WrappingFileSystem handed;
  strata::testing::WrappingFileSystem processWide;
  platform::ScopedFileSystem scope(processWide);
  {
    TDataEngine engine(handed);
    strata::testing::UseQuickLocks(engine);
    engine.Activate();
    TDataDirectory& directory = QuickSession(engine).OpenDirectory("own", dir_ + "own/");
    CreateSample(directory, "asset", true);
    TDataTable& table = directory.OpenTable("asset", "asset");
    strata::testing::AppendRecord(table, 1);
    directory.CloseTable(table);
  }
  EXPECT_GT(handed.writes, 0);
  EXPECT_GT(handed.reads, 0);
  EXPECT_EQ(processWide.writes, 0);
  EXPECT_EQ(processWide.reads, 0);
  EXPECT_TRUE(OnDisk("own/asset.dat"));
}

TEST_F(DirectoryTest, NamesInAnyFormOpenTheSameTableFiles) {
  CreateSample(*directory_, "asset", true);
  TDataTable& table = directory_->OpenTable("asset", "asset");
  for (const char* given : {"asset.dat", "ASSET.DAT", "C:\\x\\asset.dat", "/elsewhere/Asset"}) {
    EXPECT_EQ(&directory_->OpenTable(given, given), &table) << given;
    EXPECT_TRUE(directory_->TableExists(given)) << given;
  }
  EXPECT_EQ(table.Name(), "asset");
  EXPECT_EQ(table.FilePath(TableFileKind::Data), dir_ + "asset.dat");
  EXPECT_EQ(table.FilePath(TableFileKind::Index), dir_ + "asset.idx");
  EXPECT_EQ(table.FilePath(TableFileKind::Blob), dir_ + "asset.blb");
  EXPECT_EQ(table.OpenCount(), 5);
}

// A name ending in the data extension twice loses it once only: the table
// is the file x.dat.dat, apart from the table x, under every form of the
// name, the listed one included.
TEST_F(DirectoryTest, DoubleDataExtensionNamesItsOwnFile) {
  CreateSample(*directory_, "x");
  CreateSample(*directory_, "x.dat.dat");
  EXPECT_TRUE(OnDisk("x.dat.dat"));
  EXPECT_TRUE(OnDisk("x.dat.idx"));
  TDataTable& plain = directory_->OpenTable("x", "x");
  TDataTable& doubled = directory_->OpenTable("x.dat.dat", "x.dat.dat");
  EXPECT_NE(&plain, &doubled);
  EXPECT_EQ(doubled.FilePath(TableFileKind::Data), dir_ + "x.dat.dat");
  EXPECT_EQ(&directory_->OpenTable(doubled.Name(), doubled.Name()), &doubled);
  EXPECT_EQ(directory_->ListTables(), (std::vector<std::string>{"x", "x.dat.dat"}));
  directory_->CloseTable(doubled);
  directory_->CloseTable(doubled);
  directory_->CloseTable(plain);
}

TEST_F(DirectoryTest, FilesCopiedWithOtherLetterCaseAreFound) {
  CreateSample(*directory_, "accents", true);
  for (const char* ext : {".dat", ".idx", ".blb"}) {
    fs::rename(dir_ + "accents" + ext, dir_ + "Accents" + std::string(ext == std::string(".dat") ? ".DAT" : ext));
  }
  EXPECT_TRUE(directory_->TableExists("accents"));
  TDataTable& table = directory_->OpenTable("ACCENTS", "ACCENTS");
  EXPECT_FALSE(table.IndexRecreated());
  directory_->CloseTable(table);
  directory_->DeleteTable("accents");
  EXPECT_FALSE(OnDisk("Accents.DAT") || OnDisk("Accents.idx") || OnDisk("Accents.blb"));
}

TEST_F(DirectoryTest, ExistenceLooksAtTheDataFileOnly) {
  CreateSample(*directory_, "both");
  fs::remove(dir_ + "both.idx");
  EXPECT_TRUE(directory_->TableExists("both"));
  Put("orphan.idx", "");
  EXPECT_FALSE(directory_->TableExists("orphan"));
  fs::create_directory(dir_ + "folder.dat");
  EXPECT_FALSE(directory_->TableExists("folder"));
  EXPECT_FALSE(directory_->TableExists("missing"));
}

TEST_F(DirectoryTest, ListsTablesAndMakesUnusedTemporaryNames) {
  for (const char* name : {"beta", "Alpha", "gamma"}) CreateSample(*directory_, name);
  Put("notes.txt", "");
  EXPECT_EQ(directory_->ListTables(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));

  const std::string first = directory_->MakeTempTableName();
  const std::string prefix = platform::ThreadIdText().substr(0, 5);
  EXPECT_EQ(first, prefix + "0.dat");
  CreateSample(*directory_, first);
  EXPECT_EQ(directory_->MakeTempTableName(), prefix + "1.dat");
}

// Only a repair's open replaces a lost index file; any other open fails
// naming the file and leaves it as it is.
TEST_F(DirectoryTest, LostIndexFileFailsTheOpenAndIsReplacedOnlyForARepair) {
  CreateSample(*directory_, "asset");
  for (const bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "unreadable" : "missing");
    if (truncate) {
      fs::resize_file(dir_ + "asset.idx", 100);
    } else {
      fs::remove(dir_ + "asset.idx");
    }
    std::string message;
    EXPECT_EQ(CodeOf([&] { directory_->OpenTable("asset", "asset"); }, &message),
              truncate ? STRATA_READERR : STRATA_OSENOENT);
    EXPECT_NE(message.find(dir_ + "asset.idx"), std::string::npos) << message;
    EXPECT_EQ(fs::exists(dir_ + "asset.idx"), truncate);
    EXPECT_EQ(directory_->TableCount(), 0u);

    TDataTable& table = directory_->OpenTable("asset", "asset", {.RebuildLostIndex = true});
    EXPECT_TRUE(table.IndexRecreated());
    EXPECT_EQ(table.LostIndex(), truncate ? LostIndexFile::Unreadable : LostIndexFile::Missing);
    EXPECT_TRUE(table.IndexFile()->IsDefaultPrimary());
    EXPECT_EQ(table.IndexFile()->Descriptor(kFullTextSlot), TIndexFile::EmptyTextDescriptor());
    directory_->CloseTable(table);
    if (truncate) {
      EXPECT_EQ(fs::file_size(dir_ + "asset.idx.damaged~"), 100u);
    }

    TDataTable& again = directory_->OpenTable("asset", "asset", {.VerifyHeaders = true});
    EXPECT_FALSE(again.IndexRecreated());
    directory_->CloseTable(again);
  }
}

TEST_F(DirectoryTest, DamagedIndexHeaderIsNotReplaced) {
  CreateSample(*directory_, "asset");
  std::string index = Slurp("asset.idx");
  index[index_header_layout::kFormatVersion] = 99;
  Put("asset.idx", index);
  EXPECT_EQ(CodeOf([&] { directory_->OpenTable("asset", "asset"); }), STRATA_BADSIGNATURE);
  EXPECT_EQ(Slurp("asset.idx"), index);
  EXPECT_EQ(directory_->TableCount(), 0u);
}

TEST_F(DirectoryTest, DeleteAndRenameMoveEveryFile) {
  CreateSample(*directory_, "asset", true);
  directory_->RenameTable("asset", dir_, false, "goods.dat");
  EXPECT_FALSE(OnDisk("asset.dat"));
  EXPECT_TRUE(OnDisk("goods.dat") && OnDisk("goods.idx") && OnDisk("goods.blb"));

  Put("goods.dbk", "old backup");
  directory_->RenameTable("goods", dir_, true, "goods");
  EXPECT_TRUE(OnDisk("goods.dbk") && OnDisk("goods.ibk") && OnDisk("goods.bbk"));
  EXPECT_NE(Slurp("goods.dbk"), "old backup");
  EXPECT_FALSE(directory_->TableExists("goods"));

  fs::create_directory(dir_ + "moved");
  CreateSample(*directory_, "item");
  directory_->RenameTable("item", dir_ + "moved", false, "item");
  EXPECT_TRUE(OnDisk("moved/item.dat") && OnDisk("moved/item.idx"));

  CreateSample(*directory_, "gone", true);
  TDataTable& open = directory_->OpenTable("gone", "gone");
  EXPECT_EQ(CodeOf([&] { directory_->DeleteTable("gone"); }), STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { directory_->RenameTable("gone", dir_, true, "gone"); }), STRATA_OSEACCES);
  directory_->CloseTable(open);
  fs::remove(dir_ + "gone.idx");
  directory_->DeleteTable("gone");
  EXPECT_FALSE(OnDisk("gone.dat") || OnDisk("gone.blb"));
  EXPECT_EQ(CodeOf([&] { directory_->DeleteTable("gone"); }), STRATA_OSENOENT);
}

TEST_F(DirectoryTest, CreateRefusesAnOpenTableAndCleansUpAfterFailure) {
  CreateSample(*directory_, "asset");
  TDataTable& open = directory_->OpenTable("asset", "asset");
  EXPECT_EQ(CodeOf([&] { directory_->CreateTable("asset", "asset", false, SampleStructure()); }),
            STRATA_OSEACCES);
  directory_->CloseTable(open);

  TableStructure bad = SampleStructure(true);
  bad.Info.IndexPageSize = 100;  // refused after the data file exists
  EXPECT_EQ(CodeOf([&] { directory_->CreateTable("broken", "broken", false, bad); }),
            STRATA_HEADERCORRUPT);
  EXPECT_FALSE(OnDisk("broken.dat") || OnDisk("broken.idx") || OnDisk("broken.blb"));
  EXPECT_EQ(directory_->TableCount(), 0u);
}

TEST_F(DirectoryTest, KeptOpenTablesStayOpenUntilDeleted) {
  fs::create_directory(dir_ + "keep");
  TDataDirectory& keeping = session_->OpenDirectory("keep", dir_ + "keep", false, true);
  CreateSample(keeping, "asset");
  TDataTable& table = keeping.OpenTable("asset", "asset");
  keeping.CloseTable(table);
  EXPECT_TRUE(table.IsOpen());
  EXPECT_EQ(table.OpenCount(), 0);
  EXPECT_EQ(keeping.TableCount(), 1u);
  keeping.DeleteTable("asset");
  EXPECT_EQ(keeping.TableCount(), 0u);
  EXPECT_FALSE(fs::exists(dir_ + "keep/asset.dat"));
}

TEST_F(DirectoryTest, MemoryDatabaseKeepsItsTablesInMemory) {
  TDataDirectory& memory = session_->OpenDirectory("MEMORY", "");
  EXPECT_TRUE(memory.InMemory());
  EXPECT_FALSE(memory.ReadOnlyDatabase());
  CreateSample(memory, "scratch", true);
  EXPECT_TRUE(memory.TableExists("scratch"));
  EXPECT_EQ(memory.ListTables(), std::vector<std::string>{"scratch"});
  EXPECT_FALSE(fs::exists("scratch.dat"));
  TDataTable& table = memory.OpenTable("scratch", "scratch");
  strata::testing::AppendRecord(table, 1);
  EXPECT_EQ(table.DataFile()->RecordCount(), 1);
  memory.CloseTable(table);
  memory.DeleteTable("scratch");
  EXPECT_FALSE(memory.TableExists("scratch"));
}

TEST_F(DirectoryTest, ReadOnlyLockFileMakesAReadOnlyDatabase) {
  CreateSample(*directory_, "asset");
  session_->CloseDirectory(*directory_);  // nobody holds the lock file open
  fs::permissions(dir_ + "strata.lck",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  TDataSession& other = QuickSession(engine_);
  TDataDirectory& readOnly = other.OpenDirectory("books", dir_);
  ASSERT_TRUE(readOnly.ReadOnlyDatabase());
  TDataTable& table = readOnly.OpenTable("asset", "asset");
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_EQ(CodeOf([&] { readOnly.CreateTable("new", "new", false, SampleStructure()); }),
            STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { readOnly.DeleteTable("asset"); }), STRATA_OSEACCES);
  EXPECT_EQ(CodeOf([&] { readOnly.RenameTable("asset", dir_, true, "asset"); }), STRATA_OSEACCES);
  EXPECT_TRUE(OnDisk("asset.dat"));
  EXPECT_FALSE(OnDisk("new.dat"));
}

TEST_F(DirectoryTest, EncipheredTableOpensOnlyWithItsPassword) {
  TableStructure structure = SampleStructure(true);
  structure.Info.Encrypted = true;
  structure.Password = "Secret";
  directory_->CloseTable(directory_->CreateTable("vault", "vault", false, structure));
  EXPECT_TRUE(session_->HasPassword("Secret"));
  // The header stays readable: the encrypted flag is set.
  EXPECT_EQ(Slurp("vault.dat").substr(0, kDataHeaderSize).find("Secret"), std::string::npos);

  TDataSession& other = QuickSession(engine_);
  TDataDirectory& directory = other.OpenDirectory("books", dir_);
  int asked = 0;
  other.OnPassword = [&] {
    if (++asked == 1) other.AddPassword("secret");  // wrong letter case
    if (asked == 2) other.AddPassword("Secret");
    return asked <= 2;
  };
  TDataTable& table = directory.OpenTable("vault", "vault", {.VerifyHeaders = true});
  EXPECT_EQ(asked, 2);
  EXPECT_NE(table.Cipher(), nullptr);
  directory.CloseTable(table);

  other.RemovePassword("Secret");
  other.OnPassword = nullptr;
  EXPECT_EQ(CodeOf([&] { directory.OpenTable("vault", "vault"); }), STRATA_NOTSUFFTABLERIGHTS);
  other.AddPassword("Secret");
  directory.CloseTable(directory.OpenTable("vault", "vault"));
}

}  // namespace
}  // namespace strata
