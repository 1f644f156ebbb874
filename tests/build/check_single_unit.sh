#!/usr/bin/env bash
# The library builds from its one translation unit with nothing but the two
# include directories, for 32-bit x86 and for x86-64.
set -euo pipefail
src=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$src"
c++ -shared -fPIC -m32 -Iinclude -Isrc src/dur_urer__all.cpp -o "$out/libsld32.so"
c++ -shared -fPIC -Iinclude -Isrc src/dur_urer__all.cpp -o "$out/libsld.so"
readelf -h "$out/libsld32.so" | grep -q "Class: *ELF32" || { echo "the -m32 build is not 32-bit" >&2; exit 1; }
echo "single-unit builds ok"
