// bench-import [ROWS] [--memory MIB]: `strata import` of the people table
// (1,000,000 rows by default, three indexes) from the CSV that `strata
// export` writes, against the `sqlite3` shell's `.import` of the same CSV
// into a table with the same three indexes (its primary key and two
// secondary indexes), both as programs, each the median of three runs in
// this one run; and `strata import` of the same rows from the SQLite
// database `strata export-sqlite` writes.
//
// Prints
//   rows=N import_csv_s=... sqlite_import_s=... ratio=...
// (ratio: strata's time over the shell's; at most 1 is as fast or faster),
// then import_sqlite_s=..., the peak resident memory of the strata imports
// (peak_rss_mb=) and the memory they were given (memory_mib=).
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/people_rows.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "engine/errors/engine_error.h"

namespace {

using namespace strata::bench;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 3;


struct Run {
  double Seconds = -1;  // -1: the program failed
  double PeakMb = 0;
};

// Runs a shell command as a child and measures it (its time and the peak
// resident memory of the process it ends in).
Run Timed(const std::string& command) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Run run;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) run.Seconds = Seconds(start);
  run.PeakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int RunBench(std::int64_t count, std::int64_t memoryMib, const std::string& binDir) {
  const std::string folder = MakeScratch("bench-import");
  const std::string source = folder + "source/";
  const std::string target = folder + "target/";
  std::filesystem::create_directories(source);
  std::printf("rows=%lld folder=%s (building the table)\n", static_cast<long long>(count),
              folder.c_str());
  std::fflush(stdout);
  {
    strata::TDataEngine engine;
    engine.Activate();
    strata::TDataSession& session = engine.NewSession();
    strata::TDataDirectory& directory = session.OpenDirectory("", source);
    BuildPeopleTable(directory, count);
    session.CloseDirectory(directory);
  }
  const std::string strata = "'" + binDir + "/strata'";
  const std::string csv = folder + "people.csv";
  const std::string sqliteSource = folder + "people.db";
  if (Timed(strata + " export '" + source + "' people --output '" + csv + "'").Seconds < 0 ||
      Timed(strata + " export-sqlite '" + source + "' '" + sqliteSource + "' people").Seconds < 0) {
    throw std::runtime_error("the export of the people table failed");
  }
  std::filesystem::copy(source, target);

  const std::string memory = " --memory " + std::to_string(memoryMib);
  const std::string shellDb = folder + "shell.db";
  const std::string shellSql = folder + "shell.sql";
  {
    std::FILE* script = std::fopen(shellSql.c_str(), "w");
    std::fprintf(script,
                 "CREATE TABLE people(ID INTEGER PRIMARY KEY, Name TEXT, City TEXT, Email TEXT, "
                 "Born TEXT, Balance REAL, Notes TEXT);\n"
                 "CREATE INDEX by_name ON people(Name);\n"
                 "CREATE INDEX by_city_born ON people(City, Born);\n"
                 ".import --csv --skip 1 '%s' people\n",
                 csv.c_str());
    std::fclose(script);
  }
  std::vector<double> fromCsv;
  std::vector<double> fromSqlite;
  std::vector<double> shell;
  double peak = 0;
  bool shellMissing = false;
  for (int i = 0; i < kRepeats; ++i) {
    const Run imported = Timed(strata + " import '" + target + "' people '" + csv +
                               "' --mode replace" + memory + " >/dev/null");
    const Run copied = Timed(strata + " import '" + target + "' people '" + sqliteSource +
                             "' --mode replace" + memory + " >/dev/null");
    std::filesystem::remove(shellDb);
    const Run loaded = Timed("sqlite3 '" + shellDb + "' < '" + shellSql + "'");
    if (imported.Seconds < 0 || copied.Seconds < 0) throw std::runtime_error("strata import failed");
    fromCsv.push_back(imported.Seconds);
    fromSqlite.push_back(copied.Seconds);
    shell.push_back(loaded.Seconds);
    shellMissing |= loaded.Seconds < 0;
    peak = std::max({peak, imported.PeakMb, copied.PeakMb});
  }
  const double strataCsv = Median(fromCsv);
  if (shellMissing) {
    std::printf("rows=%lld import_csv_s=%.3f sqlite_import_s=unavailable ratio=unavailable\n",
                static_cast<long long>(count), strataCsv);
  } else {
    const double sqlite = Median(shell);
    std::printf("rows=%lld import_csv_s=%.3f sqlite_import_s=%.3f ratio=%.3f\n",
                static_cast<long long>(count), strataCsv, sqlite, strataCsv / sqlite);
  }
  std::printf("import_sqlite_s=%.3f peak_rss_mb=%.1f memory_mib=%lld csv_mb=%.1f\n",
              Median(fromSqlite), peak, static_cast<long long>(memoryMib),
              static_cast<double>(std::filesystem::file_size(csv)) / 1048576.0);
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t count = 1000000;
  std::int64_t memoryMib = 32;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--memory" && i + 1 < argc) {
      memoryMib = std::atoll(argv[++i]);
      usage |= memoryMib <= 0;
    } else {
      count = std::atoll(argv[i]);
      usage |= count <= 0;
    }
  }
  if (usage) {
    std::fprintf(stderr, "usage: bench-import [ROWS] [--memory MIB]\n");
    return 2;
  }
  try {
    return RunBench(count, memoryMib, std::filesystem::absolute(argv[0]).parent_path().string());
  } catch (const strata::EDatabaseError& error) {
    std::fprintf(stderr, "bench-import: %s\n", error.Message().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-import: %s\n", error.what());
  }
  return 1;
}
