#!/usr/bin/env bash
# Builds the kit and runs its whole test suite.
#
#   ./test.sh              plain build (build/), all tests, then an install check
#   ./test.sh --sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   ./test.sh --all        both, one after the other (what CI runs)
#
# The suite replays the fuzz targets' corpora too (fuzz/); fuzzing itself: fuzz/run-campaign.sh.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages "${KIT_BUILD_PACKAGES[@]}" "${KIT_TEST_PACKAGES[@]}"

jobs=$(nproc)
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j"$jobs"
  # Many tests wait on other processes or on time-outs rather than on the CPU.
  ctest --test-dir "$dir" -j"$((jobs * 3))" --output-on-failure --timeout 300
}

install_check() {
  local dir=$1 prefix
  prefix=$(mktemp -d)
  cmake --install "$dir" --prefix "$prefix" >/dev/null
  tests/install/check-install.sh "$prefix"
  rm -rf "$prefix"
}

mode=${1:-plain}
case "$mode" in
  plain) run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo; install_check build ;;
  --sanitize) run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DWG_SANITIZE=ON ;;
  --all)
    run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    install_check build
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DWG_SANITIZE=ON
    ;;
  *) echo "usage: ./test.sh [--sanitize|--all]" >&2; exit 2 ;;
esac
echo "All tests passed ($mode)."
