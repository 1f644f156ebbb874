#!/usr/bin/env bash
# Instructions per operation, by shared object, from valgrind --tool=callgrind:
# how many the library (libsld.so) itself executes, beside those of the
# null JTAG client (libscxnull.so), the thr_ library (libthr.so) and the C
# library beneath them (pthread mutexes, thread keys, malloc, string
# functions).
#
#   scripts/callgrind.sh                      # every operation, 20000 iterations each
#   scripts/callgrind.sh -n 5000 dr_32_locked ir_locked
#   scripts/callgrind.sh --functions dr_32_locked   # also the top functions
#   scripts/callgrind.sh --sweeps             # instructions at the ends of each scaling sweep
#   scripts/callgrind.sh --lean-thr ...       # with the lean bench-only thr_ library
#
# Each operation runs in sld_callgrind_driver inside one function,
# sld_bench_measured, and only that function is counted
# (--toggle-collect), so setup, warm-up and teardown are left out. Self
# instructions are summed per object and divided by the iteration count.
# The JTAG client's instructions are in its own object, so the libsld.so
# column is the library's cost beyond its client calls. Instruction counts
# do not depend on the machine's load, unlike times. Raw files stay in
# build/bench/results/callgrind/.
set -euo pipefail
cd "$(dirname "$0")/.."

iterations=20000
functions=0
sweeps=0
driver_name=sld_callgrind_driver
ops=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) iterations=$2; shift 2 ;;
    --functions) functions=1; shift ;;
    --sweeps) sweeps=1; shift ;;
    --lean-thr) driver_name=sld_callgrind_driver_lean_thr; shift ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) ops+=("$1"); shift ;;
  esac
done

# The benchmark build, its tools and valgrind; python3 sums the counts.
scripts/install-deps.sh --bench
if ! command -v python3 >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3 >/dev/null
fi

driver=build/bench/bench/$driver_name
cmake --preset bench >/dev/null
cmake --build --preset bench --target "$driver_name" >/dev/null

out=build/bench/results/callgrind
mkdir -p "$out"

# Runs: "label|driver options|operation"
runs=()
if [ "$sweeps" -eq 1 ]; then
  [ "$iterations" -gt 2000 ] && iterations=2000
  for k in 1 128; do
    for op in dr_32_locked dr_32_unlocked; do
      runs+=("hub ids $k|--devices 128 --open-hubs $k|$op")
    done
  done
  for k in 1 127; do runs+=("hub ids $k|--devices 128 --open-hubs $k|hub_open_close_shared"); done
  for k in 1 512; do
    for op in dr_32_locked dr_32_unlocked; do runs+=("node ids $k|--nodes 255 --open-nodes $k|$op"); done
  done
  for k in 1 511; do runs+=("node ids $k|--nodes 255 --open-nodes $k|node_open_close"); done
  for k in 1 16 128; do runs+=("held locks $k|--devices 128 --open-hubs $k --held-hubs $k|dr_32_locked"); done
  for c in 1 2 4 8 16 32 64 128 256; do
    runs+=("cables $c|--cables $c|get_hardware")
  done
  for c in 1 16 256; do runs+=("cables $c|--cables $c|get_device"); done
else
  if [ ${#ops[@]} -eq 0 ]; then
    mapfile -t ops < <("$driver" --list | awk '{print $1}')
  fi
  for op in "${ops[@]}"; do runs+=("||$op"); done
fi

files=()
for run in "${runs[@]}"; do
  IFS='|' read -r label options op <<<"$run"
  file="$out/${op}${options// /}.out"
  # shellcheck disable=SC2086
  valgrind --tool=callgrind --toggle-collect=sld_bench_measured --callgrind-out-file="$file" \
    "$driver" $options "$op" "$iterations" >"${file%.out}.log" 2>&1 ||
    { echo "error: $op $options failed under callgrind, see ${file%.out}.log" >&2; exit 1; }
  files+=("$label|$op|$file")
done

python3 - "$iterations" "$functions" "$driver_name" "${files[@]}" <<'EOF'
import os, re, sys
from collections import defaultdict

sys.path.insert(0, "bench")
from callgrind_parse import parse

iterations, functions, driver_name = int(sys.argv[1]), sys.argv[2] == "1", sys.argv[3]
runs = [a.split("|", 2) for a in sys.argv[4:]]

def group(obj):
    base = os.path.basename(obj or "?")
    for prefix, label in (("libsld.so", "libsld.so"), ("libscxnull", "libscxnull.so"),
                          ("libthrlean", "libthr.so"), ("libthr", "libthr.so"), ("libc.so", "libc"),
                          ("libpthread", "libc"), ("ld-linux", "ld.so"), ("libstdc++", "libstdc++"),
                          ("libgcc", "libstdc++")):
        if base.startswith(prefix):
            return label
    return "driver" if base.startswith("sld_callgrind_driver") else base

cols = ["libsld.so", "libscxnull.so", "libthr.so", "libc", "libstdc++", "ld.so", "driver"]
rows, details = [], {}
for label, op, path in runs:
    per_obj, per_fn = parse(path)
    g = defaultdict(int)
    for obj, n in per_obj.items():
        g[group(obj)] += n
    key = (label + " " if label else "") + op
    rows.append((label, op, {k: g.get(k, 0) / iterations for k in cols}, sum(g.values()) / iterations))
    details[key] = sorted(((n / iterations, group(o), f) for (o, f), n in per_fn.items() if n), reverse=True)

thr = "lean bench-only thr_" if "lean" in driver_name else "platform/thr"
print(f"Instructions per operation ({iterations} iterations each, self cost by object; thr_ library: {thr})\n")
head = (["world"] if any(r[0] for r in rows) else []) + ["operation"] + cols + ["total", "libthr+libc+ld.so"]
table = []
for label, op, g, total in rows:
    cells = ([label] if head[0] == "world" else []) + [op] + [f"{g[c]:.0f}" for c in cols]
    cells += [f"{total:.0f}", f"{g['libthr.so'] + g['libc'] + g['ld.so']:.0f}"]
    table.append(cells)
widths = [max(len(h), *(len(r[i]) for r in table)) for i, h in enumerate(head)]
print("| " + " | ".join(h.ljust(w) for h, w in zip(head, widths)) + " |")
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for cells in table:
    print("| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |")

if functions:
    for key, items in details.items():
        print(f"\n{key}: functions with the most self instructions per operation")
        for n, obj, fn in items[:25]:
            if n >= 0.5:
                print(f"  {n:8.1f}  {obj:14s} {fn}")
EOF
