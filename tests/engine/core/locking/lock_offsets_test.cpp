#include "engine/core/locking/lock_offsets.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

TEST(LockOffsetsTest, RangesWithAndWithoutLargeFileSupport) {
  struct Case {
    bool large;
    std::int64_t lockFileWindow;
    std::int64_t transactionByte1;
    std::int64_t tableWindow1;
    std::int64_t allTableWindows;
    std::int64_t record5;
    std::int64_t wholeTable;
    std::int64_t semaphore1;
  };
  const Case cases[] = {
      {false, 0xFFFF0000, 0xFFFEFFFF, 0xFFFDF001, 0xEFFF0000, 0xFFFFFFFA, 0xF4143DFF, 0xF4143DFE},
      {true, 0x7FFFFFFFFFFF0000, 0x7FFFFFFFFFFEFFFF, 0x7FFFFFFFFFFDF001, 0x7FFFFFFFEFFF0000,
       0x7FFFFFFFFFFFFFFA, 0x7FFFFFFFC46535FF, 0x7FFFFFFFC46535FE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.large ? "large" : "small");
    const LockOffsets offsets = LockOffsets::For(c.large);
    EXPECT_EQ(offsets.LockFileWindow(), (LockRange{c.lockFileWindow, 65535}));
    EXPECT_EQ(offsets.TransactionByte(1), (LockRange{c.transactionByte1, 1}));
    EXPECT_EQ(offsets.AllTransactionBytes(), (LockRange{c.lockFileWindow - 4096, 4096}));
    EXPECT_EQ(offsets.TableWindow(1), (LockRange{c.tableWindow1, 65535}));
    EXPECT_EQ(offsets.AllTableWindows(), (LockRange{c.allTableWindows, 268'431'360}));
    // The lowest table window starts where the range of all windows starts.
    EXPECT_EQ(offsets.TableWindow(4096).Offset, c.allTableWindows);
    EXPECT_EQ(offsets.Record(5), (LockRange{c.record5, 1}));
    EXPECT_EQ(offsets.WholeTable(),
              (LockRange{c.wholeTable, c.large ? 1'000'000'000 : 200'000'000}));
    EXPECT_EQ(offsets.Semaphore(1), (LockRange{c.semaphore1, 1}));
  }
}

}  // namespace
}  // namespace strata
