#!/usr/bin/env bash
# Installs what is missing, builds the project and runs every test.
#   scripts/run-tests.sh              normal build in build/
#   SANITIZE=1 scripts/run-tests.sh   AddressSanitizer + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

sanitize=${SANITIZE:-0}
if [ "$sanitize" = 1 ]; then
  build_dir=${BUILD_DIR:-build-sanitize}
  extra=(-DSTRATA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DSTRATA_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  build_dir=${BUILD_DIR:-build}
  extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
if [ "${CI:-}" = true ]; then
  extra+=(-DSTRATA_WERROR=ON)
fi

export QT_QPA_PLATFORM=offscreen
cmake -S . -B "$build_dir" -G Ninja "${extra[@]}"
cmake --build "$build_dir" --parallel "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" --timeout 600
