// bench-restructure [--memory MIB] [SIZE...]: for each size (default
// 100000 300000 1000000) builds a people table of that many rows (the rows
// and table of bench/people_rows.h) and times the three levels of a
// restructure on it, against two yardsticks on the same data:
//
//   full rebuild    a field added (Phone, string[20]);
//   index-only      a secondary index added (ByEmail);
//   header-only     a field renamed (City to Town) and a new description;
//   SQLite rebuild  the same field added the way SQLite must: in one
//                   transaction, a new table, INSERT ... SELECT, the indexes,
//                   drop the old table, rename the new one;
//   file copy       the table's .dat, .idx and .blb files copied to another
//                   name by the operating system.
//
// The engine gets a memory budget (default 32 MiB) and SQLite a page cache
// of the same size. Everything happens in a fresh folder under the system's
// temporary path, removed at the end. Each figure is printed as it is
// measured; then one line per size, smallest first, so the last line is
// that of the largest:
// "rows=N full_s=... index_only_s=... header_only_s=... sqlite_rebuild_s=...
// copy_s=... full_vs_sqlite=... full_vs_copy=... peak_rss_mb=..."
// where peak_rss_mb is the process's peak resident memory over the three
// restructures.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bench/people_rows.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "platform/process.h"

namespace {

using namespace strata::bench;
using Clock = std::chrono::steady_clock;
using Indexes = std::array<strata::IndexDescriptor, strata::kIndexSlotCount>;

constexpr const char* kLevelNames[] = {"header-only", "index-only", "full"};

void PrintPeak(const char* after) {
  std::printf("  peak_rss_mb=%.1f (after %s)\n",
              static_cast<double>(strata::platform::PeakResidentBytes()) / (1024.0 * 1024.0),
              after);
  std::fflush(stdout);
}

double MegaBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0.0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

// The folder of one run; removed with everything in it however the run ends.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(strata::platform::TemporaryPath() + "bench-restructure-" +
              strata::platform::ThreadIdText() + "/") {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_ + "data");
    std::filesystem::create_directories(path_ + "private");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string Data() const { return path_ + "data/"; }
  std::string Private() const { return path_ + "private/"; }

 private:
  std::string path_;
};

// The engine side: the people table in data/, its full rebuilds built in
// private/ (the session's private directory, on the same file system, so
// the final moves are renames as they are for the utility).
class EngineTable {
 public:
  EngineTable(const ScratchFolder& folder, std::int64_t memoryBudget) {
    engine_.Options().MemoryBudget = memoryBudget;
    engine_.Activate();
    session_ = &engine_.NewSession();
    session_->SetPrivateDirectory(folder.Private());
    directory_ = &session_->OpenDirectory("bench", folder.Data());
  }

  double Build(std::int64_t count) {
    const auto start = Clock::now();
    std::vector<strata::FieldDescriptor> fields = PeopleFields();
    Indexes indexes = PeopleIndexes();
    strata::TDataCursor creator(*directory_, "people", strata::CursorModes{.Exclusive = true});
    creator.CreateTableFiles({}, {fields, indexes, kPeopleSecondaryIndexes});
    strata::TDataCursor cursor(*directory_, "people", strata::CursorModes{.Exclusive = true});
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    Numbers numbers;
    for (std::int64_t i = 1; i <= count; ++i) InsertPeopleRow(cursor, record, MakeRow(numbers, i));
    cursor.Close();
    return Seconds(start);
  }

  // The number of records the table holds.
  std::int64_t RecordCount() {
    strata::TDataCursor cursor(*directory_, "people");
    cursor.Open();
    std::vector<std::uint8_t> record = cursor.NewRecordBuffer();
    std::int64_t records = 0;
    for (std::int32_t n = 1; n <= cursor.PhysicalRecordCount(); ++n) {
      if (cursor.ReadRecord(n, record)) ++records;
    }
    return records;
  }

  // The stored (validated) fields.
  std::vector<strata::FieldDescriptor> Fields() {
    strata::TDataCursor cursor(*directory_, "people");
    cursor.Open();
    return {cursor.Fields().begin(), cursor.Fields().end()};
  }

