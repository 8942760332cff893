#!/usr/bin/env bash
# Builds the kit and runs it: today the trace facility end to end, a reader process following
# the trace pipe while a producer process traces into it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages "${KIT_BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"

export WHORLGATE_OBJECT_DIR=${WHORLGATE_OBJECT_DIR:-/dev/shm/whorlgate-run-$$}
echo "Following the trace pipe (objects in $WHORLGATE_OBJECT_DIR):"
build/bin/wgtrace follow --idle-exit 1500 &
follower=$!
sleep 0.3
build/bin/wgtrace emit --where 0x04000000 --type 0x1 "Hello from a tracing process" --repeat 5
build/bin/wgtrace emit --where 0x02000000 --type 0x40000000 "A critical line from another process"
wait "$follower"
rm -rf "$WHORLGATE_OBJECT_DIR"
