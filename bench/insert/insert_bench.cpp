// bench-insert [--repeat N] [ROWS]: inserts ROWS (default 1,000,000)
// realistic rows into a new table through an exclusive cursor, twice: with
// a memory budget of 32 MiB (what the utility gives the engine) and with
// 2 MiB (the size of SQLite's default page cache); then the same rows into
// an SQLite database with its default settings in one transaction. The
// three runs are repeated N times (default 3), one after the other, all in a
// fresh folder of the current directory. Prints the median time of each
// with its range, then the rates of the medians; the last line is for equal
// memory: "engine_rows_per_s=... sqlite_rows_per_s=... ratio=..." (engine
// over SQLite).
//
// The rows and the table are those of bench/people_rows.h.
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/people_rows.h"
#include "bench/spread.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "platform/process.h"

namespace {

using namespace strata::bench;
using strata::bench::Spread;

// SQLite's default page cache: 2000 KiB.
constexpr std::int64_t kSqliteDefaultCacheBytes = 2000 * 1024;
constexpr std::int64_t kUtilityBudgetBytes = std::int64_t{32} << 20;

double RunEngine(const std::string& folder, const std::vector<Row>& rows,
                 std::int64_t memoryBudget) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  strata::TDataEngine engine;
  engine.Options().MemoryBudget = memoryBudget;
  engine.Activate();
  strata::TDataSession& session = engine.NewSession();
  strata::TDataDirectory& directory = session.OpenDirectory("bench", folder);

  std::vector<strata::FieldDescriptor> fields = PeopleFields();
  std::array<strata::IndexDescriptor, strata::kIndexSlotCount> indexes = PeopleIndexes();

  const auto start = std::chrono::steady_clock::now();
  strata::TDataCursor creator(directory, "people", strata::CursorModes{.Exclusive = true});
  creator.CreateTableFiles({}, {fields, indexes, kPeopleSecondaryIndexes});
  {
    strata::TDataCursor cursor(directory, "people", strata::CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    for (const Row& row : rows) InsertPeopleRow(cursor, record, row);
    cursor.Close();
  }
  return Seconds(start);
}

double RunSqlite(const std::string& folder, const std::vector<Row>& rows) {
  const auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  Check(sqlite3_open((folder + "people.sqlite").c_str(), &db), db, "open");
  Check(sqlite3_exec(db, kPeopleSqliteSchema, nullptr, nullptr, nullptr), db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, kPeopleSqliteInsert, -1, &insert, nullptr), db, "prepare");
  for (const Row& row : rows) InsertPeopleRow(db, insert, row);
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t count = 1000000;
  int repeat = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      count = std::atoll(arg.c_str());
    }
  }
  if (count <= 0 || repeat <= 0) {
    std::fprintf(stderr, "usage: bench-insert [--repeat N] [ROWS]\n");
    return 2;
  }
  const std::string folder = strata::platform::CurrentDirectory() + "bench-insert-data/";

  Numbers numbers;
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 1; i <= count; ++i) rows.push_back(MakeRow(numbers, i));

  std::vector<double> budget, engine, sqlite;
  try {
    for (int r = 1; r <= repeat; ++r) {
      budget.push_back(RunEngine(folder, rows, kUtilityBudgetBytes));
      engine.push_back(RunEngine(folder, rows, kSqliteDefaultCacheBytes));
      std::filesystem::remove_all(folder);
      std::filesystem::create_directories(folder);
      sqlite.push_back(RunSqlite(folder, rows));
      std::printf("repetition %d: engine_32mib_s=%.3f engine_2mib_s=%.3f sqlite_s=%.3f\n", r,
                  budget.back(), engine.back(), sqlite.back());
      std::fflush(stdout);
    }
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::filesystem::remove_all(folder);

  const Spread budgetTime = SpreadOf(budget);
  const Spread engineTime = SpreadOf(engine);
  const Spread sqliteTime = SpreadOf(sqlite);
  const double rows_ = static_cast<double>(count);
  std::printf(
      "rows=%lld repeat=%d engine_32mib_s=%.3f (%.3f-%.3f) engine_2mib_s=%.3f (%.3f-%.3f) "
      "sqlite_s=%.3f (%.3f-%.3f)\n",
      static_cast<long long>(count), repeat, budgetTime.Median, budgetTime.Min, budgetTime.Max,
      engineTime.Median, engineTime.Min, engineTime.Max, sqliteTime.Median, sqliteTime.Min,
      sqliteTime.Max);
  std::printf("32 MiB: engine_rows_per_s=%.0f sqlite_rows_per_s=%.0f ratio=%.3f\n",
              rows_ / budgetTime.Median, rows_ / sqliteTime.Median,
              sqliteTime.Median / budgetTime.Median);
  std::printf("engine_rows_per_s=%.0f sqlite_rows_per_s=%.0f ratio=%.3f\n",
              rows_ / engineTime.Median, rows_ / sqliteTime.Median,
              sqliteTime.Median / engineTime.Median);
  return 0;
}
