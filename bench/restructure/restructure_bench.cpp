// bench-restructure [--repeat N] [--threads N] [--memory MIB] [SIZE...]:
// for each size (default 100000 300000 1000000) builds a people table of
// that many rows (the rows and table of bench/people_rows.h) once, keeps its
// files aside, and then, N times (default 3), restores them and times the three levels
// of a restructure on it, against three yardsticks on the same data in the
// same repetition:
//
//   full rebuild    a field added (Phone, string[20]);
//   index-only      a secondary index added (ByEmail);
//   header-only     a field renamed (City to Town) and a new description;
//   SQLite rebuild  the same field added the way SQLite must: in one
//                   transaction, a new table, INSERT ... SELECT, the indexes,
//                   drop the old table, rename the new one;
//   file copy       the table's .dat, .idx and .blb files copied to another
//                   name by the operating system;
//   floor           the least a full rebuild of this format must do on one
//                   core: read the old files, compute the MD5 digest of
//                   every record, write the new files sequentially and
//                   flush them to the disk.
//
// The engine gets a memory budget (default 32 MiB) and SQLite a page cache
// of the same size; --threads sets the engine's threads (default: one per
// processor the process may use, 1 keeps one thread). Everything happens in a fresh folder under the system's
// temporary path, removed at the end. Each figure is printed as it is
// measured; then one line per size, smallest first, so the last line is
// that of the largest, with the median of each figure, the range of the
// full rebuild, the ratios of the medians and the peak resident memory of
// the restructures:
// "rows=N full_s=... full_min_s=... full_max_s=... sqlite_rebuild_s=...
// floor_s=... full_vs_sqlite=... full_vs_floor=... index_only_s=...
// header_only_s=... copy_s=... peak_rss_mb=... threads=..."
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

#include <unistd.h>

#include "bench/people_rows.h"
#include "bench/spread.h"
#include "engine/crypto/md5.h"
#include "engine/formats/data_file_header_layout.h"
#include "engine/formats/field_descriptor_layout.h"
#include "engine/formats/record_layout.h"
#include "engine/core/cursors/data_cursor.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"
#include "platform/process.h"

namespace {

using namespace strata::bench;
using strata::bench::Spread;
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
  EngineTable(const ScratchFolder& folder, std::int64_t memoryBudget, int threads) {
    engine_.Options().MemoryBudget = memoryBudget;
    engine_.Options().Threads = threads;
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

  int Threads() const { return engine_.BuildThreads(); }

  std::int64_t RecordSize() {
    strata::TDataCursor cursor(*directory_, "people");
    cursor.Open();
    return cursor.RecordSize();
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

// Every file of the folder whose name starts with `prefix`.
std::vector<std::filesystem::path> FilesStartingWith(const std::string& folder,
                                                      const std::string& prefix) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind(prefix, 0) == 0) {
      files.push_back(entry.path());
    }
  }
  return files;
}

// Puts back the files kept in `from`, after removing every file of `to`
// that starts with `prefix` (the restructures' backups included).
void RestoreFiles(const std::string& from, const std::string& to, const std::string& prefix) {
  for (const auto& file : FilesStartingWith(to, prefix)) std::filesystem::remove(file);
  for (const auto& file : FilesStartingWith(from, prefix)) {
    std::filesystem::copy_file(file, to + file.filename().string());
  }
}

// The record layout the floor needs: where the records start, how long
// each is, and the BLOB slots the digest takes as zero.
struct RecordLayout {
  std::int64_t FirstRecord = 0;
  std::int64_t RecordSize = 0;
  std::vector<std::pair<std::size_t, std::size_t>> BlobSlots;  // offset, length
};

// Where the floor's digests go, so that computing them is never left out.
volatile std::uint64_t g_digestSink = 0;

