#include "engine/errors/engine_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/os_error.h"

namespace strata {
namespace {

// Raises and returns the exception so that tests can look at it.
template <typename Raise>
EStrataEngineError Catch(Raise raise) {
  try {
    raise();
  } catch (const EStrataEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing was raised";
  return EStrataEngineError(EngineErrorContext{});
}

struct MessageCase {
  ErrorCode code;
  const char* table;
  const char* database;
  const char* field;
  const char* index;
  const char* detail;
  std::int32_t line;
  std::int32_t column;
  const char* expected;
};

class MessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTest, FillsPlaceholdersInOrder) {
  const MessageCase& c = GetParam();
  EStrataEngineError e = Catch([&] {
    RaiseEngineError(c.code, {}, {}, c.database, c.table, c.field, c.index, c.detail, {}, {},
                     c.line, c.column);
  });
  EXPECT_EQ(e.Code, c.code);
  EXPECT_EQ(e.Message(), "Strata Engine Error # " + std::to_string(c.code) + " " + c.expected);
  EXPECT_EQ(EngineErrorText(c.code), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, MessageTest,
    ::testing::Values(
        // No placeholder: the names given are ignored.
        MessageCase{11016, "asset", "", "", "", "", 0, 0,
                    "There is insufficient operating system memory available for the current "
                    "operation"},
        MessageCase{15001, "", "", "", "", "", 0, 0, "Error compressing data"},
        // One placeholder.
        MessageCase{8961, "asset", "", "", "", "", 0, 0,
                    "Header information corrupt in the table 'asset'"},
        MessageCase{9480, "asset", "/data/", "", "", "", 0, 0,
                    "The database '/data/' is full and cannot contain any more tables"},
        MessageCase{8705, "", "", "", "", "", 0, 0,
                    "Beginning of table '' unexpectedly encountered"},
        // Two placeholders.
        MessageCase{9729, "asset", "", "", "ByName", "", 0, 0,
                    "Duplicate key found in the index 'ByName' of the table 'asset'"},
        MessageCase{9732, "asset", "", "Cost", "", "", 0, 0,
                    "A value must be provided for the field 'Cost' in the table 'asset'"},
        // Three placeholders.
        MessageCase{10023, "asset", "", "7", "ByName", "", 0, 0,
                    "Invalid field number '7' specified in the index 'ByName' for the table "
                    "'asset'"},
        // Four placeholders: text, text, number, number.
        MessageCase{10051, "asset", "", "", "", "missing operand", 3, 14,
                    "Filter error for the table 'asset' - missing operand at line 3, column 14"},
        MessageCase{11949, "", "", "", "", "unexpected FROM", 2, 7,
                    "SQL parsing error - unexpected FROM at line 2, column 7"},
        // Codes without a template.
        MessageCase{0, "asset", "", "", "", "", 0, 0, "An unknown error occurred"},
        MessageCase{11284, "asset", "", "", "", "", 0, 0, "An unknown error occurred"},
        MessageCase{12345, "asset", "", "", "", "", 0, 0, "An unknown error occurred"}),
    [](const auto& info) { return "Code" + std::to_string(info.param.code); });

TEST(EngineErrorTest, CopiesEveryContextFieldIntoTheException) {
  EStrataEngineError e = Catch([] {
    RaiseEngineError(11303, "srv:12005", "alice", "db", "tbl", "fld", "idx", "detail", "proc",
                     "event", 4, 9);
  });
  EXPECT_EQ(e.ServerAddress, "srv:12005");
  EXPECT_EQ(e.UserName, "alice");
  EXPECT_EQ(e.DatabaseName, "db");
  EXPECT_EQ(e.TableName, "tbl");
  EXPECT_EQ(e.FieldName, "fld");
  EXPECT_EQ(e.IndexName, "idx");
  EXPECT_EQ(e.Detail, "detail");
  EXPECT_EQ(e.ProcedureName, "proc");
  EXPECT_EQ(e.EventName, "event");
  EXPECT_EQ(e.Line, 4);
  EXPECT_EQ(e.Column, 9);
  // The second placeholder of 11303 is the procedure name.
  EXPECT_EQ(EngineErrorText(11303),
            "The procedure user 'alice' does not exist for the database 'proc' on the database "
            "server at 'srv:12005'");
  EXPECT_EQ(LastEngineErrorContext().Code, 11303);
}

TEST(EngineErrorTest, CutsNamesTo255AndTextTo254Characters) {
  const std::string long_name(400, 'x');
  EStrataEngineError e = Catch([&] { RaiseTableError(STRATA_OSENOENT, long_name); });
  EXPECT_EQ(e.TableName, std::string(255, 'x'));
  const std::string text = EngineErrorText(STRATA_OSENOENT);
  ASSERT_EQ(text.size(), 254u);
  EXPECT_EQ(text.substr(0, 27), "Table or backup file '" + std::string(5, 'x'));
  EXPECT_EQ(e.Message(), "Strata Engine Error # 11010 " + text);
}

TEST(EngineErrorTest, RaiseConsumesTheRecordedOsError) {
  platform::SetLastErrorNumber(ENOENT);
  EXPECT_EQ(RecordOsError(), STRATA_OSENOENT);
  EStrataEngineError first = Catch([] { RaiseTableError(STRATA_OSENOENT, "/data/asset.dat"); });
  EXPECT_EQ(first.OsErrorCode, 11010);
  EXPECT_EQ(first.Message(),
            "Strata Engine Error # 11010 Table or backup file '/data/asset.dat' does not exist");
  EStrataEngineError second = Catch([] { RaiseTableError(STRATA_OSENOENT, "/data/asset.dat"); });
  EXPECT_EQ(second.OsErrorCode, 0);
}

TEST(EngineErrorTest, UnknownOsErrorFillsItsOwnCode) {
  platform::SetLastErrorNumber(EIO);
  EXPECT_EQ(RecordOsError(), STRATA_OSUNKNOWN);
  EStrataEngineError e = Catch([] { RaiseTableError(STRATA_OSUNKNOWN, "/data/a.dat"); });
  EXPECT_EQ(EngineErrorText(STRATA_OSUNKNOWN),
            "An unknown operating system error 11047 occurred with the table or backup file "
            "'/data/a.dat'");
}

TEST(EngineErrorTest, MapsOperatingSystemErrors) {
  const std::pair<int, ErrorCode> cases[] = {
      {ENOENT, 11010}, {ENOTDIR, 11010}, {EMFILE, 11012}, {ENFILE, 11012}, {EACCES, 11013},
      {EPERM, 11013},  {EAGAIN, 11013},  {EEXIST, 11013}, {EROFS, 11013},  {ETXTBSY, 11013},
      {EBADF, 11014},  {ENOMEM, 11016},  {ENODEV, 11023}, {ENXIO, 11023},  {EXDEV, 11025},
      {EIO, 11047},    {ENOSPC, 11047},
  };
  for (const auto& [error, code] : cases) {
    platform::SetLastErrorNumber(error);
    EXPECT_EQ(RecordOsError(), code) << "errno " << error;
  }
}

TEST(EngineErrorTest, NamesAndCodes) {
  EXPECT_EQ(EngineErrorName(9729), "STRATA_KEYVIOL");
  EXPECT_EQ(EngineErrorName(15878), "STRATA_CANNOTLOADLDDRV");
  EXPECT_EQ(EngineErrorName(0), "STRATA_NONE");
  EXPECT_EQ(EngineErrorName(11299), "");
  EXPECT_EQ(EngineErrorName(11307), "");
  EXPECT_EQ(EngineErrorName(4242), "");

  EStrataEngineError e = Catch([] { RaiseTableError(STRATA_KEYVIOL, "asset"); });
  EXPECT_EQ(ErrorCodeOf(e), 9729);
  EXPECT_EQ(ErrorCodeOf(std::bad_alloc()), STRATA_OSUNKNOWN);
  EXPECT_EQ(ErrorCodeOf(EDatabaseError("plain")), STRATA_OSUNKNOWN);
}

TEST(EngineErrorTest, ConcurrentRaisesEachCarryAConsistentCopy) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::vector<int> bad(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &bad] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string table = "t" + std::to_string(t) + "_" + std::to_string(i);
        const std::string index = "i" + std::to_string(t);
        try {
          RaiseEngineError(STRATA_KEYVIOL, {}, {}, {}, table, {}, index);
        } catch (const EStrataEngineError& e) {
          const std::string expected = "Strata Engine Error # 9729 Duplicate key found in the index '" +
                                       index + "' of the table '" + table + "'";
          if (e.Message() != expected || e.TableName != table || e.IndexName != index) ++bad[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(bad[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace strata
