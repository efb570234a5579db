#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/common/byte_order.h"
#include "engine/crypto/compressed_copy.h"
#include "engine/files/engine_file.h"
#include "engine/files/file_registry.h"
#include "files_test_support.h"

namespace strata {
namespace {

using testing::CodeOf;

constexpr std::size_t kChunk = kCompressedCopyChunkBytes;

// Text that compresses, with a little variation so that chunks differ.
std::string Content(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    text[i] = static_cast<char>("table rows "[i % 11] + static_cast<char>((i / 977) % 3));
  }
  return text;
}

std::string ReadAll(TEngineFile& file) {
  std::string text(static_cast<std::size_t>(file.GetFileSize()), '\0');
  if (!text.empty()) file.ReadAt(0, std::as_writable_bytes(std::span(text)), false);
  return text;
}

class EngineFileCopyTest : public testing::TempDirTest {
 protected:
  // A closed file holding content.
  void Make(const std::string& path, bool inMemory, const std::string& content) {
    TEngineFile file(registry_, path, inMemory);
    file.CreateNew();
    if (!content.empty()) file.WriteAt(0, std::as_bytes(std::span(content)));
    file.Close();
  }
  std::string Contents(const std::string& path, bool inMemory) {
    TEngineFile file(registry_, path, inMemory);
    file.Open();
    return ReadAll(file);
  }

  FileRegistry registry_;
};

// The percentages a copy reported, checked for order and for the final 100.
struct ProgressLog {
  std::vector<int> seen;
  FileCopyOptions Options(int level, std::int32_t step = 1) {
    FileCopyOptions options;
    options.Level = level;
    options.ProgressStep = step;
    options.OnProgress = [this](std::uint16_t percent) { seen.push_back(percent); };
    return options;
  }
  bool EndsWithOneHundredInOrder() const {
    return !seen.empty() && seen.back() == 100 && std::is_sorted(seen.begin(), seen.end()) &&
           std::count(seen.begin(), seen.end(), 100) == 1;
  }
};

TEST_F(EngineFileCopyTest, CopiesRoundTripPlainAndCompressed) {
  for (const bool inMemory : {false, true}) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1000}, 3 * kChunk + 17}) {
      for (const int level : {0, 1, 9}) {
        SCOPED_TRACE(::testing::Message() << inMemory << " " << size << " " << level);
        const std::string content = Content(size);
        const std::string source = dir_ + "src.dat";
        const std::string copy = dir_ + "copy.bak";
        Make(source, inMemory, content);
        testing::WrappingFileSystem counting;
        platform::ScopedFileSystem scope(counting);

        ProgressLog copying;
        TEngineFile file(registry_, source, inMemory);
        file.ReadOnly = true;
        file.CopyTo(copy, copying.Options(level));
        EXPECT_TRUE(copying.EndsWithOneHundredInOrder());
        EXPECT_FALSE(file.IsOpen());  // opened for the copy only
        if (size > 3 * kChunk) {
          EXPECT_GT(copying.seen.size(), 2u);
        }

        const std::string stored = Contents(copy, inMemory);
        if (level == 0) {
          EXPECT_EQ(stored, content);
        } else {
          ASSERT_GE(stored.size(), 17u);
          EXPECT_TRUE(std::equal(kCompressedCopyMarker.begin(), kCompressedCopyMarker.end(),
                                 reinterpret_cast<const std::uint8_t*>(stored.data())));
          EXPECT_EQ(stored[16], level);
          std::size_t chunks = 0;
          for (std::size_t at = 17; at < stored.size(); ++chunks) {
            at += 4 + LoadU32(reinterpret_cast<const std::uint8_t*>(stored.data() + at));
            ASSERT_LE(at, stored.size());
          }
          EXPECT_EQ(chunks, (size + kChunk - 1) / kChunk);
          if (size > 3 * kChunk) {
            EXPECT_LT(stored.size(), size / 4);
          }
        }

        ProgressLog restoring;
        TEngineFile restored(registry_, dir_ + "restored.dat", inMemory);
        restored.RestoreFrom(copy, restoring.Options(0, 20));
        EXPECT_TRUE(restored.IsOpen());
        EXPECT_EQ(ReadAll(restored), content);
        EXPECT_TRUE(restoring.EndsWithOneHundredInOrder());
        EXPECT_LE(restoring.seen.size(), 5u);  // every 20 % at the most
        restored.Close();
        restored.Delete();
        TEngineFile(registry_, copy, inMemory).Delete();
        TEngineFile(registry_, source, inMemory).Delete();
        if (!inMemory) {
          // Whole runs, not small pieces: two runs per 64 KiB at the most.
          EXPECT_LE(counting.writes, static_cast<int>(2 + 2 * (2 * size / kChunk + 2)));
        }
      }
    }
  }
}

