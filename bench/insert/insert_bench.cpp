// bench-insert [ROWS]: inserts ROWS (default 1,000,000) realistic rows into
// a new table through an exclusive cursor, twice: with a memory budget of
// 32 MiB (what the utility gives the engine) and with 2 MiB (the size of
// SQLite's default page cache); then the same rows into an SQLite database
// with its default settings in one transaction. All in a fresh folder of
// the current directory. Prints the rates; the last line is for equal
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
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "platform/process.h"

namespace {

using namespace strata::bench;

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
  const std::int64_t count = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (count <= 0) {
    std::fprintf(stderr, "usage: bench-insert [ROWS]\n");
    return 2;
  }
  const std::string folder = strata::platform::CurrentDirectory() + "bench-insert-data/";

  Numbers numbers;
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 1; i <= count; ++i) rows.push_back(MakeRow(numbers, i));

  double budgetSeconds = 0;
  double engineSeconds = 0;
  double sqliteSeconds = 0;
  try {
    budgetSeconds = RunEngine(folder, rows, kUtilityBudgetBytes);
    engineSeconds = RunEngine(folder, rows, kSqliteDefaultCacheBytes);
    sqliteSeconds = RunSqlite(folder, rows);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::filesystem::remove_all(folder);

  const double engineRate = static_cast<double>(count) / engineSeconds;
  const double sqliteRate = static_cast<double>(count) / sqliteSeconds;
  const double budgetRate = static_cast<double>(count) / budgetSeconds;
  std::printf("rows=%lld engine_32mib_s=%.3f engine_2mib_s=%.3f sqlite_s=%.3f\n",
              static_cast<long long>(count), budgetSeconds, engineSeconds, sqliteSeconds);
  std::printf("32 MiB: engine_rows_per_s=%.0f sqlite_rows_per_s=%.0f ratio=%.3f\n", budgetRate,
              sqliteRate, budgetRate / sqliteRate);
  std::printf("engine_rows_per_s=%.0f sqlite_rows_per_s=%.0f ratio=%.3f\n", engineRate,
              sqliteRate, engineRate / sqliteRate);
  return 0;
}
