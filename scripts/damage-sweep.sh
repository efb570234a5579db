#!/usr/bin/env bash
# The long run of the random-damage sweep: damage of every kind to each file
# of a table with every field type and index kind, a repair, then the
# engine's verification and a check written apart from it must both accept
# the table (tests/engine/core/verify/damage_sweep_test.cpp).
#   scripts/damage-sweep.sh                  1000 rounds, the fixed seed
#   scripts/damage-sweep.sh ROUNDS [SEED]    as many rounds, another seed
#   SANITIZE=1 scripts/damage-sweep.sh ...   in the AddressSanitizer build
# A failing round prints its seed and round; STRATA_DAMAGE_SEED=S
# STRATA_DAMAGE_ROUND=R with the test binary replays it alone.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-1000}
seed=${2:-20250611}

if [ "${SANITIZE:-0}" = 1 ]; then
  build_dir=${BUILD_DIR:-build-sanitize}
  extra=(-DSTRATA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DSTRATA_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  build_dir=${BUILD_DIR:-build}
  extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
if [ ! -f "$build_dir/build.ninja" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B "$build_dir" -G Ninja "${extra[@]}" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target verify_test

STRATA_LONG_RUN=1 STRATA_DAMAGE_ROUNDS="$rounds" STRATA_DAMAGE_SEED="$seed" \
  "$build_dir/bin/verify_test" --gtest_filter='DamageSweepTest.*'
