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

# The programs, found by their RUNPATH alone; sldtool's man page and its
# bash completion, which offers the commands and options the tool has.
for program in sldtool sldsim sldtap; do
  test -x "$prefix/bin/$program" || { echo "$program not installed" >&2; exit 1; }
done
env -u LD_LIBRARY_PATH -u SCX_SIM_BOARD -u SCX_OPENOCD "$prefix/bin/sldtool" list | grep -q '^cable SimCable-1 ' ||
  { echo "the installed sldtool does not list the default board" >&2; exit 1; }
env -u LD_LIBRARY_PATH "$prefix/bin/sldsim" --help | grep -q remote_bitbang ||
  { echo "the installed sldsim does not run" >&2; exit 1; }
env -u LD_LIBRARY_PATH "$prefix/bin/sldtap" --help | grep -q remote_bitbang ||
  { echo "the installed sldtap does not run" >&2; exit 1; }
man=$prefix/share/man/man1/sldtool.1
test -f "$man" || { echo "sldtool.1 not installed (help2man was missing when the build was configured?)" >&2; exit 1; }
for part in '^\.SH COMMANDS' '^\.SS "sldtool batch"' 'timeout' '^\.SS "Exit codes:"'; do
  grep -q -e "$part" "$man" || { echo "sldtool.1 lacks $part" >&2; exit 1; }
done
completion=$prefix/share/bash-completion/completions/sldtool
test -f "$completion" || { echo "bash completion of sldtool not installed" >&2; exit 1; }
completed() {
  PATH="$prefix/bin:$PATH" bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _sldtool; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
expect_completion() {
  local want=$1; shift
  got=$(completed "$@")
  [ "$got" = "$want" ] || { echo "completing '$*': got '$got', want '$want'" >&2; exit 1; }
}
expect_completion "list ir dr batch" sldtool ""
expect_completion "--timeout" sldtool dr -c x --ti
expect_completion "--json" sldtool --js
expect_completion "" sldtool ir -c ""
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
