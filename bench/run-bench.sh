#!/usr/bin/env bash
# Builds the benchmarks in a Release tree of their own (build-bench/) and runs them beside
# their peers. OpenCV, the resize peer, is needed by nothing else in the kit, so it is installed
# here and only here.
#   bench/run-bench.sh [program...] [-- benchmark options]   default: every benchmark program
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${KIT_BUILD_PACKAGES[@]}" "${KIT_TEST_PACKAGES[@]}" libopencv-imgproc-dev

# The tests' programs are built too: the scripted server plays the event source.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DWG_BUILD_BENCH=ON >/dev/null
programs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do programs+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
[ ${#programs[@]} -gt 0 ] || programs=(pipe_bench rpc_bench server_bench identify_bench matcher_bench local_bench ventolog_bench)
nice cmake --build build-bench -j"$(nproc)" --target "${programs[@]}"
for p in "${programs[@]}"; do
  echo "== $p"
  "build-bench/bin/$p" --benchmark_counters_tabular=true "$@"
done