// The floor of a full rebuild: every file read once, every record's
// digest computed as a rebuild must (the field area, BLOB slots as zero),
// every byte written once to a new file, and the new files flushed to the
// disk, as a rebuild must before it swaps them in.
double Floor(const std::string& folder, const RecordLayout& layout) {
  const auto start = Clock::now();
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::vector<std::uint8_t> buffer(kChunk);
  std::vector<std::uint8_t> fieldArea;
  for (const char* extension : {".dat", ".idx", ".blb"}) {
    const std::string from = folder + "people" + extension;
    const std::string to = folder + "people_floor" + extension;
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (in == nullptr || out == nullptr) throw std::runtime_error("floor: cannot open " + from);
    const bool records = std::string_view(extension) == ".dat";
    // Whole records per chunk, so that no record straddles two reads.
    const std::size_t step =
        records ? kChunk / static_cast<std::size_t>(layout.RecordSize) *
                      static_cast<std::size_t>(layout.RecordSize)
                : kChunk;
    std::size_t got = 0;
    if (records) {
      got = std::fread(buffer.data(), 1, static_cast<std::size_t>(layout.FirstRecord), in);
      std::fwrite(buffer.data(), 1, got, out);
    }
    while ((got = std::fread(buffer.data(), 1, step, in)) > 0) {
      if (records) {
        const auto size = static_cast<std::size_t>(layout.RecordSize);
        for (std::size_t at = 0; at + size <= got; at += size) {
          constexpr std::size_t kFields = strata::kFirstFieldOffset;
          fieldArea.assign(buffer.begin() + static_cast<std::ptrdiff_t>(at + kFields),
                           buffer.begin() + static_cast<std::ptrdiff_t>(at + size));
          for (const auto& [slot, length] : layout.BlobSlots) {
            std::fill_n(fieldArea.begin() + static_cast<std::ptrdiff_t>(slot - kFields), length,
                        0);
          }
          g_digestSink = g_digestSink + strata::Md5::Digest(fieldArea)[0];
        }
      }
      if (std::fwrite(buffer.data(), 1, got, out) != got) {
        throw std::runtime_error("floor: cannot write " + to);
      }
    }
    std::fflush(out);
    ::fsync(::fileno(out));
    std::fclose(out);
    std::fclose(in);
  }
  const double seconds = Seconds(start);
  for (const char* extension : {".dat", ".idx", ".blb"}) {
    std::filesystem::remove(folder + "people_floor" + extension);
  }
  return seconds;
}

struct Figures {
  std::int64_t rows = 0;
  Spread full, indexOnly, headerOnly, sqliteRebuild, copy, floor;
  double peakMb = 0;
  int threads = 1;
};