  // Restructures the table, fails the run unless the engine chose the
  // expected level, and returns the seconds taken. With splits, prints the
  // time at each quarter of the progress and the time after the last
  // progress report (closing the tables and swapping the files).
  double Restructure(const char* what, strata::RestructureLevel expected,
                     const strata::RestructureOptions& options,
                     std::vector<strata::FieldDescriptor> fields, Indexes indexes,
                     int secondaryIndexCount, bool splits) {
    strata::TDataCursor cursor(*directory_, "people", strata::CursorModes{.Exclusive = true});
    const auto start = Clock::now();
    auto lastReport = start;
    std::string quarters;
    cursor.OnProgress = [&](std::uint16_t percent, std::string_view) {
      lastReport = Clock::now();
      if (percent % 25 == 0) {
        char text[48];
        std::snprintf(text, sizeof text, " %u%%=%.3fs", static_cast<unsigned>(percent),
                      Seconds(start));
        quarters += text;
      }
    };
    const strata::RestructureLevel level =
        cursor.RestructureTable(options, {fields, indexes, secondaryIndexCount});
    const auto end = Clock::now();
    if (level != expected) {
      throw std::runtime_error(std::string(what) + ": the engine chose a " +
                               kLevelNames[static_cast<int>(level)] + " restructure, expected " +
                               kLevelNames[static_cast<int>(expected)]);
    }
    if (splits) {
      std::printf("  progress:%s; after the last report %.3fs\n", quarters.c_str(),
                  std::chrono::duration<double>(end - lastReport).count());
    }
    return std::chrono::duration<double>(end - start).count();
  }

 private:
  strata::TDataEngine engine_;
  strata::TDataSession* session_ = nullptr;
  strata::TDataDirectory* directory_ = nullptr;
};

class SqliteDatabase {
 public:
  SqliteDatabase(const std::string& path, std::int64_t cacheBytes) {
    Check(sqlite3_open(path.c_str(), &db_), db_, "open");
    // A negative cache size counts KiB.
    const std::string pragma = "PRAGMA cache_size=-" + std::to_string(cacheBytes / 1024);
    Execute(pragma.c_str(), "cache size");
  }
  ~SqliteDatabase() { sqlite3_close(db_); }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  void Execute(const char* sql, const char* what) {
    Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), db_, what);
  }

  double Build(std::int64_t count) {
    const auto start = Clock::now();
    Execute(kPeopleSqliteSchema, "create");
    Execute("BEGIN", "begin");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db_, kPeopleSqliteInsert, -1, &insert, nullptr), db_, "prepare");
    Numbers numbers;
    for (std::int64_t i = 1; i <= count; ++i) InsertPeopleRow(db_, insert, MakeRow(numbers, i));
    sqlite3_finalize(insert);
    Execute("COMMIT", "commit");
    return Seconds(start);
  }

  // Adds the phone column the way SQLite rebuilds a table.
  double Rebuild() {
    const auto start = Clock::now();
    Execute("BEGIN", "begin");
    Execute(
        "CREATE TABLE people_new(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, "
        "city TEXT, email TEXT, born INTEGER, balance REAL, notes BLOB, phone TEXT)",
        "create new");
    Execute(
        "INSERT INTO people_new(id, name, city, email, born, balance, notes) "
        "SELECT id, name, city, email, born, balance, notes FROM people",
        "copy");
    Execute(
        "CREATE INDEX people_new_by_name ON people_new(name);"
        "CREATE INDEX people_new_by_city_born ON people_new(city, born);",
        "index");
    Execute("DROP TABLE people", "drop");
    Execute("ALTER TABLE people_new RENAME TO people", "rename");
    Execute("COMMIT", "commit");
    return Seconds(start);
  }

 private:
  sqlite3* db_ = nullptr;
};

double CopyTableFiles(const std::string& folder) {
  const auto start = Clock::now();
  for (const char* extension : {".dat", ".idx", ".blb"}) {
    std::filesystem::copy_file(folder + "people" + extension, folder + "people_copy" + extension,
                               std::filesystem::copy_options::overwrite_existing);
  }
  return Seconds(start);
}

struct Figures {
  std::int64_t rows = 0;
  double full = 0, indexOnly = 0, headerOnly = 0, sqliteRebuild = 0, copy = 0, peakMb = 0;
};

