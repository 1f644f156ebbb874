#!/usr/bin/env python3
"""Summary tables and the scaling plot of one benchmark run.

usage: plot_bench.py RESULTS_DIR [--png FILE] [--markdown FILE]

Reads ops.json, ops_lean_thr.json, scaling.json, threads.json,
threads_lean_thr.json and sim.json (Google Benchmark JSON, as
scripts/bench.sh writes them) from RESULTS_DIR and prints the tables: cost
per operation with its ratio to one bare client call of the same kind and
the library's own time beyond the client calls it makes; client calls per
operation beside the protocol's minimum; the scaling sweeps; discovery;
thread throughput; and the targets. Times are CPU times (medians when the
run had repetitions); thread throughput is items per wall-clock second.
With --png, draws the sweeps with gnuplot.
"""
import argparse
import json
import os
import subprocess
import sys
from collections import OrderedDict

TARGETS = {
    "dr_32_locked": 60.0,  # ns beyond the bare call
    "ir_locked": 80.0,
}
FLAT_LIMIT = 10.0  # percent


# Coefficient of variation of the CPU time over the repetitions, by run name.
CV = {}


def load(path):
    """Run name -> entry, preferring the median aggregate over single runs."""
    if not os.path.exists(path):
        return OrderedDict()
    with open(path) as f:
        data = json.load(f)
    runs = OrderedDict()
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "cv":
                CV[name] = b.get("cpu_time", 0.0)
            if b.get("aggregate_name") != "median":
                continue
            runs[name] = b
        elif name not in runs or runs[name].get("run_type") != "aggregate":
            if b.get("aggregate_name") in ("BigO", "RMS"):
                continue
            runs[name] = b
    # Complexity fits come as separate entries named ..._BigO / ..._RMS.
    for b in data.get("benchmarks", []):
        if b.get("aggregate_name") in ("BigO", "RMS") or b["name"].endswith(("_BigO", "_RMS")):
            runs[b["name"]] = b
    return runs


def ns(entry, field="cpu_time"):
    unit = entry.get("time_unit", "ns")
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[unit]
    return entry[field] * scale


def fmt(x, digits=1):
    if x is None:
        return "-"
    if abs(x) >= 1000:
        return f"{x:,.0f}"
    return f"{x:.{digits}f}"


