#!/usr/bin/env bash
# The power-cut sweeps with many more states than the tests take: table
# creation, the three restructure levels, repair and a whole update, each
# run on the simulated disk, every state a power cut could leave recovered
# and checked (docs/journal.md).
#   scripts/powercut.sh [SCALE]   SCALE times the random states at every
#                                 moment and the operations taken besides
#                                 the syncs (10 by default)
# Prints each sweep's counts and their total; fails when a state does.
set -euo pipefail
cd "$(dirname "$0")/.."

scale=${1:-10}
if ! [[ "$scale" =~ ^[1-9][0-9]*$ ]]; then
  echo "powercut.sh: SCALE is a whole number from 1, not '$scale'" >&2
  exit 2
fi

bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target restructure_test verify_test tools_test

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export STRATA_POWER_CUT_SCALE=$scale
status=0
for run in "restructure_test:*PowerCut*" "verify_test:*PowerCut*" "tools_test:*PowerCut*"; do
  "$build_dir/bin/${run%%:*}" --gtest_filter="${run#*:}" --gtest_brief=1 >>"$log" 2>&1 || status=1
done
grep -E "^\[power cut\]|Failure|refused|FAILED" "$log" || true
awk '/^\[power cut\]/ {
       for (i = 1; i <= NF; ++i) {
         if ($(i + 1) == "recovered") checked += $i
         if ($(i + 1) == "failed") failed += $i
       }
     }
     END { printf "power cut, scale '"$scale"': %d states recovered and checked, %d failed\n", checked, failed }' "$log"
exit $status