Figures Run(std::int64_t count, std::int64_t memoryBudget) {
  const ScratchFolder folder;
  std::printf("size %lld: folder=%s\n", static_cast<long long>(count), folder.Path().c_str());

  EngineTable table(folder, memoryBudget);
  const double engineBuild = table.Build(count);
  const std::string data = folder.Data();
  std::printf("  engine_build_s=%.3f dat_mb=%.1f idx_mb=%.1f blb_mb=%.1f\n", engineBuild,
              MegaBytes(data + "people.dat"), MegaBytes(data + "people.idx"),
              MegaBytes(data + "people.blb"));

  // Backups on (SuppressBackups off), as the update utility runs: the full
  // rebuild renames the previous files to .dbk/.ibk/.bbk and the index-only
  // rebuild keeps a copy of the index file, so the figures are what a user
  // of the utility waits for.
  strata::RestructureOptions options;
  options.SuppressBackups = false;

  Figures figures;
  figures.rows = count;
  strata::platform::ResetPeakResidentBytes();
  std::vector<strata::FieldDescriptor> fields = table.Fields();
  fields.push_back(
      FieldDef(static_cast<std::uint16_t>(fields.size() + 1), "Phone").String(20));
  figures.full = table.Restructure("full rebuild", strata::RestructureLevel::Full, options,
                                   fields, PeopleIndexes(), kPeopleSecondaryIndexes, true);
  std::printf("  full_rebuild_s=%.3f\n", figures.full);
  PrintPeak("the full rebuild");

  Indexes withEmail = PeopleIndexes();
  withEmail[kPeopleSecondaryIndexes + 1].Name = "ByEmail";
  withEmail[kPeopleSecondaryIndexes + 1].FieldNumbers[0] = 4;
  figures.indexOnly =
      table.Restructure("index-only rebuild", strata::RestructureLevel::IndexOnly, options,
                        table.Fields(), withEmail, kPeopleSecondaryIndexes + 1, true);
  std::printf("  index_only_s=%.3f\n", figures.indexOnly);
  PrintPeak("the index-only rebuild");

  fields = table.Fields();
  fields[2].Name = "Town";
  strata::RestructureOptions described = options;
  described.Description = "People of the restructure benchmark";
  figures.headerOnly =
      table.Restructure("header-only update", strata::RestructureLevel::HeaderOnly, described,
                        fields, withEmail, kPeopleSecondaryIndexes + 1, false);
  std::printf("  header_only_s=%.3f\n", figures.headerOnly);
  figures.peakMb =
      static_cast<double>(strata::platform::PeakResidentBytes()) / (1024.0 * 1024.0);

  // Not timed: the restructures kept every record and reached the structure.
  fields = table.Fields();
  if (table.RecordCount() != count || fields.size() != 8 || fields[2].Name != "Town" ||
      fields[7].Name != "Phone") {
    throw std::runtime_error("the restructured table lost records or fields");
  }

  // SQLite after the engine: its page cache stays with the process.
  const std::string sqlitePath = folder.Path() + "people.sqlite";
  SqliteDatabase sqlite(sqlitePath, memoryBudget);
  const double sqliteBuild = sqlite.Build(count);
  std::printf("  sqlite_build_s=%.3f sqlite_mb=%.1f\n", sqliteBuild, MegaBytes(sqlitePath));
  figures.sqliteRebuild = sqlite.Rebuild();
  std::printf("  sqlite_rebuild_s=%.3f\n", figures.sqliteRebuild);

  figures.copy = CopyTableFiles(data);
  std::printf("  copy_s=%.3f\n", figures.copy);
  std::fflush(stdout);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t memoryMib = 32;
  std::vector<std::int64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--memory" && i + 1 < argc) {
      memoryMib = std::atoll(argv[++i]);
    } else {
      sizes.push_back(std::atoll(arg.c_str()));
    }
  }
  if (sizes.empty()) sizes = {100000, 300000, 1000000};
  if (memoryMib <= 0 || std::any_of(sizes.begin(), sizes.end(), [](auto n) { return n <= 0; })) {
    std::fprintf(stderr, "usage: bench-restructure [--memory MIB] [SIZE...]\n");
    return 2;
  }
  std::sort(sizes.begin(), sizes.end());
  try {
    std::vector<Figures> all;
    for (const std::int64_t size : sizes) all.push_back(Run(size, memoryMib << 20));
    for (const Figures& f : all) {
      std::printf(
          "rows=%lld full_s=%.3f index_only_s=%.3f header_only_s=%.3f sqlite_rebuild_s=%.3f "
          "copy_s=%.3f full_vs_sqlite=%.3f full_vs_copy=%.3f peak_rss_mb=%.1f\n",
          static_cast<long long>(f.rows), f.full, f.indexOnly, f.headerOnly, f.sqliteRebuild,
          f.copy, f.full / f.sqliteRebuild, f.full / f.copy, f.peakMb);
    }
    return 0;
  } catch (const strata::EDatabaseError& error) {
    std::fprintf(stderr, "bench-restructure: %s\n", error.Message().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-restructure: %s\n", error.what());
  }
  return 1;
}
