// PowerCutRecorder: while a run changes a simulated disk, collects the
// states a power cut could leave at chosen moments. The moments are every
// sync (of a file or a folder), the operation just before each sync (when
// the most is unsynced) and every n-th other operation. At each moment it
// takes what the disk shows if everything issued survived, if only what was
// synced survived, a number of random parts of what was not synced (see
// SimulatedDisk::PowerCut), and, after a write, that write torn. States seen
// before (the same folders, names and bytes) are kept once.
//
// The scale in the environment variable STRATA_POWER_CUT_SCALE (a whole
// number, 1 when unset) multiplies the random states and the other
// operations taken; scripts/powercut.sh runs the sweeps with a large one.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "tests/support/simulated_disk.h"

namespace strata::testing {

// STRATA_POWER_CUT_SCALE, at least 1.
int PowerCutScale();

class PowerCutRecorder {
 public:
  struct Plan {
    int RandomStates = 3;  // random parts of the unsynced changes at each moment
    int Every = 1;         // besides the syncs, every n-th operation (0: none)
    std::uint64_t Seed = 20261210;
  };
  struct CrashState {
    std::string Moment;  // the operation and the kind of state, for traces
    DiskImage Image;
  };

  // Observes the disk until destroyed; the disk must outlive it.
  PowerCutRecorder(SimulatedDisk& disk, Plan plan);
  ~PowerCutRecorder();
  PowerCutRecorder(const PowerCutRecorder&) = delete;
  PowerCutRecorder& operator=(const PowerCutRecorder&) = delete;

  // Distinct states in the order taken.
  const std::vector<CrashState>& States() const { return states_; }
  int Moments() const { return moments_; }
  int Taken() const { return taken_; }  // before duplicates were dropped

 private:
  void Take(const DiskOperation& operation);
  std::vector<CrashState> StatesNow(const DiskOperation& operation);
  void Keep(std::vector<CrashState> states);

  SimulatedDisk& disk_;
  Plan plan_;
  std::mt19937_64 random_;
  std::vector<CrashState> states_;
  std::unordered_set<std::uint64_t> seen_;
  // The states of the last operation, kept until the next one says whether
  // it is a sync.
  std::vector<CrashState> previous_;
  bool previousKept_ = true;
  int moments_ = 0;
  int taken_ = 0;
};

}  // namespace strata::testing