Figures Run(std::int64_t count, std::int64_t memoryBudget, int repeat, int threads) {
  const ScratchFolder folder;
  std::printf("size %lld: folder=%s\n", static_cast<long long>(count), folder.Path().c_str());

  EngineTable table(folder, memoryBudget, threads);
  const double engineBuild = table.Build(count);
  const std::string data = folder.Data();
  std::printf("  engine_build_s=%.3f dat_mb=%.1f idx_mb=%.1f blb_mb=%.1f\n", engineBuild,
              MegaBytes(data + "people.dat"), MegaBytes(data + "people.idx"),
              MegaBytes(data + "people.blb"));
  const std::vector<strata::FieldDescriptor> builtFields = table.Fields();
  RecordLayout layout;
  layout.FirstRecord = static_cast<std::int64_t>(strata::data_header_layout::kFieldDescriptors +
                                                 strata::kFieldDescriptorSize * builtFields.size());
  layout.RecordSize = table.RecordSize();
  for (const auto& field : builtFields) {
    if (field.EngineType == strata::kTypeBlob) {
      layout.BlobSlots.emplace_back(field.FieldOffset, 1 + field.PhysicalSize);
    }
  }

  // SQLite after the engine's build: its page cache stays with the process.
  const std::string sqlitePath = folder.Path() + "people.sqlite";
  double sqliteBuild = 0;
  {
    SqliteDatabase sqlite(sqlitePath, memoryBudget);
    sqliteBuild = sqlite.Build(count);
  }
  std::printf("  sqlite_build_s=%.3f sqlite_mb=%.1f\n", sqliteBuild, MegaBytes(sqlitePath));
  const std::string kept = folder.Path() + "kept/";
  std::filesystem::create_directories(kept);
  for (const auto& file : FilesStartingWith(data, "people")) {
    std::filesystem::copy_file(file, kept + file.filename().string());
  }
  std::filesystem::copy_file(sqlitePath, kept + "people.sqlite");

  // Backups on (SuppressBackups off), as the update utility runs: the full
  // rebuild renames the previous files to .dbk/.ibk/.bbk and the index-only
  // rebuild keeps a copy of the index file, so the figures are what a user
  // of the utility waits for.
  strata::RestructureOptions options;
  options.SuppressBackups = false;

  std::vector<double> full, indexOnly, headerOnly, sqliteRebuild, copy, floor;
  double peak = 0;
  for (int r = 1; r <= repeat; ++r) {
    std::printf(" repetition %d of %d\n", r, repeat);
    if (r > 1) RestoreFiles(kept, data, "people");
    strata::platform::ResetPeakResidentBytes();
    std::vector<strata::FieldDescriptor> fields = builtFields;
    fields.push_back(
        FieldDef(static_cast<std::uint16_t>(fields.size() + 1), "Phone").String(20));
    full.push_back(table.Restructure("full rebuild", strata::RestructureLevel::Full, options,
                                     fields, PeopleIndexes(), kPeopleSecondaryIndexes, true));
    std::printf("  full_rebuild_s=%.3f\n", full.back());
    PrintPeak("the full rebuild");

    Indexes withEmail = PeopleIndexes();
    withEmail[kPeopleSecondaryIndexes + 1].Name = "ByEmail";
    withEmail[kPeopleSecondaryIndexes + 1].FieldNumbers[0] = 4;
    indexOnly.push_back(table.Restructure("index-only rebuild",
                                          strata::RestructureLevel::IndexOnly, options,
                                          table.Fields(), withEmail, kPeopleSecondaryIndexes + 1,
                                          true));
    std::printf("  index_only_s=%.3f\n", indexOnly.back());
    PrintPeak("the index-only rebuild");

    fields = table.Fields();
    fields[2].Name = "Town";
    strata::RestructureOptions described = options;
    described.Description = "People of the restructure benchmark";
    headerOnly.push_back(table.Restructure("header-only update",
                                           strata::RestructureLevel::HeaderOnly, described,
                                           fields, withEmail, kPeopleSecondaryIndexes + 1, false));
    std::printf("  header_only_s=%.3f\n", headerOnly.back());
    peak = std::max(peak, static_cast<double>(strata::platform::PeakResidentBytes()) /
                              (1024.0 * 1024.0));

    // Not timed: the restructures kept every record and reached the structure.
    fields = table.Fields();
    if (table.RecordCount() != count || fields.size() != 8 || fields[2].Name != "Town" ||
        fields[7].Name != "Phone") {
      throw std::runtime_error("the restructured table lost records or fields");
    }

    std::filesystem::remove(sqlitePath);
    std::filesystem::copy_file(kept + "people.sqlite", sqlitePath);
    {
      SqliteDatabase sqlite(sqlitePath, memoryBudget);
      sqliteRebuild.push_back(sqlite.Rebuild());
    }
    std::printf("  sqlite_rebuild_s=%.3f\n", sqliteRebuild.back());

    RestoreFiles(kept, data, "people");
    copy.push_back(CopyTableFiles(data));
    std::printf("  copy_s=%.3f\n", copy.back());
    floor.push_back(Floor(data, layout));
    std::printf("  floor_s=%.3f\n", floor.back());
    std::fflush(stdout);
  }
  Figures figures;
  figures.rows = count;
  figures.full = SpreadOf(full);
  figures.indexOnly = SpreadOf(indexOnly);
  figures.headerOnly = SpreadOf(headerOnly);
  figures.sqliteRebuild = SpreadOf(sqliteRebuild);
  figures.copy = SpreadOf(copy);
  figures.floor = SpreadOf(floor);
  figures.peakMb = peak;
  figures.threads = table.Threads();
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t memoryMib = 32;
  int repeat = 3;
  int threads = 0;
  std::vector<std::int64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--memory" && i + 1 < argc) {
      memoryMib = std::atoll(argv[++i]);
    } else if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (arg == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else {
      sizes.push_back(std::atoll(arg.c_str()));
    }
  }
  if (sizes.empty()) sizes = {100000, 300000, 1000000};
  if (memoryMib <= 0 || repeat <= 0 || threads < 0 ||
      std::any_of(sizes.begin(), sizes.end(), [](auto n) { return n <= 0; })) {
    std::fprintf(stderr, "usage: bench-restructure [--repeat N] [--threads N] [--memory MIB] [SIZE...]\n");
    return 2;
  }
  std::sort(sizes.begin(), sizes.end());
  try {
    std::vector<Figures> all;
    for (const std::int64_t size : sizes) all.push_back(Run(size, memoryMib << 20, repeat, threads));
    for (const Figures& f : all) {
      std::printf(
          "rows=%lld full_s=%.3f full_min_s=%.3f full_max_s=%.3f sqlite_rebuild_s=%.3f "
          "floor_s=%.3f full_vs_sqlite=%.3f full_vs_floor=%.3f index_only_s=%.3f "
          "header_only_s=%.3f copy_s=%.3f peak_rss_mb=%.1f threads=%d\n",
          static_cast<long long>(f.rows), f.full.Median, f.full.Min, f.full.Max,
          f.sqliteRebuild.Median, f.floor.Median, f.full.Median / f.sqliteRebuild.Median,
          f.full.Median / f.floor.Median, f.indexOnly.Median, f.headerOnly.Median,
          f.copy.Median, f.peakMb, f.threads);
    }
    return 0;
  } catch (const strata::EDatabaseError& error) {
    std::fprintf(stderr, "bench-restructure: %s\n", error.Message().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-restructure: %s\n", error.what());
  }
  return 1;
}
