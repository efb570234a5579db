// bench-update [--repeat N] [ROWS]: writes the older sample database (the
// one `strata sample-db` writes) with ROWS rows a table (default 5000)
// once, then N times (default 3) copies it to a fresh folder and times
// `strata update` on the copy (the program beside this one, a process of
// its own as a user runs it), against the yardstick of copying the folder
// and flushing the copy to the disk. Prints each repetition, then
// "rows=N update_s=... update_min_s=... update_max_s=... copy_sync_s=...
// update_vs_copy=... folder_mb=... peak_rss_mb=..." with the medians, the
// range of the update and the peak resident memory of the updates.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/spread.h"
#include "components/default_components.h"
#include "platform/process.h"
#include "tools/sample_database.h"

namespace {

namespace fs = std::filesystem;
using strata::bench::Spread;
using strata::bench::SpreadOf;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The strata program beside this one.
std::string StrataProgram() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / "strata").string();
}

struct Child {
  double Seconds = 0;
  double PeakMb = 0;
};

// Runs `strata update DIR` with its output discarded; throws unless it
// succeeds.
Child RunUpdate(const std::string& program, const std::string& folder) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot start " + program);
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(program.c_str(), program.c_str(), "update", folder.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("strata update " + folder + " failed");
  }
  return {Seconds(start), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  ::fsync(fd);
  ::close(fd);
}

// The yardstick: the folder copied file by file, every file and the new
// folder flushed to the disk.
double CopyWithSync(const std::string& from, const std::string& to) {
  const auto start = Clock::now();
  fs::copy(from, to, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(to)) {
    SyncPath(entry.path().string(), entry.is_directory());
  }
  SyncPath(to, true);
  return Seconds(start);
}

double FolderMegaBytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::int32_t rows = 5000;
  int repeat = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      rows = std::atoi(arg.c_str());
    }
  }
  if (rows <= 0 || rows > strata::tools::kMaxSampleRows || repeat <= 0) {
    std::fprintf(stderr, "usage: bench-update [--repeat N] [ROWS]\n");
    return 2;
  }
  const std::string root =
      strata::platform::TemporaryPath() + "bench-update-" + strata::platform::ThreadIdText() + "/";
  struct Cleanup {
    std::string path;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } cleanup{root};
  try {
    fs::remove_all(root);
    const std::string sample = root + "sample/";
    fs::create_directories(sample);
    const auto built = Clock::now();
    {
      strata::DefaultComponents components;
      strata::tools::WriteSampleDatabase(sample, rows);
    }
    const double megaBytes = FolderMegaBytes(sample);
    std::printf("sample of %d rows a table: %.1f MB in %.3f s\n", rows, megaBytes, Seconds(built));
    const std::string program = StrataProgram();

    std::vector<double> updates, copies;
    double peak = 0;
    for (int r = 1; r <= repeat; ++r) {
      const std::string run = root + "run" + std::to_string(r) + "/";
      fs::copy(sample, run, fs::copy_options::recursive);
      const Child update = RunUpdate(program, run);
      updates.push_back(update.Seconds);
      peak = std::max(peak, update.PeakMb);
      fs::remove_all(run);
      const std::string copy = root + "copy" + std::to_string(r) + "/";
      copies.push_back(CopyWithSync(sample, copy));
      fs::remove_all(copy);
      std::printf("repetition %d: update_s=%.3f copy_sync_s=%.3f peak_rss_mb=%.1f\n", r,
                  updates.back(), copies.back(), update.PeakMb);
      std::fflush(stdout);
    }
    const Spread update = SpreadOf(updates);
    const Spread copy = SpreadOf(copies);
    std::printf(
        "rows=%d update_s=%.3f update_min_s=%.3f update_max_s=%.3f copy_sync_s=%.3f "
        "update_vs_copy=%.3f folder_mb=%.1f peak_rss_mb=%.1f\n",
        rows, update.Median, update.Min, update.Max, copy.Median, update.Median / copy.Median,
        megaBytes, peak);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-update: %s\n", error.what());
  }
  return 1;
}
