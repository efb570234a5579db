#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ and runs them.
#   scripts/fuzz.sh                    every target for 60 seconds
#   scripts/fuzz.sh TARGET [SECONDS]   one target (data_file, index_file,
#                                      blob_file, lock_file, registry_file,
#                                      table_names, value_text), or "all"
# Each run starts from seeds written by the engine's own writers
# (build-fuzz/seeds/) and keeps what it learns in build-fuzz/corpus/. A
# crash, a leak, an input taking more than 1 s or more than 256 MiB fails
# the run; libFuzzer leaves the input as build-fuzz/findings/<target>/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(data_file index_file blob_file lock_file registry_file table_names value_text)
target=${1:-all}
seconds=${2:-60}
if [ "$target" != all ]; then
  if [[ ! " ${targets[*]} " =~ " $target " ]]; then
    echo "fuzz.sh: unknown target '$target' (one of: ${targets[*]}, all)" >&2
    exit 2
  fi
  targets=("$target")
fi

bash scripts/install-deps.sh fuzz

build_dir=${BUILD_DIR:-build-fuzz}
extra=()
if [ "${CI:-}" = true ]; then
  extra+=(-DSTRATA_WERROR=ON)
fi
# Optimised (RelWithDebInfo): the sanitizers and the coverage counters stay,
# and the targets run several times as many inputs a second as unoptimised.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTRATA_SANITIZE=ON -DSTRATA_FUZZ=ON -DSTRATA_BUILD_TESTS=OFF -DSTRATA_BUILD_BENCH=OFF \
  "${extra[@]}" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target fuzz_seeds "${targets[@]/%/_fuzz}"

# The table targets run on a simulated disk in memory; the registry target
# writes a real file for every input: memory is quickest.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
# A small quarantine: the default one holds 256 MiB of freed memory, which
# the memory limit would count against the input. Two frames of the stack of
# each allocation: recording the whole stack of every allocation took a
# fifth of the time of the table targets. To see where a finding's memory
# came from, run its input again with ASAN_OPTIONS=malloc_context_size=30.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16:malloc_context_size=2}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
rm -rf "$build_dir/seeds"
"$build_dir/bin/fuzz_seeds" "$build_dir/seeds"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build_dir/corpus/$t" "$build_dir/findings/$t"
  echo "== fuzz $t for ${seconds}s"
  # -entropic=0: the entropic schedule weighs every coverage feature after
  # every input, a quarter of the time of the table targets, whose inputs
  # reach thousands of features; the plain schedule runs twice as many.
  if ! "$build_dir/bin/${t}_fuzz" -max_total_time="$seconds" -entropic=0 -timeout=1 -rss_limit_mb=256 \
      -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$build_dir/findings/$t/" \
      "$build_dir/corpus/$t" "$build_dir/seeds/$t" 2>"$build_dir/findings/$t/log"; then
    tail -n 60 "$build_dir/findings/$t/log" >&2
    status=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb" "$build_dir/findings/$t/log" || true
done
exit $status
