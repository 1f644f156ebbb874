#!/usr/bin/env python3
"""gdb `load` through sldtap on the simulated softcore board: bytes per second,
and the share of the load's wall time that the sldtap process spent on the CPU.

    bench/softcore_load.py [BUILD_DIR] [--baseline DIR] [--runs N] [--split] [--openocd]

BUILD_DIR (default build/x64) must hold tools/sldtap and
examples/softcore/softcore.elf (targets sldtap and softcore_elf). For each of
two images, the example program and a 32 KiB image of pseudo-random words
built here with objcopy, it starts sldtap (--board examples/boards/softcore.json)
and OpenOCD (examples/softcore/openocd.cfg) on free ports of 127.0.0.1, runs
gdb-multiarch in batch mode, times `load` inside gdb, and reads sldtap's CPU
time (user + system, /proc) before and after it. That raw share is an upper
bound of what sldtap itself adds to each round trip: it includes the library
and the simulated world in its process and the kernel's work for its socket
(reads, writes that wake the client, sleeping in poll), which any
remote_bitbang server pays. --split runs two more 32 KiB loads: one under
`perf record` (cpu-clock samples, kernel included) that splits the process's
CPU time by object, giving the share of the round trip spent in sldtap's own
code, and one under callgrind that splits its user-space instructions.
--baseline DIR measures a second build's tools/sldtap too, each load
alternating between the two, for before/after figures from one run.
With --openocd, sldtap reaches the board through the OpenOCD backend instead:
sldsim serves it and an adapter-side OpenOCD (Tcl RPC) drives sldsim. Every
wait is bounded; every process is ended by its pid.
"""
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import time
from collections import defaultdict

