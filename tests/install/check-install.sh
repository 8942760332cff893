#!/usr/bin/env bash
# Checks an installed kit the way an application developer uses it: the layout, the public
# header as C and as C++, and linking through pkg-config and through CMake's find_package.
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "install check: $*" >&2; exit 1; }

for f in include/whorlgate.h lib/libwgrpc.so lib/pkgconfig/wgrpc.pc lib/cmake/Whorlgate/WhorlgateConfig.cmake; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -Wall -Werror $(pkg-config --cflags wgrpc) -c "$here/consumer.c" -o "$work/c.o"
c++ -std=c++17 -Wall -Werror -x c++ $(pkg-config --cflags wgrpc) -c "$here/consumer.c" -o "$work/cxx.o"
cc "$work/c.o" -o "$work/consumer" $(pkg-config --libs wgrpc) -Wl,-rpath,"$prefix/lib"

cmake -S "$here/cmake-consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
echo "install check: layout, header (C and C++), pkg-config and find_package all fine"
