#include "engine/files/buffered_file.h"

#include <gtest/gtest.h>

#include "files_test_support.h"

namespace strata {
namespace {

using testing::CodeOf;

class FakeTable : public BufferedFileTable {
 public:
  bool InTransaction() const override { return inTransaction; }
  bool ModifiedSinceOpen() const override { return modified; }
  void MarkModified() override { modified = true; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return strict; }
  bool ReadLockForCacheMiss(TDataCursor*) override {
    ++readLocks;
    return !changedByOthers;
  }
  std::string ErrorTableName() const override { return "units"; }
  std::string ErrorDatabaseName() const override { return "/db"; }
  const EngineLimits& Limits() const override { return limits; }

  bool inTransaction = false;
  bool modified = false;
  bool strict = false;
  bool changedByOthers = false;
  int readLocks = 0;
  EngineLimits limits;
};

// Units of 16 bytes after a 64-byte header, cached four at a time.
class UnitFile : public TBufferedFile {
 public:
  static constexpr std::int32_t kUnitSize = 16;
  static constexpr std::int64_t kFirstUnit = 64;

  using TBufferedFile::TBufferedFile;

  std::unique_ptr<TBuffer> NewBuffer() override { return std::make_unique<TBuffer>(*this); }
  void RaiseCorruptError() override {
    RaiseTableError(STRATA_FILECORRUPT, Table().ErrorTableName(), Table().ErrorDatabaseName());
  }
  void CheckAppend() override { CheckAppendLimits(true); }
  void UnitAppended() override { ++units; }
  std::int32_t CacheLimit() override { return 4; }
  std::int32_t DefaultReadAheadLimit() override { return std::max(1, CacheCapacity() / 2); }
  std::int32_t UnitSize() const override { return kUnitSize; }
  std::int32_t PayloadSize() const override { return kUnitSize; }
  std::int64_t FirstUnitOffset() const override { return kFirstUnit; }
  std::int32_t UnitCount() const override { return units; }
  std::int32_t HeaderChangeCount() const override { return 0; }
  std::int32_t ScanDepth() const override { return 2; }
  std::int32_t GrowthStep() const override { return 4; }
  std::int32_t ReadAheadCount(TDataCursor*, std::int32_t, int) override { return readAhead; }
  void ReadHeader() override {}
  bool WriteHeader(bool) override { return false; }
  void TouchHeader() override {}

  std::int32_t units = 0;
  std::int32_t readAhead = 1;
};

class BufferedFileTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    Fresh();
  }
  // A new, empty file under a fresh table.
  void Fresh() {
    file_.reset();
    table_ = FakeTable();
    file_ = std::make_unique<UnitFile>(registry_, dir_ + "units.dat", false, table_);
    file_->CreateNew();
    file_->ResetCache();
  }
  void TearDown() override {
    file_.reset();
    TempDirTest::TearDown();
  }

  // Appends units whose bytes all hold the unit number, dirty.
  void Append(int count) {
    for (int i = 0; i < count; ++i) {
      BufferPin pin;
      ASSERT_TRUE(file_->GetBuffer(nullptr, 0, false, file_->units + 1, pin));
      std::fill(pin->Data().begin(), pin->Data().end(), static_cast<std::byte>(pin->Number));
      pin->Dirty = true;
    }
  }
  BufferPin Get(std::int32_t unit, int direction = 0, bool readAhead = false) {
    BufferPin pin;
    EXPECT_TRUE(file_->GetBuffer(nullptr, direction, readAhead, unit, pin));
    return pin;
  }
  // The first byte of a unit as stored in the file.
  int StoredByte(std::int32_t unit) {
    const std::string content = Slurp("units.dat");
    const std::size_t at = UnitFile::kFirstUnit + (unit - 1) * UnitFile::kUnitSize;
    return at < content.size() ? static_cast<unsigned char>(content[at]) : -1;
  }

  testing::WrappingFileSystem counting_;
  platform::ScopedFileSystem scope_{counting_};
  FileRegistry registry_;
  FakeTable table_;
  std::unique_ptr<UnitFile> file_;
};

TEST_F(BufferedFileTest, WriteBackWritesEachRunOfDirtyUnitsInOneCall) {
  table_.inTransaction = true;                // keep all ten cached and dirty
  Append(10);
  table_.inTransaction = false;
  counting_.writes = 0;
  EXPECT_TRUE(file_->WriteBack(false));
  EXPECT_EQ(counting_.writes, 1);
  EXPECT_TRUE(table_.modified);
  for (std::int32_t n = 1; n <= 10; ++n) EXPECT_EQ(StoredByte(n), n);

  for (const std::int32_t n : {2, 3, 4, 7, 9, 10}) {
    BufferPin pin = Get(n);
    pin->Assign(std::vector<std::byte>(UnitFile::kUnitSize, std::byte{0xA0}));
  }
  counting_.writes = 0;
  const std::int64_t before = file_->Stats().PhysicalWrites;
  EXPECT_TRUE(file_->WriteBack(false));
  EXPECT_EQ(counting_.writes, 3);
  EXPECT_EQ(file_->Stats().PhysicalWrites - before, 3);
  for (std::int32_t n = 1; n <= 10; ++n) {
    const bool rewritten = n == 2 || n == 3 || n == 4 || n == 7 || n == 9 || n == 10;
    EXPECT_EQ(StoredByte(n), rewritten ? 0xA0 : n) << n;
  }
  EXPECT_FALSE(file_->WriteBack(false));
}

