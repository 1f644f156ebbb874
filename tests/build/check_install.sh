#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds programs from it alone:
# the consumer with pkg-config and with find_package(sld), and the README's
# C example, unchanged, with pkg-config. Each runs against the installed
# libraries only (the simulated JTAG world).
set -euo pipefail
build=$1 consumer=$2 readme=$3 bits=$4
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
m32=""
[ "$bits" = 32 ] && m32="-m32"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libsld.so.1' | head -n 1)")
test -L "$libdir/libsld.so" && test -L "$libdir/libsld.so.1" || { echo "SONAME links missing" >&2; exit 1; }
for header in sld.h sld_status.h; do
  test -f "$prefix/include/$header" || { echo "$header not installed" >&2; exit 1; }
done
for lib in libscx.so libthr.so; do
  test -f "$libdir/$lib" || { echo "$lib not installed" >&2; exit 1; }
done
export LD_LIBRARY_PATH="$libdir"
export PKG_CONFIG_PATH="$libdir/pkgconfig"

# pkg-config alone gives the link line.
# shellcheck disable=SC2046
cc $m32 -std=c99 -Wall -Wextra -Werror "$consumer/consumer.c" -o "$prefix/consumer-pc" \
  $(pkg-config --cflags --libs sld)
"$prefix/consumer-pc"

# The first C block of the README's "Using the installed library" section.
awk '/^## / { inside = ($0 == "## Using the installed library") }
     inside && /^```c$/ { code = 1; next }
     code && /^```$/ { exit }
     code { print }' "$readme" >"$prefix/example.c"
test -s "$prefix/example.c" || { echo "no C example in $readme" >&2; exit 1; }
# shellcheck disable=SC2046
cc $m32 -std=c99 -Wall -Wextra -Werror -pedantic "$prefix/example.c" -o "$prefix/example" \
  $(pkg-config --cflags --libs sld)
"$prefix/example"

# find_package
cmake -S "$consumer" -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$m32" -DCMAKE_EXE_LINKER_FLAGS="$m32" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
"$prefix/consumer-build/consumer"
echo "install ok"
