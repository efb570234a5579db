// Cost of one key comparison under "ANSI Standard" (0) and English (United
// Kingdom) (2057), on keys of about 16 characters that share a prefix, as
// index keys of one table do.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/locale/collation.h"

namespace {

std::vector<std::string> Keys() {
  std::vector<std::string> keys;
  const char* stems[] = {"Anderson, Marie", "anderson, Marc", "Andersen, Mark", "Andr\xE9s, Mar\xED" "a",
                         "Anders-Smith, A", "Andersson, Max", "ANDERSON, MARIA", "Anderton, Mary"};
  for (const char* stem : stems) keys.emplace_back(stem);
  return keys;
}

void CompareKeys(benchmark::State& state, std::uint32_t id, bool ignoreCase) {
  const auto keys = Keys();
  const auto collation = strata::Collation::For(id);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = keys[i % keys.size()];
    const auto& b = keys[(i + 3) % keys.size()];
    benchmark::DoNotOptimize(collation.Compare(a, b, ignoreCase));
    ++i;
  }
}

void ThroughId(benchmark::State& state, std::uint32_t id) {
  const auto keys = Keys();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = keys[i % keys.size()];
    const auto& b = keys[(i + 3) % keys.size()];
    benchmark::DoNotOptimize(strata::CollateCompare(id, a, b, false));
    ++i;
  }
}

BENCHMARK_CAPTURE(CompareKeys, ansi, 0u, false);
BENCHMARK_CAPTURE(CompareKeys, ansi_ignore_case, 0u, true);
BENCHMARK_CAPTURE(CompareKeys, en_gb, 2057u, false);
BENCHMARK_CAPTURE(CompareKeys, en_gb_ignore_case, 2057u, true);
BENCHMARK_CAPTURE(ThroughId, ansi, 0u);
BENCHMARK_CAPTURE(ThroughId, en_gb, 2057u);

}  // namespace

BENCHMARK_MAIN();