TEST_F(BufferedFileTest, AppendsNeverReadAndMissesReadRunsOfUnits) {
  Append(8);
  file_->WriteBack(false);
  EXPECT_EQ(counting_.reads, 0);

  file_->readAhead = 3;
  file_->DropBuffers();
  const int reads = counting_.reads;
  BufferPin third = Get(3, TBufferedFile::kForward, true);
  EXPECT_EQ(third->Data()[0], std::byte{3});
  EXPECT_EQ(counting_.reads - reads, 1);
  for (const std::int32_t n : {3, 4, 5}) EXPECT_EQ(Get(n)->Number, n);
  EXPECT_EQ(counting_.reads - reads, 1);  // the run came in with unit 3
  EXPECT_EQ(file_->Stats().BufferedReads, 3);

  struct Case {
    std::int32_t unit;
    int direction;
    bool readAhead;
    std::vector<std::int32_t> loaded;
  };
  for (const Case& c : {Case{7, TBufferedFile::kForward, true, {7, 8}},
                        Case{2, TBufferedFile::kBackward, true, {1, 2}},
                        Case{6, TBufferedFile::kBackward, true, {4, 5, 6}},
                        Case{6, TBufferedFile::kForward, false, {6}},
                        Case{6, TBufferedFile::kNoDirection, true, {6}}}) {
    third.Release();
    file_->DropBuffers();
    const std::int64_t loadedBefore = file_->Stats().BufferedReads;
    BufferPin pin = Get(c.unit, c.direction, c.readAhead);
    EXPECT_EQ(pin->Data()[0], static_cast<std::byte>(c.unit));
    EXPECT_EQ(file_->Stats().BufferedReads - loadedBefore, static_cast<std::int64_t>(c.loaded.size()))
        << c.unit << " " << c.direction;
    const int readsBefore = counting_.reads;
    for (const std::int32_t n : c.loaded) Get(n);
    EXPECT_EQ(counting_.reads, readsBefore) << c.unit << " " << c.direction;
  }
}

TEST_F(BufferedFileTest, ReadsLeaveNewerCachedUnitsAlone) {
  Append(8);
  file_->WriteBack(false);
  file_->DropBuffers();
  // The whole cache dirty, so the read below must write back to make room;
  // unit 4 lies inside the run being read and must keep its newer bytes.
  for (const std::int32_t n : {1, 2, 4, 8}) {
    Get(n)->Assign(std::vector<std::byte>(UnitFile::kUnitSize, std::byte{0xEE}));
  }
  file_->readAhead = 4;
  counting_.writes = 0;
  Get(3, TBufferedFile::kForward, true);
  EXPECT_GT(counting_.writes, 0);
  EXPECT_EQ(StoredByte(4), 4);
  BufferPin fourth = Get(4);
  EXPECT_TRUE(fourth->Dirty);
  EXPECT_EQ(fourth->Data()[0], std::byte{0xEE});
  fourth.Release();
  file_->WriteBack(false);
  for (std::int32_t n = 1; n <= 8; ++n) {
    EXPECT_EQ(StoredByte(n), (n == 1 || n == 2 || n == 4 || n == 8) ? 0xEE : n) << n;
  }
}

TEST_F(BufferedFileTest, FullCacheGrowsInsideATransactionAndWritesOutsideOne) {
  struct Case {
    bool inTransaction;
    std::int32_t capacity;
    bool written;
  };
  for (const Case c : {Case{true, 8, false}, Case{false, 4, true}}) {
    Fresh();
    table_.inTransaction = c.inTransaction;
    counting_.writes = 0;
    Append(6);
    EXPECT_EQ(file_->CacheCapacity(), c.capacity) << c.inTransaction;
    EXPECT_EQ(counting_.writes > 0, c.written) << c.inTransaction;
    EXPECT_EQ(file_->CachedCount(), c.inTransaction ? 6 : 4);
    if (c.inTransaction) {
      file_->TrimCache();  // every buffer is dirty: nothing to free
      EXPECT_EQ(file_->CachedCount(), 6);
      table_.inTransaction = false;
      file_->WriteBack(false);
      file_->TrimCache();
      EXPECT_EQ(file_->CachedCount(), 4);
      EXPECT_EQ(file_->CacheCapacity(), 4);
    }
    for (std::int32_t n = 1; n <= 6; ++n) EXPECT_EQ(Get(n)->Data()[0], static_cast<std::byte>(n));
  }
}