TEST_F(EngineFileCopyTest, CopyBetweenOpenFilesLeavesTheTargetOpen) {
  const std::string content = Content(2 * kChunk);
  Make(dir_ + "a.dat", false, content);
  TEngineFile source(registry_, dir_ + "a.dat", false);
  source.Open();
  TEngineFile target(registry_, dir_ + "a.bak", true);  // a memory copy of a disk file
  ProgressLog log;
  source.CopyTo(target, log.Options(6));
  EXPECT_TRUE(source.IsOpen());
  ASSERT_TRUE(target.IsOpen());
  EXPECT_TRUE(target.Exclusive);

  TEngineFile back(registry_, dir_ + "b.dat", false);
  back.RestoreFrom(target, log.Options(0));
  EXPECT_EQ(ReadAll(back), content);
}

TEST_F(EngineFileCopyTest, FailedWriteRemovesThePartialTarget) {
  for (const int level : {0, 5}) {
    Make(dir_ + "src.dat", false, Content(5 * kChunk));
    testing::WrappingFileSystem faulty;
    platform::ScopedFileSystem scope(faulty);
    ProgressLog log;
    FileCopyOptions options = log.Options(level);
    // The first runs are written; a later one fails.
    options.OnProgress = [&](std::uint16_t percent) {
      log.seen.push_back(percent);
      if (percent > 70) faulty.failWrites = true;
    };
    TEngineFile source(registry_, dir_ + "src.dat", false);
    source.Open();
    std::string message;
    EXPECT_EQ(CodeOf([&] { source.CopyTo(dir_ + "part.bak", options); }, &message),
              STRATA_WRITEERR)
        << level;
    EXPECT_NE(message.find(dir_ + "part.bak"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "part.bak"));
    EXPECT_FALSE(registry_.FileExists(dir_ + "part.bak", false));
    EXPECT_EQ(std::count(log.seen.begin(), log.seen.end(), 100), 0);
    faulty.failWrites = false;
    EXPECT_EQ(ReadAll(source), Content(5 * kChunk));
  }
}

TEST_F(EngineFileCopyTest, TargetInUseIsNeitherReplacedNorRemoved) {
  for (const bool inMemory : {false, true}) {
    Make(dir_ + "src.dat", inMemory, "source");
    Make(dir_ + "held.dat", inMemory, "held");
    TEngineFile held(registry_, dir_ + "held.dat", inMemory);
    held.Open();
    TEngineFile source(registry_, dir_ + "src.dat", inMemory);
    EXPECT_EQ(CodeOf([&] { source.CopyTo(dir_ + "HELD.dat", {}); }), STRATA_OSEACCES) << inMemory;
    // Copying or restoring a file onto itself never empties it.
    EXPECT_EQ(CodeOf([&] { source.CopyTo(dir_ + "src.dat", {}); }), STRATA_OSEACCES);
    EXPECT_EQ(CodeOf([&] { source.RestoreFrom(dir_ + "src.dat", {}); }), STRATA_OSEACCES);
    source.Open();
    EXPECT_EQ(CodeOf([&] { source.CopyTo(source, {}); }), STRATA_OSEACCES);
    EXPECT_EQ(ReadAll(source), "source");
    EXPECT_EQ(ReadAll(held), "held");
    // A copy may be made to a new file only, when asked.
    TEngineFile target(registry_, dir_ + "held.dat", inMemory);
    target.FailIfExists = true;
    held.Close();
    EXPECT_EQ(CodeOf([&] { source.CopyTo(target, {}); }), STRATA_OSEACCES);
    EXPECT_EQ(Contents(dir_ + "held.dat", inMemory), "held");
  }
}

TEST_F(EngineFileCopyTest, DamagedCompressedCopyFailsToRestore) {
  Make(dir_ + "src.dat", false, Content(kChunk + 5));
  TEngineFile source(registry_, dir_ + "src.dat", false);
  FileCopyOptions options;
  options.Level = 3;
  source.CopyTo(dir_ + "copy.bak", options);
  std::string damaged = Contents(dir_ + "copy.bak", false);
  damaged.resize(damaged.size() - 10);
  Make(dir_ + "copy.bak", false, damaged);
  TEngineFile restored(registry_, dir_ + "restored.dat", false);
  EXPECT_EQ(CodeOf([&] { restored.RestoreFrom(dir_ + "copy.bak", {}); }), STRATA_UNCOMPRESS);
  EXPECT_FALSE(restored.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir_ + "restored.dat"));
}

}  // namespace
}  // namespace strata
