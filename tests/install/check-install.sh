#!/usr/bin/env bash
# Checks an installed kit the way an application developer uses it: the layout, the public
# header as C and as C++, the example program built through pkg-config and through CMake's
# find_package, and run against the installed server.
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "install check: $*" >&2; exit 1; }

for f in include/whorlgate.h lib/libwgrpc.so lib/pkgconfig/wgrpc.pc lib/cmake/Whorlgate/WhorlgateConfig.cmake \
  bin/WGServer bin/wgsensor; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
example="$here/../../docs/examples/hello_whorlgate.c"
cc -std=c99 -Wall -Wextra -Werror "$example" $(pkg-config --cflags --libs wgrpc) \
  -Wl,-rpath,"$prefix/lib" -o "$work/hello_whorlgate"
c++ -std=c++17 -Wall -Werror -x c++ $(pkg-config --cflags wgrpc) -c "$example" -o "$work/cxx.o"

cmake -S "$here/cmake-consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null

# Run it in a namespace and registry of its own: the library starts the installed WGServer.
export WHORLGATE_OBJECT_DIR="$work/objects"
export WHORLGATE_MACHINE_REGISTRY="$work/machine.reg"
export WHORLGATE_USER_REGISTRY="$work/user.reg"
export WHORLGATE_SERVER_STORE="$work/users.db"
# A quick simulated user, so that the example's enrollment takes a second or two.
"$prefix/bin/wgsensor" pace --frame-ms 20 --delay-ms 50 >/dev/null || fail "wgsensor failed"
output=$("$work/hello_whorlgate" 2>&1) || fail "the example failed: $output"
for line in 'template size 2384' 'enrolled hello, template 2384 bytes' 'identified hello (Hello World)' \
  'the finger matches the kept template'; do
  grep -qxF "$line" <<<"$output" || fail "no \"$line\" in: $output"
done
grep -q "\"WGServer\"=\"$prefix/bin/WGServer\"" "$work/machine.reg" || fail "server path not stored"
pkill -TERM -f "^$prefix/bin/WGServer" || true
echo "install check: layout, header (C and C++), pkg-config and find_package builds, example run (enroll, identify, verify): all fine"
