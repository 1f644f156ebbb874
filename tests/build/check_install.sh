#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a small consumer from
# it twice: with pkg-config and with find_package(sld). The consumer runs
# against the simulated JTAG world.
set -euo pipefail
build=$1 consumer=$2 scxsim=$3 thr=$4 bits=$5
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
m32=""
[ "$bits" = 32 ] && m32="-m32"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libsld.so.1' | head -n 1)")
test -L "$libdir/libsld.so" && test -L "$libdir/libsld.so.1" || { echo "SONAME links missing" >&2; exit 1; }
test -f "$prefix/include/sld.h" || { echo "header not installed" >&2; exit 1; }
runtime="$libdir:$(dirname "$scxsim"):$(dirname "$thr")"

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc $m32 -std=c99 -Wall -Wextra -Werror "$consumer/consumer.c" -o "$prefix/consumer-pc" \
  $(pkg-config --cflags --libs sld) "$scxsim" "$thr"
LD_LIBRARY_PATH="$runtime" "$prefix/consumer-pc"

# find_package
cmake -S "$consumer" -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$m32" -DCMAKE_EXE_LINKER_FLAGS="$m32" \
  -DSCX_LIBRARY="$scxsim" -DTHR_LIBRARY="$thr" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
LD_LIBRARY_PATH="$runtime" "$prefix/consumer-build/consumer"
echo "install ok"
