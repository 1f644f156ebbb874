#!/usr/bin/env bash
# Benchmarks: configures and builds the "bench" preset (x86-64, Release),
# runs every benchmark program with JSON output into build/bench/results/,
# prints the summary tables and draws docs/bench-scaling.png.
#
#   scripts/bench.sh            # 5 repetitions, medians (a few minutes)
#   scripts/bench.sh --quick    # 1 repetition, short runs (a check, not a figure)
#   scripts/bench.sh --openocd  # only sld_openocd_bench (OpenOCD's figures, about a minute)
#
# Nothing here fails on a slow result: the tables say which targets are met.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=5
min_time=0.2
openocd_only=0
if [ "${1:-}" = "--quick" ]; then
  repetitions=1
  min_time=0.02
elif [ "${1:-}" = "--openocd" ]; then
  openocd_only=1
fi

# Packages the benchmarks need, installed when missing (needs root).
need=(cmake g++ libbenchmark-dev gnuplot-nox python3 googletest libgtest-dev nlohmann-json3-dev libcli11-dev
      openocd)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: missing packages (installing them needs root): ${missing[*]}" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset bench >/dev/null
if [ "$openocd_only" = 1 ]; then
  cmake --build --preset bench --target sld_openocd_bench
  mkdir -p build/bench/results
  build/bench/bench/sld_openocd_bench | tee build/bench/results/openocd.txt
  exit 0
fi
cmake --build --preset bench --target sld_benchmarks

out=build/bench/results
mkdir -p "$out"
rm -f "$out"/*.json "$out"/*.txt

# Repetitions run interleaved in random order, so that a change in the
# machine's load spreads over all benchmarks instead of biasing a few; the
# tables use the medians.
flags=(--benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time")
if [ "$repetitions" -gt 1 ]; then
  flags+=(--benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true)
fi

run() { # name program
  echo "=== $2"
  "build/bench/bench/$2" "${flags[@]}" --benchmark_out="$out/$1.json" --benchmark_out_format=json |
    tee "$out/$1.txt"
}

run ops sld_ops_bench
run ops_lean_thr sld_ops_bench_lean_thr
run scaling sld_scaling_bench
run threads sld_thread_bench
run threads_lean_thr sld_thread_bench_lean_thr
if [ -x build/bench/bench/sld_sim_bench ]; then
  run sim sld_sim_bench
fi
# sldsim and OpenOCD in their own processes: not a Google Benchmark program.
echo "=== sld_sldsim_bench"
if [ "$repetitions" -gt 1 ]; then
  build/bench/bench/sld_sldsim_bench | tee "$out/sldsim.txt"
else
  build/bench/bench/sld_sldsim_bench --quick | tee "$out/sldsim.txt"
fi
# The OpenOCD backend: round trips per operation, throughput with and without
# the hub lock against a bare client (loopback and 1 ms each way), lock
# hand-over between processes, a hung second server.
echo "=== sld_openocd_bench"
if [ "$repetitions" -gt 1 ]; then
  build/bench/bench/sld_openocd_bench | tee "$out/openocd.txt"
else
  build/bench/bench/sld_openocd_bench --rounds 4 --block 20 | tee "$out/openocd.txt"
fi

echo
echo "=== summary (CPU time per operation; medians of $repetitions repetitions)"
mkdir -p docs
python3 scripts/plot_bench.py "$out" --markdown "$out/summary.md" --png docs/bench-scaling.png