TEST_F(BufferedFileTest, BookkeepingFaultsRaiseTheCorruptBuffersError) {
  Append(3);
  std::string message;
  EXPECT_EQ(CodeOf([&] { Get(0); }, &message), STRATA_FILECORRUPT);
  EXPECT_EQ(message, "Strata Engine Error # 8962 Data record buffers corrupt in the table 'units'");
  EXPECT_EQ(CodeOf([&] { Get(5); }), STRATA_FILECORRUPT);
  BufferPin pinned = Get(2);
  EXPECT_EQ(CodeOf([&] { file_->WriteBack(false); }), STRATA_FILECORRUPT);
  pinned.Release();
  EXPECT_TRUE(file_->WriteBack(false));
}

TEST_F(BufferedFileTest, AChangedTableMakesTheCallerRestart) {
  Append(3);
  file_->WriteBack(false);
  file_->DropBuffers();
  table_.changedByOthers = true;
  BufferPin pin;
  EXPECT_FALSE(file_->GetBuffer(nullptr, 0, false, 2, pin));
  EXPECT_FALSE(pin);
  EXPECT_EQ(table_.readLocks, 1);
  table_.strict = true;  // the cursor holds the read lock already
  EXPECT_TRUE(file_->GetBuffer(nullptr, 0, false, 2, pin));
  EXPECT_EQ(table_.readLocks, 1);
}

TEST_F(BufferedFileTest, PinnedBuffersOutliveDroppedCaches) {
  Append(2);
  file_->WriteBack(false);
  BufferPin pin = Get(1);
  file_->DropBuffers();
  EXPECT_EQ(file_->CachedCount(), 0);
  EXPECT_EQ(pin->Data()[0], std::byte{1});
  pin.Release();
  EXPECT_EQ(Get(1)->Data()[0], std::byte{1});  // read back from the file
}

TEST_F(BufferedFileTest, FailedWriteBackKeepsUnitsDirty) {
  Append(3);
  counting_.failWrites = true;
  EXPECT_EQ(CodeOf([&] { file_->WriteBack(false); }), STRATA_WRITEERR);
  counting_.failWrites = false;
  EXPECT_TRUE(Get(2)->Dirty);
  EXPECT_TRUE(file_->WriteBack(false));
  EXPECT_EQ(StoredByte(3), 3);
}

TEST_F(BufferedFileTest, AppendingPastTheEngineLimitsIsTableFull) {
  struct Case {
    std::int32_t maxRecords;
    std::int64_t maxFileSize;
  };
  for (const Case c : {Case{3, 1 << 20}, Case{100, UnitFile::kFirstUnit + 3 * UnitFile::kUnitSize}}) {
    Fresh();
    table_.limits.MaxRecordCount = c.maxRecords;
    table_.limits.MaxFileSize = c.maxFileSize;
    Append(3);
    std::string message;
    EXPECT_EQ(CodeOf([&] { Get(4); }, &message), STRATA_TABLEFULL);
    EXPECT_EQ(message,
              "Strata Engine Error # 9479 The table 'units' is full and cannot contain any more data");
    EXPECT_EQ(file_->units, 3);
  }
}

TEST_F(BufferedFileTest, EmptyFileCutsTheFileAtTheFirstUnit) {
  Append(3);
  file_->WriteBack(false);
  table_.modified = false;
  file_->EmptyFile();
  EXPECT_EQ(file_->GetFileSize(), UnitFile::kFirstUnit);
  EXPECT_TRUE(table_.modified);
  EXPECT_EQ(file_->EndOfUnits(), UnitFile::kFirstUnit + 3 * UnitFile::kUnitSize);
}

TEST(EngineLimitsTest, CacheLimitsFollowTheBufferSettings) {
  const EngineLimits limits;
  EXPECT_EQ(DataCacheLimit(limits, 100), 32768 / 136);
  EXPECT_EQ(DataCacheLimit(limits, 0), 8192);
  EXPECT_EQ(DataCacheLimit(limits, 1), 32768 / 37);
  EngineLimits few;
  few.MaxTableDataBufferCount = 100;
  EXPECT_EQ(DataCacheLimit(few, 1), 100);
  EXPECT_EQ(DataCacheLimit(limits, 100000), 1);
  EXPECT_EQ(IndexCacheLimit(limits, 4083), 65536 / (4083 + 56));
  EXPECT_EQ(BlobCacheLimit(limits, 494), 32768 / (494 + 56));
  EXPECT_EQ(EngineLimits::LargeFiles().MaxFileSize, 128'000'000'000);
}

}  // namespace
}  // namespace strata
