#!/usr/bin/env bash
# Builds the kit and runs it: a terminal follows the trace pipe while an application loads the
# client library, which starts WGServer, and enrolls, identifies and verifies a finger on the
# simulated sensor; then everything stops.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages "${KIT_BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWG_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target wgrpc WGServer wgsensor wgtrace hello_whorlgate

# A namespace and registry of this run's own, so a kit already running here is left alone.
run=$(mktemp -d /dev/shm/whorlgate-run-XXXXXX)
export WHORLGATE_OBJECT_DIR="$run/objects"
export WHORLGATE_MACHINE_REGISTRY="$run/machine.reg"
export WHORLGATE_USER_REGISTRY="$run/user.reg"
export WHORLGATE_SERVER_STORE="$run/users.db"
cleanup() {
  pkill -TERM -f "^$PWD/build/bin/WGServer" 2>/dev/null || true
  kill "${follower:-}" 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT

# Every category but the pipes' own ("OS Pipe", 0x02000000), which trace each look at a pipe.
echo "== trace records as they arrive (tick, where, type, text)"
build/bin/wgtrace follow --idle-exit 1500 --where 0xFDFFFFFF &
follower=$!
sleep 0.3
echo "== the application"
build/bin/hello_whorlgate
wait "$follower"
