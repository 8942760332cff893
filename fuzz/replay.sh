#!/usr/bin/env bash
# Replays every fuzz target's corpus once (no fuzzing): each input must run clean.
#
#   fuzz/replay.sh [BUILD_DIR]   default build-fuzz (configured with -DWG_FUZZ=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  echo "Replaying fuzz/corpus/$target"
  if ! log=$("$build/bin/fuzz_$target" -runs=0 -max_len=70000 "$corpus" 2>&1); then
    echo "$log" | tail -40
    exit 1
  fi
done
