#!/usr/bin/env bash
# Builds the model-based fuzzer (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, clang) against the library's sources and the
# simulated JTAG world, runs it from the seed corpus for FUZZ_SECONDS
# (default 60), and fails on a crash, a leak or a model mismatch. Prints the
# executions and the coverage reached: libFuzzer's edge count and the line
# coverage of src/ over the corpus the run ends with.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-60}

# Debian packages this needs (llvm-14 for the coverage figures); installed
# when missing and running as root.
missing=()
for p in clang libclang-rt-14-dev llvm-14; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "fuzz: missing packages (need root to install): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cxx=$(command -v clang++-14 || command -v clang++)
llvm_bin=/usr/lib/llvm-14/bin
out=$root/build/fuzz
mkdir -p "$out/obj" "$out/cov" "$out/artifacts"

includes=(-Iinclude -Isrc -Iplatform/tap -Iplatform/scx/sim -Iplatform/scx/openocd -Iplatform/scx -Iplatform/thr -Itests/fuzz)
base=(-std=c++17 -g -O1 -DSLD_TESTING=1 -Wall -Wextra -pthread "${includes[@]}")
sanitize=(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
# The library and the driver guide the fuzzer; the simulator is only checked.
guided=(src/dur_urer__all.cpp tests/fuzz/catalog.cpp tests/fuzz/model.cpp tests/fuzz/driver.cpp
        tests/fuzz/driver_ops.cpp tests/fuzz/driver_world.cpp tests/fuzz/fuzz_target.cpp
        tests/reliability/api_status.cpp)
plain=(platform/tap/tap.cpp platform/scx/core/*.cpp platform/scx/sim/*.cpp platform/scx/openocd/*.cpp platform/thr/thr.cpp)

# compile <flavour> <extra flags...> -- <sources...>: objects in build/fuzz/<flavour>, in parallel.
compile() {
  local flavour=$1; shift
  local flags=()
  while [ "$1" != "--" ]; do flags+=("$1"); shift; done
  shift
  local pids=() objects=()
  for src in "$@"; do
    local obj="$out/$flavour/$(echo "$src" | tr '/' '_').o"
    objects+=("$obj")
    if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find src platform tests/fuzz tests/reliability include \
          -newer "$obj" -name '*.h' -print -quit)" ]; then
      rm -f "$obj"
      "$cxx" "${base[@]}" "${flags[@]}" -c "$src" -o "$obj" &
      pids+=($!)
      if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
    fi
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
  printf '%s\n' "${objects[@]}"
}

echo "fuzz: building"
mapfile -t objects < <(compile obj "${sanitize[@]}" -fsanitize=fuzzer-no-link -- "${guided[@]}";
                       compile obj "${sanitize[@]}" -- "${plain[@]}")
"$cxx" "${base[@]}" "${sanitize[@]}" -fsanitize=fuzzer "${objects[@]}" -o "$out/sld_fuzzer"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
echo "fuzz: running for ${seconds}s from $(ls tests/fuzz/corpus | wc -l) seeds"
status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  "$out/sld_fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -max_len=2048 \
  -print_final_stats=1 -artifact_prefix="$out/artifacts/" "$work/corpus" tests/fuzz/corpus \
  >"$work/log" 2>&1 || status=$?
# The library's own consistency messages go to stderr; leave them out.
grep -vE '^(scx_error == |name_len > 0)' "$work/log" >"$out/last-run.log" || true
if [ "$status" -ne 0 ] || grep -qE 'MODEL MISMATCH|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' \
     "$out/last-run.log"; then
  tail -n 80 "$out/last-run.log"
  echo "fuzz: FAILED (exit $status); the input is in $out/artifacts/, the log in $out/last-run.log"
  exit 1
fi
execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$out/last-run.log" | awk '{print $2}')
edges=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$out/last-run.log" | tail -n 1)
inputs=$(ls "$work/corpus" | wc -l)
echo "fuzz: ${execs:-?} executions in ${seconds}s, no crash and no model mismatch; final $edges;" \
     "corpus grew by $inputs inputs"

# Line coverage of the library over the corpus the run ended with.
if [ -x "$llvm_bin/llvm-cov" ] && [ -x "$llvm_bin/llvm-profdata" ]; then
  coverage=(-fprofile-instr-generate -fcoverage-mapping)
  mapfile -t objects < <(compile cov "${coverage[@]}" -fsanitize=fuzzer-no-link -- "${guided[@]}";
                         compile cov -- "${plain[@]}")
  "$cxx" "${base[@]}" "${coverage[@]}" -fsanitize=fuzzer "${objects[@]}" -o "$out/sld_fuzzer_cov"
  LLVM_PROFILE_FILE="$work/fuzz.profraw" "$out/sld_fuzzer_cov" -runs=0 "$work/corpus" tests/fuzz/corpus \
    >/dev/null 2>&1 || true
  "$llvm_bin/llvm-profdata" merge -sparse "$work/fuzz.profraw" -o "$work/fuzz.profdata"
  "$llvm_bin/llvm-cov" report "$out/sld_fuzzer_cov" -instr-profile="$work/fuzz.profdata" \
    -ignore-filename-regex='(platform|tests|usr)/' >"$out/coverage.txt"
  total=$(grep '^TOTAL' "$out/coverage.txt" | awk '{print "regions " $4 ", functions " $7 ", lines " $10 ", branches " $13}')
  echo "fuzz: coverage of src/ by the corpus: $total (per file: $out/coverage.txt)"
fi
