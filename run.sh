#!/usr/bin/env bash
# The kit's main job: builds it and walks through it in a terminal with wgcli against the
# server's simulated sensor, showing the server's traces as they come; on a desktop the trace
# viewer Ventolog opens beside it and stays open. The users it enrolls stay
# in the kit's store (docs/server.md says where), so wgcli can be used on them afterwards; a
# second run starts afresh with the same two users.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages "${KIT_BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target wgrpc WGServer wgsensor wgcli wgtrace hello_whorlgate Ventolog

bin=$PWD/build/bin
walk=$(mktemp -d)
started_server=no
pgrep -f "^$bin/WGServer" >/dev/null || started_server=yes
cleanup() {
  kill "${follower:-}" 2>/dev/null || true
  # A server this run started goes with it; one that was running already stays.
  [ "$started_server" = no ] || pkill -TERM -f "^$bin/WGServer" 2>/dev/null || true
  rm -rf "$walk"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }
cli() {
  printf '$ wgcli'
  printf ' %q' "$@"
  printf '\n'
  "$bin/wgcli" "$@"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  step "the trace viewer shows every part of the kit"
  setsid "$bin/Ventolog" >/dev/null 2>&1 &
fi

# The server's side of the conversation: its requests, the sensor and the matching.
"$bin/wgcli" trace --where 0x29000000 | sed -u 's/^/    | /' &
follower=$!
sleep 0.3

step "the simulated user presents whatever each capture asks for"
"$bin/wgsensor" auto
"$bin/wgcli" delete ada >/dev/null 2>&1 || true
"$bin/wgcli" delete grace >/dev/null 2>&1 || true

step "enroll two users"
cli enroll ada --finger 1 --name "Ada Lovelace" --save "$walk/ada.rec"
cli enroll grace --finger 2 --name "Grace Hopper"

step "validate a claimed user, identify by the finger alone, verify against a saved template"
cli validate ada
cli identify
cli verify "$walk/ada.rec"

step "the users in the store"
cli list
cli info grace

step "capture an image to a file"
cli capture "$walk/finger.bmp" --dpi 500
file "$walk/finger.bmp" 2>/dev/null || ls -l "$walk/finger.bmp"

step "a stranger's finger is not taken for anyone"
"$bin/wgsensor" finger stranger/1 >/dev/null
cli identify || echo "(exit status $?: no match)"
"$bin/wgsensor" auto >/dev/null

sleep 0.5
step "done: the users stay enrolled; try 'build/bin/wgcli --help'"