def table(headers, rows):
    widths = [max(len(str(h)), *(len(str(r[i])) for r in rows)) if rows else len(str(h))
              for i, h in enumerate(headers)]
    out = ["| " + " | ".join(str(h).ljust(w) for h, w in zip(headers, widths)) + " |",
           "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for r in rows:
        out.append("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")
    return "\n".join(out)


# Library operations and what they are compared with: (baseline, equivalent).
OPS = OrderedDict([
    ("dr_32_locked", ("scx_dr_32", "scx_dr_32")),
    ("dr_32_unlocked", ("scx_dr_32", "seq_dr_32_unlocked")),
    ("dr_4096_locked", ("scx_dr_4096", "scx_dr_4096")),
    ("dr_4096_unlocked", ("scx_dr_4096", "seq_dr_4096_unlocked")),
    ("ir_locked", ("scx_dr_vir", "scx_dr_vir")),
    ("ir_unlocked", ("scx_dr_vir", "seq_ir_unlocked")),
    ("ir_capture_locked", ("scx_dr_vir", "scx_dr_vir")),
    ("ir_dr_locked", ("scx_dr_32", "seq_ir_dr_locked")),
    ("batch16_locked", ("scx_dr_32", "seq_batch16_locked")),
    ("batch16_unlocked", ("scx_dr_32", "seq_batch16_unlocked")),
    ("rti_locked", ("scx_rti", "scx_rti")),
    ("rti_unlocked", ("scx_rti", "seq_rti_unlocked")),
    ("hub_lock_unlock", ("scx_lock_unlock", "scx_lock_unlock")),
    ("node_open_close", (None, None)),
    ("hub_open_close_shared", ("scx_find_hardware", "scx_find_hardware")),
    ("get_device", ("scx_find_hardware", "seq_chain_read")),
    ("get_hardware", (None, "seq_get_hardware")),
    ("dr_32_log_locked", ("scx_dr_32", "scx_dr_32")),
    ("dr_4096_log_locked", ("scx_dr_4096", "scx_dr_4096")),
    ("ir_log_locked", ("scx_dr_vir", "scx_dr_vir")),
])


def ops_section(ops, lines):
    get = lambda n: ops.get("op/" + n)
    rows = []
    for name, (base, equiv) in OPS.items():
        e = get(name)
        if e is None:
            continue
        t = ns(e)
        b = get(base) if base else None
        q = get(equiv) if equiv else None
        rows.append([name, fmt(t), fmt(ns(b)) if b else "-",
                     f"{t / ns(b):.1f}x" if b else "-",
                     fmt(t - ns(q)) if q else fmt(t),
                     fmt(e.get("mallocs", 0), 2)])
    lines.append("### Cost per operation (null client)\n")
    lines.append(table(["operation", "ns/op", "bare call ns", "ratio", "library ns beyond its calls",
                        "allocs/op"], rows))
    lines.append("")
    lines.append("bare call: one client call of the same kind made directly; library ns: the operation "
                 "minus the same sequence of client calls made directly.\n")

    rows = []
    pairs = [("virtual DR scan 32", "dr_32_locked", "dr_32_unlocked"),
             ("virtual DR scan 4096", "dr_4096_locked", "dr_4096_unlocked"),
             ("virtual IR scan", "ir_locked", "ir_unlocked"),
             ("virtual IR then DR", "ir_dr_locked", None),
             ("batch of 16 DR", "batch16_locked", "batch16_unlocked"),
             ("run-test-idle", "rti_locked", "rti_unlocked"),
             ("hub lock + unlock", None, "hub_lock_unlock"),
             ("node open + close", None, "node_open_close"),
             ("hub open + close (already open)", None, "hub_open_close_shared"),
             ("get_device (unchanged chain)", None, "get_device"),
             ("get_hardware (unchanged cables)", None, "get_hardware"),
             ("DR 32 with scan log", "dr_32_log_locked", None)]
    for label, locked, unlocked in pairs:
        le, ue = get(locked) if locked else None, get(unlocked) if unlocked else None
        mins = [int(x["min_calls"]) for x in (le, ue) if x is not None]
        rows.append([label,
                     fmt(le["scx_calls"], 0) if le else "-",
                     fmt(ue["scx_calls"], 0) if ue else "-",
                     (f"{int(le['min_calls'])}" if le else "-") + " / " +
                     (f"{int(ue['min_calls'])}" if ue else "-"),
                     (le or ue).get("label", "")])
    lines.append("### Client calls per operation\n")
    lines.append(table(["operation", "under the hub lock", "without it", "minimum (locked / not)",
                        "calls (by function)"], rows))
    lines.append("")


def lean_section(ops, lean, lines):
    rows = []
    for name in OPS:
        a, b = ops.get("op/" + name), lean.get("op/" + name)
        if a and b:
            rows.append([name, fmt(ns(a)), fmt(ns(b)), fmt(ns(a) - ns(b))])
    if rows:
        lines.append("### The same operations with a lean thr_ library (bench/lean_thr)\n")
        lines.append(table(["operation", "ns with platform/thr", "ns with lean thr_", "thr_ difference ns"],
                           rows))
        lines.append("")


def sim_section(sim, lines):
    rows = [[name, fmt(ns(e))] for name, e in sim.items() if "_BigO" not in name and "_RMS" not in name]
    if rows:
        lines.append("### The simulated JTAG world alone (sld_sim_bench)\n")
        lines.append(table(["benchmark", "ns per call"], rows))
        lines.append("")


def flatness(values):
    base = values[0]
    return max(abs(v - base) / base * 100.0 for v in values)


def sweep(runs, family):
    """[(k, entry)] of one family, sorted by its argument."""
    out = []
    prefix = family + "/"
    for name, e in runs.items():
        if name.startswith(prefix) and name[len(prefix):].isdigit():
            out.append((int(name[len(prefix):]), e))
    return sorted(out)


def scaling_section(scal, lines, targets):
    lines.append("### Scaling sweeps\n")
    rows = []
    families = [("hub_ids/dr_32_locked", "open hub ids"), ("hub_ids/dr_32_unlocked", "open hub ids"),
                ("hub_ids/hub_open_close_shared", "open hub ids"),
                ("node_ids/dr_32_locked", "open node ids"), ("node_ids/dr_32_unlocked", "open node ids"),
                ("node_ids/node_open_close", "open node ids"),
                ("held_hubs/dr_32_locked", "hub locks held"),
                ("cables/get_hardware", "cables"), ("cables/get_device", "cables")]
    for fam, what in families:
        s = sweep(scal, fam)
        if not s:
            continue
        vals = [ns(e) for _, e in s]
        k0, kn = s[0][0], s[-1][0]
        spread = flatness(vals)
        end_change = abs(vals[-1] - vals[0]) / vals[0] * 100.0
        cvs = sorted(CV.get(f"{fam}/{k}", 0.0) * 100.0 for k, _ in s)
        noise = cvs[len(cvs) // 2] if cvs else 0.0
        # The point nearest half the last argument: the last doubling.
        ks = [k for k, _ in s]
        half_k = min(ks[:-1], key=lambda k: abs(2 * k - kn)) if len(ks) > 1 else None
        half = [vals[ks.index(half_k)]] if half_k else []
        doubling = f"{vals[-1] / half[0]:.2f}" if half else "-"
        rows.append([fam, what, f"{k0}..{kn}", fmt(vals[0]), fmt(vals[-1]), f"{end_change:.0f} %",
                     f"{spread:.0f} %", f"{noise:.0f} %", doubling])
        if fam in ("hub_ids/dr_32_locked", "hub_ids/dr_32_unlocked", "node_ids/dr_32_locked",
                   "node_ids/dr_32_unlocked"):
            # A change smaller than the run-to-run noise cannot be told from flat.
            if end_change <= FLAT_LIMIT:
                verdict = True
            elif end_change <= 2 * noise:
                verdict = None
            else:
                verdict = False
            targets.append((f"{fam} flat within {FLAT_LIMIT:.0f} % (first to last)",
                            f"{end_change:.0f} % (noise {noise:.0f} %)", verdict))
        if fam == "cables/get_hardware":
            ratio = vals[-1] / half[0] if half else None
            targets.append(("get_hardware linear in cables (last doubling ~2x)",
                            f"{ratio:.2f}x" if ratio else "-", ratio is not None and ratio < 2.5))
    lines.append(table(["sweep", "over", "range", "ns at first", "ns at last", "first to last",
                        "max deviation from first", "noise (median cv)", "last doubling ratio"], rows))
    lines.append("")
    for fam in ("cables/get_hardware", "cables/get_device"):
        big, rms = scal.get(fam + "_BigO"), scal.get(fam + "_RMS")
        if big and rms:
            lines.append(f"{fam}: linear fit {big.get('cpu_coefficient', 0):.1f} ns x N, "
                         f"RMS error of the fit {rms.get('rms', 0) * 100:.0f} %")
    lines.append("")

    d = sweep(scal, "discovery/hub_open_close")
    bare = dict(sweep(scal, "discovery/bare_calls"))
    if d:
        rows = []
        for k, e in d:
            b = bare.get(k)
            lib = ns(e) - ns(b) if b else None
            calls = e.get("scx_calls", 0)
            rows.append([k, fmt(calls, 0), fmt(e.get("expected_calls", 0), 0),
                         "yes" if e.get("sequence_ok") == 1 else "NO", fmt(ns(e)),
                         fmt(ns(b)) if b else "-", fmt(lib), fmt(lib / calls, 2) if lib is not None else "-"])
            if k == 255:
                targets.append(("discovery of 255 nodes: exactly the specified calls",
                                f"{calls:.0f} calls", e.get("sequence_ok") == 1))
        lines.append("### Hub open + close with discovery\n")
        lines.append(table(["nodes", "client calls", "expected", "sequence exact", "ns (library + calls)",
                            "ns (bare calls)", "library ns", "library ns per call"], rows))
        lines.append("")


def threads_section(thr, lines, title="Threads, each scanning its own hub (total throughput)"):
    rows = []
    for fam in ("threads/dr_32_unlocked", "threads/dr_32_locked_burst16", "threads/scx_dr_32"):
        per, switches = {}, {}
        for name, e in thr.items():
            if name.startswith(fam + "/") and "threads:" in name:
                n = int(name.rsplit("threads:", 1)[1])
                per[n] = e.get("items_per_second", 0)
                switches[n] = e.get("switches_per_scan")
        if not per:
            continue
        one = per.get(1)
        for n in sorted(per):
            sw = switches.get(n)
            rows.append([fam, n, f"{per[n] / 1e6:.2f}", f"{per[n] / one:.2f}" if one else "-",
                         f"{sw * 1000:.2f}" if sw is not None else "-"])
    if rows:
        lines.append(f"### {title}\n")
        lines.append(table(["benchmark", "threads", "M scans/s", "ratio to 1 thread",
                            "context switches per 1000 scans"], rows))
        lines.append("")


def targets_section(ops, targets, lines):
    get = lambda n: ops.get("op/" + n)
    for name, limit in TARGETS.items():
        e, b = get(name), get(OPS[name][1])
        if e and b:
            extra = ns(e) - ns(b)
            targets.append((f"{name}: under {limit:.0f} ns beyond the bare call", f"{extra:.1f} ns",
                            extra < limit))
    lk, ul = get("dr_32_locked"), get("dr_32_unlocked")
    bl, bu = get("scx_dr_32"), get("seq_dr_32_unlocked")
    if lk and ul and bl and bu:
        added = ns(ul) - ns(lk)
        bare_added = ns(bu) - ns(bl)
        targets.append(("unlocked DR adds only its lock calls (extra time vs the bare extra calls)",
                        f"+{added:.1f} ns vs +{bare_added:.1f} ns bare",
                        added - bare_added < 20.0))
    for name in ("dr_32_log_locked", "dr_4096_log_locked"):
        e = get(name)
        if e:
            targets.append((f"{name}: 2 allocations per scan (record + data)",
                            f"{e.get('mallocs', 0):.2f}", abs(e.get("mallocs", 0) - 2.0) < 0.01))
    lines.append("### Targets\n")
    verdicts = {True: "yes", False: "NO", None: "within noise"}
    lines.append(table(["target", "measured", "met"], [[t, m, verdicts[ok]] for t, m, ok in targets]))
    lines.append("")


def write_dat(path, rows):
    with open(path, "w") as f:
        for r in rows:
            f.write(" ".join(str(x) for x in r) + "\n")


def plot(scal, thr, png, workdir):
    os.makedirs(workdir, exist_ok=True)
    series = {}
    for fam in ("hub_ids/dr_32_locked", "hub_ids/dr_32_unlocked", "hub_ids/hub_open_close_shared",
                "node_ids/dr_32_locked", "node_ids/dr_32_unlocked", "node_ids/node_open_close",
                "held_hubs/dr_32_locked", "cables/get_hardware", "cables/get_device",
                "discovery/hub_open_close", "discovery/bare_calls"):
        s = sweep(scal, fam)
        if s:
            f = os.path.join(workdir, fam.replace("/", "_") + ".dat")
            write_dat(f, [(k, ns(e)) for k, e in s])
            series[fam] = f
    for fam in ("threads/dr_32_unlocked", "threads/dr_32_locked_burst16", "threads/scx_dr_32"):
        per = {}
        for name, e in thr.items():
            if name.startswith(fam + "/") and "threads:" in name:
                per[int(name.rsplit("threads:", 1)[1])] = e.get("items_per_second", 0)
        if per and per.get(1):
            f = os.path.join(workdir, fam.replace("/", "_") + ".dat")
            write_dat(f, [(n, per[n] / per[1]) for n in sorted(per)])
            series[fam] = f

    def lines_for(fams, titles):
        parts = []
        for fam, title in zip(fams, titles):
            if fam in series:
                parts.append(f"'{series[fam]}' using 1:2 with linespoints title '{title}'")
        return ", ".join(parts) if parts else "NaN notitle"

    # gnuplot's enhanced text takes "_" as a subscript: escape it.
    hw_titles = ["sld\\_get\\_hardware", "sld\\_get\\_device (last cable)"]
    hw_lines = lines_for(["cables/get_hardware", "cables/get_device"], hw_titles)
    script = f"""
set terminal pngcairo size 1500,1000 font ",10"
set output '{png}'
set multiplot layout 2,3 title "libsld.so over the null JTAG client: CPU time per operation"
set grid
set key top left
set logscale x 2
set xlabel "open hub ids"
set ylabel "ns per operation"
set yrange [0:*]
set title "Hub ids"
plot {lines_for(["hub_ids/dr_32_locked", "hub_ids/dr_32_unlocked", "hub_ids/hub_open_close_shared"],
                ["DR 32 locked", "DR 32 unlocked", "hub open+close (shared)"])}
set xlabel "open node ids"
set title "Node ids"
plot {lines_for(["node_ids/dr_32_locked", "node_ids/dr_32_unlocked", "node_ids/node_open_close"],
                ["DR 32 locked", "DR 32 unlocked", "node open+close"])}
set xlabel "hub locks held by the thread"
set title "Held hub locks (scan on the last locked)"
plot {lines_for(["held_hubs/dr_32_locked"], ["DR 32 locked"])}
set logscale xy 2
set yrange [*:*]
set xlabel "cables"
set ylabel "ns per call"
set title "Hardware list (log-log; slope 1 = linear)"
plot {hw_lines}, \\
     x*200 with lines dashtype 2 title "linear reference"
unset logscale
set yrange [0:*]
set xrange [0:*]
set xlabel "nodes behind the hub"
set ylabel "ns per open+close"
set title "Discovery (hub open + close)"
plot {lines_for(["discovery/hub_open_close", "discovery/bare_calls"], ["library + client calls", "the same client calls, bare"])}
set logscale x 2
set xrange [*:*]
set xlabel "threads"
set ylabel "throughput relative to 1 thread"
set title "Threads, each on its own hub"
set yrange [0:*]
plot {lines_for(["threads/dr_32_unlocked", "threads/dr_32_locked_burst16", "threads/scx_dr_32"],
                ["DR 32 unlocked", "DR 32 locked, bursts of 16", "bare client call"])}
unset multiplot
"""
    gp = os.path.join(workdir, "scaling.gp")
    with open(gp, "w") as f:
        f.write(script)
    subprocess.run(["gnuplot", gp], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("results")
    ap.add_argument("--png")
    ap.add_argument("--markdown")
    args = ap.parse_args()

    ops = load(os.path.join(args.results, "ops.json"))
    lean = load(os.path.join(args.results, "ops_lean_thr.json"))
    scal = load(os.path.join(args.results, "scaling.json"))
    thr = load(os.path.join(args.results, "threads.json"))
    thr_lean = load(os.path.join(args.results, "threads_lean_thr.json"))
    sim = load(os.path.join(args.results, "sim.json"))
    if not (ops or scal or thr):
        sys.exit(f"no results in {args.results}")

    lines, targets = [], []
    if ops:
        ops_section(ops, lines)
    if ops and lean:
        lean_section(ops, lean, lines)
    if scal:
        scaling_section(scal, lines, targets)
    if thr:
        threads_section(thr, lines)
    if thr_lean:
        threads_section(thr_lean, lines, "The same with the lean thr_ library")
    if sim:
        sim_section(sim, lines)
    if ops:
        targets_section(ops, targets, lines)
    text = "\n".join(lines)
    print(text)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text + "\n")
    if args.png:
        plot(scal, thr, os.path.abspath(args.png), os.path.join(args.results, "plot"))
        print(f"plot: {args.png}")


if __name__ == "__main__":
    main()