import callgrind_parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BOARD = os.path.join(ROOT, "examples", "boards", "softcore.json")
OPENOCD_CFG = os.path.join(ROOT, "examples", "softcore", "openocd.cfg")
IMAGE_BYTES = 32 * 1024
RAM_BASE = 0x80000000


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and proc.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def ready_line(proc, timeout):
    """sldtap's "remote_bitbang 127.0.0.1:PORT" line, read with a deadline."""
    import select
    deadline = time.monotonic() + timeout
    line = b""
    while time.monotonic() < deadline and not line.endswith(b"\n"):
        ready, _, _ = select.select([proc.stdout], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        byte = os.read(proc.stdout.fileno(), 1)
        if not byte:
            break
        line += byte
    return line.decode(errors="replace").strip()


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(2)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(2)


def instructions_by_object(callgrind_out):
    """Self instructions of the sldtap process, grouped by what runs them."""
    per_obj, _ = callgrind_parse.parse(callgrind_out)
    groups = {}
    for obj, n in per_obj.items():
        name = os.path.basename(obj or "?")
        label = ("sldtap" if name == "sldtap" else "libsld.so" if name.startswith("libsld")
                 else "libscx.so (simulated world or OpenOCD client)" if name.startswith("libscx")
                 else "libthr.so" if name.startswith("libthr") else "libc, libstdc++, ld.so")
        groups[label] = groups.get(label, 0) + n
    return groups


def need(program):
    for d in os.environ.get("PATH", "").split(":"):
        if os.access(os.path.join(d or ".", program), os.X_OK):
            return
    sys.exit(f"error: {program} not found (scripts/install-deps.sh --test installs it; perf: --bench)")


def make_image(directory):
    """A 32 KiB loadable ELF of pseudo-random words at the RAM base."""
    raw = os.path.join(directory, "image.bin")
    elf = os.path.join(directory, "image32k.elf")
    rng = random.Random(21)
    with open(raw, "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(IMAGE_BYTES)))
    subprocess.run(["riscv64-unknown-elf-objcopy", "-I", "binary", "-O", "elf32-littleriscv",
                    "--change-section-address", f".data={RAM_BASE:#x}",
                    "--set-section-flags", ".data=alloc,load,contents", raw, elf],
                   check=True, timeout=30)
    return elf


# Times `load` inside gdb and reads sldtap's CPU time (every thread's
# schedstat, nanoseconds) just before and after it. Under callgrind the
# instrumentation is switched on for the load only; perf is attached to
# sldtap for the load only.
GDB_SCRIPT = """set confirm off
set pagination off
target extended-remote 127.0.0.1:{port}
python
import glob, subprocess, time
def tap_cpu_ns():
    return sum(int(open(f).read().split()[0]) for f in glob.glob("/proc/{pid}/task/*/schedstat"))
perf = None
def profile(switch):
    global perf
    if "{profiler}" == "callgrind":
        subprocess.run(["callgrind_control", "-i", switch, "{pid}"], capture_output=True, timeout=60)
    elif "{profiler}" == "perf" and switch == "on":
        perf = subprocess.Popen(["perf", "record", "-q", "-e", "cpu-clock", "-F", "10000", "-o", "{perf_out}",
                                 "-p", "{pid}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)  # attached
    elif perf:
        perf.send_signal(signal.SIGINT)
        perf.wait(60)
import os, signal
def stats():
    if "{profiler}" == "none":
        os.kill({pid}, signal.SIGUSR1)
        time.sleep(0.2)
stats()
profile("on")
c0, t0 = tap_cpu_ns(), time.monotonic()
end
load
python
t1, c1 = time.monotonic(), tap_cpu_ns()
profile("off")
stats()
print("LOAD_SECONDS %.6f CPU_SECONDS %.6f" % (t1 - t0, (c1 - c0) / 1e9))
end
detach
"""


class AdapterSide:
    """The OpenOCD backend's side: sldsim serving the board and an OpenOCD
    server for it with a Tcl RPC port, which sldtap then uses."""

    def __init__(self, build):
        self.sim = subprocess.Popen([os.path.join(build, "tools", "sldsim"), "--board", BOARD, "--port", "0"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.ocd = None
        line = ready_line(self.sim, 10)
        if not line.startswith("remote_bitbang 127.0.0.1:"):
            self.close()
            raise RuntimeError("sldsim did not start: " + repr(line))
        self.tcl_port = free_port()
        self.ocd = subprocess.Popen(["openocd", "-c", "adapter driver remote_bitbang", "-c", "remote_bitbang host 127.0.0.1",
                                     "-c", "remote_bitbang port " + line.rsplit(":", 1)[1], "-c", "adapter speed 1000",
                                     "-c", "bindto 127.0.0.1", "-c", f"tcl_port {self.tcl_port}", "-c", "gdb_port disabled",
                                     "-c", "telnet_port disabled", "-c", "init"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(self.tcl_port, self.ocd, 20):
            self.close()
            raise RuntimeError("the adapter-side openocd did not open its Tcl port")

    def node_args(self):
        server = f"127.0.0.1:{self.tcl_port}"
        return ["--openocd", server, "-c", "openocd@" + server, "-d", "@1", "-n", "0"]

    def close(self):
        if self.ocd:
            stop(self.ocd)
        stop(self.sim)


SIM_NODE_ARGS = ["--board", BOARD, "-c", "SimCable-1", "-d", "@1", "-n", "0"]


def one_load(build, elf, workdir, node_args, callgrind_out=None, perf_out=None):
    gdb_port = free_port()
    command = [os.path.join(build, "tools", "sldtap")] + node_args + ["--port", "0"]
    profiler = "callgrind" if callgrind_out else "perf" if perf_out else "none"
    if callgrind_out:
        command = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + callgrind_out] + command
    tap = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ocd = None
    try:
        line = ready_line(tap, 60)
        if not line.startswith("remote_bitbang 127.0.0.1:"):
            raise RuntimeError("sldtap did not start: " + repr(line))
        tap_port = int(line.rsplit(":", 1)[1])
        ocd = subprocess.Popen(["openocd", "-c", f"set SLDTAP_PORT {tap_port}", "-c", f"set GDB_PORT {gdb_port}",
                                "-f", OPENOCD_CFG], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(gdb_port, ocd, 20):
            raise RuntimeError("openocd did not open its gdb port")
        script = os.path.join(workdir, "load.gdb")
        with open(script, "w") as f:
            f.write(GDB_SCRIPT.format(port=gdb_port, pid=tap.pid, profiler=profiler, perf_out=perf_out))
        out = subprocess.run(["gdb-multiarch", "-nx", "-batch", "-x", script, elf],
                             capture_output=True, text=True, timeout=600).stdout
        seconds = cpu = size = None
        for line in out.splitlines():
            if line.startswith("LOAD_SECONDS"):
                words = line.split()
                seconds, cpu = float(words[1]), float(words[3])
            if "load size" in line:
                size = int(line.rsplit("load size", 1)[1].split()[0].rstrip(","))
        if seconds is None or size is None:
            raise RuntimeError("gdb did not load:\n" + out)
        scans = 0
        if profiler == "none":  # sldtap's stats lines from before and after the load
            counts = [dict(w.split("=", 1) for w in ready_line(tap, 5).split()[1:] if "=" in w) for _ in range(2)]
            scans = int(counts[1].get("debugger_dr_scans", 0)) - int(counts[0].get("debugger_dr_scans", 0))
        return size, seconds, cpu, scans
    finally:
        if ocd:
            stop(ocd)
        stop(tap)


def time_by_object(perf_out):
    """Shares of the sldtap process's CPU time by object, from perf's samples."""
    out = subprocess.run(["perf", "report", "-i", perf_out, "--no-children", "--sort", "dso", "-g", "none",
                          "--stdio", "-q"], capture_output=True, text=True, timeout=120).stdout
    groups = defaultdict(float)
    for line in out.splitlines():
        words = line.split()
        if len(words) != 2 or not words[0].endswith("%"):
            continue
        share, name = float(words[0].rstrip("%")), os.path.basename(words[1])
        label = ("kernel (socket reads and writes, waking the client, poll, scheduling)" if name.startswith("[kernel")
                 else "sldtap (its own code)" if name == "sldtap" else "libsld.so" if name.startswith("libsld")
                 else "libscx.so (simulated world or OpenOCD client)" if name.startswith("libscx")
                 else "libthr.so" if name.startswith("libthr") else "libc, libstdc++, ld.so, vdso")
        groups[label] += share
    if not groups:
        raise RuntimeError("perf recorded no samples of sldtap (perf_event_paranoid too high?)")
    if not any(label.startswith("kernel") for label in groups):
        raise RuntimeError("perf recorded no kernel samples: the split would leave out the kernel's share")
    return groups


def main():
    args = sys.argv[1:]
    runs = 3
    split, openocd = "--split" in args, "--openocd" in args
    for flag in ("--split", "--openocd"):
        if flag in args:
            args.remove(flag)
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    builds = []
    if "--baseline" in args:
        i = args.index("--baseline")
        builds.append(("baseline", os.path.abspath(args[i + 1])))
        del args[i:i + 2]
    build = os.path.abspath(args[0] if args else os.path.join(ROOT, "build", "x64"))
    builds.insert(0, ("this build", build))
    for program in ("openocd", "gdb-multiarch", "riscv64-unknown-elf-objcopy") + (("perf", "valgrind") if split else ()):
        need(program)
    example = os.path.join(build, "examples", "softcore", "softcore.elf")
    if not os.path.exists(example):
        sys.exit(f"error: {example} missing: cmake --build {build} --target softcore_elf")
    for _, b in builds:
        if not os.access(os.path.join(b, "tools", "sldtap"), os.X_OK):
            sys.exit(f"error: {b}/tools/sldtap missing")
    adapter = AdapterSide(build) if openocd else None
    node_args = adapter.node_args() if adapter else SIM_NODE_ARGS
    try:
        measure(builds, example, runs, split, node_args)
    finally:
        if adapter:
            adapter.close()


def measure(builds, example, runs, split, node_args):
    with tempfile.TemporaryDirectory() as workdir:
        images = [("example program", example), ("32 KiB image", make_image(workdir))]
        label = len(builds) > 1
        print(("| sldtap " if label else "") + "| Image | Bytes | Load s (median of %d) | Bytes/s | Debugger DR scans "
              "| µs per scan | sldtap process CPU / load wall time |" % runs)
        print("|---" * (8 if label else 7) + "|")
        for name, elf in images:
            results = {b: [] for _, b in builds}
            for _ in range(runs):  # alternating, so that both builds see the same load of the machine
                for _, b in builds:
                    results[b].append(one_load(b, elf, workdir, node_args))
            for build_name, b in builds:
                size, seconds, cpu, scans = sorted(results[b], key=lambda r: r[1])[runs // 2]
                per_scan = 1e6 * seconds / scans if scans else float("nan")
                print((f"| {build_name} " if label else "") +
                      f"| {name} | {size} | {seconds:.3f} | {size / seconds:,.0f} | {scans} | {per_scan:.1f} "
                      f"| {100 * cpu / seconds:.1f} % |")
        if not split:
            return
        for build_name, b in builds:
            out = os.path.join(workdir, "perf.data")
            _, seconds, cpu, _ = one_load(b, images[1][1], workdir, node_args, perf_out=out)
            groups = time_by_object(out)
            raw = 100 * cpu / seconds
            own = groups.get("sldtap (its own code)", 0.0)
            print()
            print(f"CPU time of the sldtap process ({build_name}) during a 32 KiB load under perf, by object "
                  f"(cpu-clock samples); that load's raw share (process CPU / load wall time) is {raw:.1f} %:")
            print()
            print("| Object | Share of sldtap's CPU time | Share of the load's wall time |")
            print("|---|---|---|")
            for obj, share in sorted(groups.items(), key=lambda kv: -kv[1]):
                print(f"| {obj} | {share:.1f} % | {raw * share / 100:.2f} % |")
            print()
            print(f"sldtap's own code: {raw * own / 100:.2f} % of each round trip ({build_name}).")
        for build_name, b in builds:
            out = os.path.join(workdir, "callgrind.out")
            one_load(b, images[1][1], workdir, node_args, callgrind_out=out)
            groups = instructions_by_object(out)
            total = sum(groups.values())
            print()
            print(f"Instructions of the sldtap process ({build_name}) during the 32 KiB load "
                  "(callgrind, user space only, self counts):")
            print()
            print("| Object | Instructions | Share |")
            print("|---|---|---|")
            for obj, n in sorted(groups.items(), key=lambda kv: -kv[1]):
                print(f"| {obj} | {n:,} | {100 * n / total:.1f} % |")


if __name__ == "__main__":
    main()
