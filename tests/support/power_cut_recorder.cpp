#include "tests/support/power_cut_recorder.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace strata::testing {

namespace {

bool IsSync(DiskOperation::Kind kind) {
  return kind == DiskOperation::Kind::SyncFile || kind == DiskOperation::Kind::SyncFolder;
}

std::string Describe(const DiskOperation& operation) {
  std::string text = "after operation " + std::to_string(operation.Number) + " (" +
                     KindName(operation.What) + " " + operation.Path;
  if (!operation.Target.empty()) text += " -> " + operation.Target;
  return text + ")";
}

}  // namespace

int PowerCutScale() {
  const char* text = std::getenv("STRATA_POWER_CUT_SCALE");
  if (text == nullptr) return 1;
  const long scale = std::strtol(text, nullptr, 10);
  return scale >= 1 ? static_cast<int>(scale) : 1;
}

PowerCutRecorder::PowerCutRecorder(SimulatedDisk& disk, Plan plan)
    : disk_(disk), plan_(plan), random_(plan.Seed) {
  const int scale = PowerCutScale();
  plan_.RandomStates *= scale;
  if (plan_.Every > 0) plan_.Every = std::max(1, plan_.Every / scale);
  disk_.OnOperation = [this](const DiskOperation& operation) { Take(operation); };
}

PowerCutRecorder::~PowerCutRecorder() { disk_.OnOperation = nullptr; }

std::vector<PowerCutRecorder::CrashState> PowerCutRecorder::StatesNow(
    const DiskOperation& operation) {
  const std::string moment = Describe(operation);
  std::vector<CrashState> states;
  states.push_back({moment + ": everything issued", disk_.Issued()});
  states.push_back({moment + ": only what was synced", disk_.Synced()});
  static constexpr double kSurvival[] = {0.5, 0.25, 0.75};
  for (int i = 0; i < plan_.RandomStates; ++i) {
    const double survival = kSurvival[i % 3];
    states.push_back({moment + ": random part " + std::to_string(i + 1),
                      disk_.PowerCut(random_, survival, false)});
  }
  if (operation.What == DiskOperation::Kind::Write) {
    states.push_back({moment + ": the write torn", disk_.PowerCut(random_, 1.0, true)});
    states.push_back(
        {moment + ": the write torn, a random part of the rest", disk_.PowerCut(random_, 0.5, true)});
  }
  return states;
}

void PowerCutRecorder::Keep(std::vector<CrashState> states) {
  ++moments_;
  for (CrashState& state : states) {
    ++taken_;
    if (seen_.insert(state.Image.Fingerprint()).second) states_.push_back(std::move(state));
  }
}

void PowerCutRecorder::Take(const DiskOperation& operation) {
  const bool sync = IsSync(operation.What);
  // The moment just before a sync holds the most that is not yet durable.
  if (sync && !previousKept_) Keep(std::move(previous_));
  previous_.clear();
  const bool every = plan_.Every > 0 && operation.Number % plan_.Every == 0;
  std::vector<CrashState> now = StatesNow(operation);
  if (sync || every) {
    Keep(std::move(now));
    previousKept_ = true;
  } else {
    previous_ = std::move(now);
    previousKept_ = false;
  }
}

}  // namespace strata::testing
