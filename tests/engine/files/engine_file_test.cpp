#include "engine/files/engine_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/files/file_registry.h"
#include "files_test_support.h"
#include "tests/support/simulated_disk.h"

namespace strata {
namespace {

using testing::CodeOf;
using testing::InChild;

std::span<const std::byte> Bytes(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string ReadAll(TEngineFile& file) {
  std::string text(static_cast<std::size_t>(file.GetFileSize()), '\0');
  TEngineFile::IoGuard io(file);
  file.Seek(TBaseFile::kFromStart, 0);
  file.Read(std::as_writable_bytes(std::span(text)), false);
  return text;
}

void WriteAt(TEngineFile& file, std::int64_t offset, std::string_view text) {
  TEngineFile::IoGuard io(file);
  file.Seek(TBaseFile::kFromStart, offset);
  file.Write(Bytes(text));
}

class EngineFileTest : public testing::TempDirTest {
 protected:
  FileRegistry registry_;
};

TEST_F(EngineFileTest, MissingFileRaises11010NamingThePath) {
  for (const bool inMemory : {false, true}) {
    TEngineFile file(registry_, dir_ + "none.dat", inMemory);
    std::string message;
    EXPECT_EQ(CodeOf([&] { file.Open(); }, &message), STRATA_OSENOENT);
    EXPECT_EQ(message, "Strata Engine Error # 11010 Table or backup file '" + dir_ +
                           "none.dat' does not exist");
    EXPECT_FALSE(file.IsOpen());
    // The OS error the lookup met is part of the error, as after a failed open.
    try {
      file.Open();
    } catch (const EStrataEngineError& error) {
      EXPECT_EQ(error.OsErrorCode, STRATA_OSENOENT);
    }
  }
}

TEST_F(EngineFileTest, ConflictingOpensInTheProcessAreRefused) {
  struct Case {
    bool firstExclusive;
    bool secondExclusive;
    bool granted;
  };
  const std::string path = Put("t.dat", "x");
  for (const bool inMemory : {false, true}) {
    if (inMemory) {
      TEngineFile creator(registry_, path, true);
      creator.CreateNew();
      creator.Close();
    }
    for (const Case c : {Case{false, false, true}, Case{false, true, false},
                         Case{true, false, false}, Case{true, true, false}}) {
      TEngineFile first(registry_, path, inMemory);
      TEngineFile second(registry_, path, inMemory);
      first.Exclusive = c.firstExclusive;
      second.Exclusive = c.secondExclusive;
      first.Open();
      EXPECT_EQ(CodeOf([&] { second.Open(); }), c.granted ? 0 : STRATA_OSEACCES)
          << inMemory << c.firstExclusive << c.secondExclusive;
      // Creating, renaming or deleting a file that is open is refused too.
      TEngineFile other(registry_, path, inMemory);
      EXPECT_EQ(CodeOf([&] { other.CreateNew(); }), STRATA_OSEACCES);
      EXPECT_EQ(CodeOf([&] { other.Delete(); }), STRATA_OSEACCES);
      EXPECT_EQ(CodeOf([&] { other.Rename(dir_ + "u.dat"); }), STRATA_OSEACCES);
    }
  }
}

TEST_F(EngineFileTest, ConflictingOpensFromAnotherProcessAreRefused) {
  const std::string path = Put("t.dat", "x");
  for (const bool heldExclusive : {false, true}) {
    TEngineFile held(registry_, path, false);
    held.Exclusive = heldExclusive;
    held.Open();
    for (const bool askExclusive : {false, true}) {
      const int status = InChild([&] {
        FileRegistry registry;
        TEngineFile file(registry, path, false);
        file.Exclusive = askExclusive;
        return static_cast<int>(CodeOf([&] { file.Open(); }) != 0);
      });
      EXPECT_EQ(status, (heldExclusive || askExclusive) ? 1 : 0) << heldExclusive << askExclusive;
    }
  }
}

TEST_F(EngineFileTest, ByteRangeLocksExcludeOtherUsersAndProcesses) {
  const std::string path = Put("t.dat", "");
  TEngineFile first(registry_, path, false);
  TEngineFile second(registry_, path, false);
  first.Open();
  second.Open();
  ASSERT_EQ(first.Store(), second.Store());  // one OS file for the path
  const std::int64_t record5 = 0xFFFFFFFF - 5;
  ASSERT_TRUE(first.LockBytes(true, 1, record5));
  EXPECT_FALSE(second.LockBytes(true, 1, record5));
  EXPECT_FALSE(second.LockBytes(true, 16, record5 - 8));
  EXPECT_TRUE(second.LockBytes(true, 1, record5 - 1));
  EXPECT_EQ(InChild([&] {
              FileRegistry registry;
              TEngineFile file(registry, path, false);
              file.Open();
              if (file.LockBytes(true, 1, record5) || file.LockBytes(true, 1, record5 - 1)) return 1;
              return file.LockBytes(true, 1, record5 + 1) ? 0 : 2;
            }),
            0);
  EXPECT_FALSE(first.LockBytes(false, 1, record5 + 100));  // no range starts there
  ASSERT_TRUE(first.LockBytes(false, 1, record5));
  EXPECT_TRUE(second.LockBytes(true, 1, record5));
  first.Close();
  second.Close();
  TEngineFile closed(registry_, path, false);
  EXPECT_FALSE(closed.LockBytes(true, 1, 0));
}

TEST_F(EngineFileTest, CreateNewRefusesAnExistingFileWithoutEmptyingIt) {
  Put("Taken.DAT", "kept");
  for (const bool inMemory : {false, true}) {
    if (inMemory) {
      TEngineFile creator(registry_, dir_ + "Taken.DAT", true);
      creator.CreateNew();
      WriteAt(creator, 0, "kept");
      creator.Close();
    }
    for (const char* name : {"Taken.DAT", "taken.dat"}) {
      TEngineFile file(registry_, dir_ + name, inMemory);
      file.FailIfExists = true;
      std::string message;
      EXPECT_EQ(CodeOf([&] { file.CreateNew(); }, &message), STRATA_OSEACCES) << inMemory << name;
      EXPECT_NE(message.find(dir_ + name), std::string::npos) << message;
      EXPECT_FALSE(file.IsOpen());
    }
    TEngineFile file(registry_, dir_ + "taken.dat", inMemory);
    file.Open();
    EXPECT_EQ(ReadAll(file), "kept") << inMemory;
    // An open file is refused as well.
    TEngineFile other(registry_, dir_ + "TAKEN.dat", inMemory);
    other.FailIfExists = true;
    EXPECT_EQ(CodeOf([&] { other.CreateNew(); }), STRATA_OSEACCES) << inMemory;

    TEngineFile fresh(registry_, dir_ + "fresh.dat", inMemory);
    fresh.FailIfExists = true;
    fresh.CreateNew();
    WriteAt(fresh, 0, "new");
    EXPECT_EQ(ReadAll(fresh), "new");
  }
}

TEST_F(EngineFileTest, ReadOnlyAttributeForcesReadOnly) {
  const std::string path = Put("ro.dat", "data");
  ::chmod(path.c_str(), 0444);
  TEngineFile file(registry_, path, false);
  file.Open();
  EXPECT_TRUE(file.ReadOnly);
  EXPECT_TRUE(file.ForcedReadOnly);
  EXPECT_EQ(CodeOf([&] { WriteAt(file, 0, "x"); }), STRATA_WRITEERR);

  // A user asking to write over the one read-only OS file reads only.
  TEngineFile second(registry_, path, false);
  second.Open();
  EXPECT_TRUE(second.ReadOnly);
}

TEST_F(EngineFileTest, ReadsAndWritesReportShortTransfers) {
  TEngineFile file(registry_, dir_ + "t.dat", false);
  file.CreateNew();
  WriteAt(file, 0, "0123456789");
  std::string buffer(20, '\0');
  TEngineFile::IoGuard io(file);
  file.Seek(TBaseFile::kFromStart, 4);
  EXPECT_EQ(file.Read(std::as_writable_bytes(std::span(buffer)), true), 6);
  file.Seek(TBaseFile::kFromStart, 4);
  EXPECT_EQ(CodeOf([&] { file.Read(std::as_writable_bytes(std::span(buffer)), false); }),
            STRATA_READERR);
}

TEST_F(EngineFileTest, WritingNoBytesTruncates) {
  for (const bool inMemory : {false, true}) {
    TEngineFile file(registry_, dir_ + "t.dat", inMemory);
    file.CreateNew();
    WriteAt(file, 0, "0123456789");
    WriteAt(file, 4, "");
    EXPECT_EQ(file.GetFileSize(), 4) << inMemory;
    // Extending again reads zeros where the cut-off bytes were.
    WriteAt(file, 8, "ab");
    EXPECT_EQ(ReadAll(file), std::string("0123\0\0\0\0ab", 10)) << inMemory;
    file.Close();
  }
  EXPECT_EQ(Slurp("t.dat"), std::string("0123\0\0\0\0ab", 10));
}

TEST_F(EngineFileTest, MemoryFileKeepsContentUntilDeleted) {
  const std::string path = "/mem/asset.dat";
  {
    TEngineFile file(registry_, path, true);
    file.CreateNew();
    WriteAt(file, 70000, "across blocks");
    file.Close();
  }
  EXPECT_TRUE(registry_.FileExists(path, true));
  EXPECT_FALSE(registry_.FileExists(path, false));
  TEngineFile file(registry_, "/MEM/Asset.dat", true);
  file.Open();
  EXPECT_EQ(ReadAll(file).substr(69998), std::string("\0\0across blocks", 15));
  file.Close();
  file.Delete();
  EXPECT_FALSE(registry_.FileExists(path, true));
  EXPECT_EQ(CodeOf([&] { file.Open(); }), STRATA_OSENOENT);
}

TEST_F(EngineFileTest, TemporaryFilesGoWhenClosed) {
  for (const bool inMemory : {false, true}) {
    const std::string path = dir_ + "tmp.dat";
    TEngineFile file(registry_, path, inMemory);
    file.Temporary = true;
    file.CreateNew();
    WriteAt(file, 0, "scratch");
    EXPECT_TRUE(registry_.FileExists(path, inMemory));
    file.Close();
    EXPECT_FALSE(registry_.FileExists(path, inMemory)) << inMemory;
  }
}

TEST_F(EngineFileTest, NamesAreLookedUpWithoutLetterCase) {
  Put("Accents.DAT", "stored");
  TEngineFile file(registry_, dir_ + "accents.dat", false);
  EXPECT_TRUE(file.Exists());
  file.Open();
  EXPECT_EQ(ReadAll(file), "stored");
  file.Close();
  file.Rename(dir_ + "renamed.dat");
  EXPECT_EQ(Slurp("renamed.dat"), "stored");
  TEngineFile(registry_, dir_ + "RENAMED.DAT", false).Delete();
  EXPECT_FALSE(std::filesystem::exists(dir_ + "renamed.dat"));
}

TEST_F(EngineFileTest, RenameNeverReplaces) {
  Put("a.dat", "a");
  Put("b.dat", "b");
  TEngineFile file(registry_, dir_ + "a.dat", false);
  EXPECT_EQ(CodeOf([&] { file.Rename(dir_ + "b.dat"); }), STRATA_OSEACCES);
  EXPECT_EQ(file.Path(), dir_ + "a.dat");
  EXPECT_EQ(Slurp("b.dat"), "b");
  EXPECT_EQ(Slurp("a.dat"), "a");
}

// A registry handed a file system does every file operation there, also
// the rename and deletion of a file that nobody holds open.
TEST_F(EngineFileTest, HandedFileSystemServesFilesNobodyHoldsOpen) {
  testing::SimulatedDisk disk;
  const std::string a(5, 'a');
  disk.PutFile("/db/a.dat", std::span(reinterpret_cast<const std::uint8_t*>(a.data()), a.size()));
  FileRegistry registry(&disk);
  TEngineFile(registry, "/db/a.dat", false).Rename("/db/b.dat");
  EXPECT_EQ(disk.AllFiles(), std::vector<std::string>{"/db/b.dat"});
  EXPECT_TRUE(TEngineFile(registry, "/db/b.dat", false).Exists());
  TEngineFile(registry, "/db/b.dat", false).Delete();
  EXPECT_EQ(disk.AllFiles(), std::vector<std::string>{});
}

TEST_F(EngineFileTest, ListingAndUniqueNames) {
  const std::string prefix = dir_ + platform::ThreadIdText().substr(0, 5);
  EXPECT_EQ(registry_.MakeUniqueFileName(dir_, ".dat"), prefix + "0.dat");
  Put(platform::ThreadIdText().substr(0, 5) + "0.dat", "");
  EXPECT_EQ(registry_.MakeUniqueFileName(dir_, ".dat"), prefix + "1.dat");

  for (const char* name : {"b.DAT", "a.dat", "c.idx"}) Put(name, "");
  const std::vector<std::string> names = registry_.ListFiles(false, dir_ + "*.dat", false);
  EXPECT_EQ(names, (std::vector<std::string>{platform::ThreadIdText().substr(0, 5) + "0", "a", "b"}));
  EXPECT_EQ(registry_.ListFiles(false, dir_ + "*.IDX", true), std::vector<std::string>{"c.idx"});

  for (const char* name : {"/m/Zeta.dat", "/m/alpha.dat", "/m/x.idx"}) {
    TEngineFile file(registry_, name, true);
    file.CreateNew();
    file.Close();
  }
  EXPECT_EQ(registry_.ListFiles(true, "/m/*.dat", false), (std::vector<std::string>{"alpha", "Zeta"}));
}

TEST_F(EngineFileTest, FailedFlushOrCloseOfAWrittenFileIsAWriteError) {
  testing::WrappingFileSystem faulty;
  platform::ScopedFileSystem scope(faulty);
  TEngineFile file(registry_, dir_ + "t.dat", false);
  file.CreateNew();
  WriteAt(file, 0, "data");
  faulty.failSync = true;
  std::string message;
  EXPECT_EQ(CodeOf([&] { file.Flush(); }, &message), STRATA_WRITEERR);
  EXPECT_NE(message.find(dir_ + "t.dat"), std::string::npos);
  faulty.failClose = true;
  EXPECT_EQ(CodeOf([&] { file.Close(); }), STRATA_WRITEERR);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(registry_.FileExists(dir_ + "u.dat", false));
}

}  // namespace
}  // namespace strata
