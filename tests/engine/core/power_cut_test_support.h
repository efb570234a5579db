// Helpers for the power-cut sweeps of the engine core: an engine of its own
// over a folder of a simulated disk, a change run once on a disk holding a
// starting image while a PowerCutRecorder takes the states a power cut
// could leave, and the sweep's counts.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_session.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/support/power_cut_recorder.h"
#include "tests/support/simulated_disk.h"

namespace strata::testing {

// An engine of its own on a disk, with one folder open: nothing of it
// stays open once it goes.
struct DiskDatabase {
  DiskDatabase(platform::FileSystem& disk, const std::string& path,
               const std::string& privatePath = {})
      : engine(disk) {
    UseQuickLocks(engine);
    engine.Activate();
    TDataSession& session = QuickSession(engine);
    if (!privatePath.empty()) session.SetPrivateDirectory(privatePath);
    directory = &session.OpenDirectory("powercut", path);
  }
  TDataEngine engine;
  TDataDirectory* directory = nullptr;
};

struct PowerCutRun {
  std::vector<PowerCutRecorder::CrashState> States;
  DiskImage After;  // everything the run did
  int Moments = 0;
  int Taken = 0;
};

// Runs change once on a disk holding before (durably), taking the states of
// the plan.
inline PowerCutRun RunWithPowerCuts(const DiskImage& before, const PowerCutRecorder::Plan& plan,
                                    const std::function<void(SimulatedDisk&)>& change) {
  SimulatedDisk disk(before);
  PowerCutRun run;
  {
    PowerCutRecorder recorder(disk, plan);
    change(disk);
    run.States = recorder.States();
    run.Moments = recorder.Moments();
    run.Taken = recorder.Taken();
  }
  run.After = disk.Issued();
  return run;
}

// One line for the test's output, the counts the long run adds up.
inline void ReportSweep(const std::string& name, const PowerCutRun& run, int checked,
                        int failures) {
  std::cout << "[power cut] " << name << ": " << run.Moments << " moments, " << run.Taken
            << " states taken, " << run.States.size() << " distinct, " << checked
            << " recovered and checked, " << failures << " failed\n";
}

}  // namespace strata::testing
