#!/usr/bin/env bash
# A timed fuzzing campaign: builds the targets (build-fuzz/, clang), then fuzzes each for the
# given seconds, at most two at a time and under `nice`. New inputs go to
# build-fuzz/campaign/TARGET/ (the seeds in fuzz/corpus/TARGET/ are read, never written), crash
# and timeout inputs to build-fuzz/campaign/TARGET-*, and each target's log to
# build-fuzz/campaign/TARGET.log.
#
#   fuzz/run-campaign.sh [SECONDS] [TARGET...]   default 600 s, every target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  for corpus in fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi

source scripts/ensure-packages.sh
ensure_packages "${KIT_FUZZ_PACKAGES[@]}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DWG_FUZZ=ON -DWG_BUILD_TESTS=OFF >/dev/null
nice cmake --build build-fuzz --target wg_fuzzers -j2

out=build-fuzz/campaign
mkdir -p "$out"
run_target() {
  local target=$1
  mkdir -p "$out/$target"
  echo "Fuzzing $target for $seconds s"
  # A call that waits on a time-out of its own (a second or two) is no hang; 60 s is.
  local status=0
  nice "build-fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=60 -max_len=24000 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$out/$target-" \
    "$out/$target" "fuzz/corpus/$target" >"$out/$target.log" 2>&1 || status=$?
  echo "$target: exit status $status, $(grep -c '^#' "$out/$target.log") status lines," \
    "$(ls "$out/$target-"* 2>/dev/null | wc -l) artifact(s)"
  # A run that crashed leaves its scratch folder behind.
  for scratch in /dev/shm/wg-fuzz-*; do
    [ -e "$scratch" ] || continue
    kill -0 "${scratch##*-}" 2>/dev/null || rm -rf "$scratch"
  done
  return "$status"
}

failed=0
running=0
for target in "${targets[@]}"; do
  if ((running == 2)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
