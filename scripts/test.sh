#!/usr/bin/env bash
# Every test: the suite on x86-64, on 32-bit x86, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer; then the fuzzers and
# the suite once under valgrind memcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
total=0
for preset in x64 x86 asan tsan; do
  [ "$preset" = x86 ] && scripts/run-i386.sh
  echo "=== $preset: build"
  cmake --preset "$preset" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  if ! cmake --build --preset "$preset" >"$work/build.log" 2>&1; then
    cat "$work/build.log"
    exit 1
  fi
  grep -E "warning:" "$work/build.log" || true
  echo "=== $preset: test"
  status=0
  ctest --preset "$preset" >"$work/ctest.log" 2>&1 || status=$?
  grep -vE "^ +[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ +Start +[0-9]+:" "$work/ctest.log" || true
  [ "$status" -eq 0 ] || { echo "=== $preset: tests failed"; exit 1; }
  count=$(grep -oE "tests failed out of [0-9]+" "$work/ctest.log" | awk '{print $NF}')
  total=$((total + ${count:-0}))
done

for extra in scripts/fuzz.sh scripts/fuzz_openocd.sh scripts/memcheck.sh; do
  if [ -x "$extra" ]; then
    echo "=== $extra"
    "$extra"
  fi
done

echo "all: $total passed, 0 failed"
