// A table of 100,000 records counted and exported as a program: every
// record comes out once, in order, with its values; an export ended by a
// signal leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/common/byte_order.h"
#include "engine/core/cursors/data_cursor.h"
#include "tests/tools/export_fixture.h"
#include "tests/tools/program_run.h"
#include "tests/update/update_test_support.h"

namespace strata::testing {
namespace {

constexpr std::int32_t kRecords = 100000;

class LargeTableTest : public UpdateRunTest {};

TEST_F(LargeTableTest, CountAndCsvExportCoverEveryRecord) {
  const std::string dir = data_.string() + "/";
  {
    CreateNumberAndTextTable(dir, "Large", "Number", "Label", 12);
    TDataSession& session = DefaultSession().DataSession();
    TDataDirectory& directory = session.OpenDirectory("", dir);
    {
      TDataCursor cursor(directory, "Large", CursorModes{.Exclusive = true});
      cursor.Open();
      std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
      std::uint8_t number[4];
      for (std::int32_t n = 1; n <= kRecords; ++n) {
        cursor.ApplyDefaults(record);
        StoreI32(number, n * 3);
        cursor.SetField(record, 1, std::span<const std::uint8_t>(number));
        const std::string label = "L" + std::to_string(n) + std::string(1, '\0');
        cursor.SetField(record, 2,
                        std::span(reinterpret_cast<const std::uint8_t*>(label.data()), label.size()));
        cursor.InsertRecord(record);
      }
      cursor.Close();
    }
    session.CloseDirectory(directory);
  }
  const RunResult count = RunStrataProgram("count '" + dir + "' Large", dir);
  EXPECT_EQ(count.out, "100000 Large\n") << count.err;

  const RunResult csv = RunStrataProgram("export '" + dir + "' Large", dir);
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::string expected = "Number,Label\r\n";
  for (std::int32_t n = 1; n <= kRecords; ++n) {
    expected += std::to_string(n * 3) + ",L" + std::to_string(n) + "\r\n";
  }
  EXPECT_TRUE(csv.out == expected) << csv.out.size() << " bytes against " << expected.size();

  // Ended by a signal while it writes: neither the temporary file nor the
  // target is left. An export that ends before the signal arrives is tried
  // again.
  const std::filesystem::path target = root_ / "large.json";
  const auto temporary = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      if (entry.path().filename().string().starts_with(".large.json.strata-")) return true;
    }
    return false;
  };
  int status = 0;
  for (int attempt = 0; attempt < 5 && status != 128 + SIGINT; ++attempt) {
    std::filesystem::remove(target);
    const pid_t pid = StartStrataProgram({"export", dir, "Large", "--format", "json", "--output",
                                          target.string()});
    for (int wait = 0; wait < 20000 && !temporary(); ++wait) ::usleep(500);
    ::kill(pid, SIGINT);
    status = WaitForStrataProgram(pid);
    EXPECT_TRUE(status == 0 || status == 128 + SIGINT) << status;
  }
  EXPECT_EQ(status, 128 + SIGINT);
  EXPECT_FALSE(temporary());
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace strata::testing
