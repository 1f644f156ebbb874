#!/usr/bin/env bash
# Fuzzes the OpenOCD backend's reply parsing (libFuzzer with
# AddressSanitizer and UndefinedBehaviorSanitizer, clang): replies, scan
# answers and scan_chain tables, from the seed corpus, for
# FUZZ_OPENOCD_SECONDS (default 20). Fails on a crash, an overrun or a
# broken parser promise. Needs the packages scripts/fuzz.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_OPENOCD_SECONDS:-20}
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
  echo "fuzz_openocd: clang++ is missing (scripts/fuzz.sh installs it)" >&2
  exit 1
fi
out=build/fuzz
mkdir -p "$out/openocd-artifacts"
dir=platform/scx/openocd
echo "fuzz_openocd: building"
"$cxx" -std=c++17 -g -O1 -Wall -Wextra -I"$dir" \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
  tests/fuzz/openocd/reply_fuzz_target.cpp "$dir/reply.cpp" "$dir/scan_hex.cpp" "$dir/chain_listing.cpp" \
  -o "$out/openocd_reply_fuzzer"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "fuzz_openocd: running for ${seconds}s"
status=0
ASAN_OPTIONS=detect_leaks=1 "$out/openocd_reply_fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=70000 \
  -print_final_stats=1 -artifact_prefix="$out/openocd-artifacts/" "$work" tests/fuzz/openocd/corpus \
  >"$work/log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$work/log"; then
  tail -n 40 "$work/log"
  echo "fuzz_openocd: FAILED (exit $status); the input is in $out/openocd-artifacts/"
  exit 1
fi
execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$work/log" | awk '{print $2}')
edges=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -n 1)
echo "fuzz_openocd: ${execs:-?} executions in ${seconds}s, no crash; final $edges"
