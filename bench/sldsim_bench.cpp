// sldsim under load: how many remote_bitbang bytes per second it processes
// from a client that pipelines on loopback, and the round trip of a 32-bit
// drscan through OpenOCD's Tcl RPC port with the share of it that sldsim
// spends processing (its own busy-time counter, read with SIGUSR1). Prints
// one table; scripts/bench.sh runs it.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "openocd_harness.h"

using harness::Ms;
using Clock = std::chrono::steady_clock;

namespace {

struct Stats {
    double bytes = 0, busy_ns = 0;
};

// sldsim's counters, from the line it prints on SIGUSR1.
bool read_stats(harness::Sldsim &sim, Stats *s) {
    ::kill(sim.process.pid(), SIGUSR1);
    std::string line;
    unsigned long long bytes = 0, replies = 0, busy = 0;
    if (!sim.process.read_line(&line, Ms(5000)) ||
        std::sscanf(line.c_str(), "stats bytes=%llu replies=%llu busy_ns=%llu", &bytes, &replies, &busy) != 3)
        return false;
    s->bytes = double(bytes);
    s->busy_ns = double(busy);
    return true;
}

// The requests of one DR scan of `bits` bits from Run-Test/Idle back to it,
// as OpenOCD sends them: three bytes per bit.
std::string dr_scan_requests(size_t bits) {
    std::string r = "26"
                    "04"
                    "04"; // Select-DR-Scan, Capture-DR, Shift-DR
    for (size_t i = 0; i < bits; ++i)
        r += i + 1 < bits ? (i % 3 ? "0R4" : "1R5") : "2R6";
    return r + "26"
               "04";
}

int throughput(harness::Sldsim &sim, size_t total_bytes) {
    const int fd = harness::connect_loopback(sim.port(), Ms(5000));
    if (fd < 0)
        return 1;
    const std::string scan = dr_scan_requests(1024);
    const size_t replies_per_scan = std::count(scan.begin(), scan.end(), 'R');
    const size_t scans = total_bytes / scan.size();
    std::string block;
    for (size_t i = 0; i < 64; ++i)
        block += scan;
    Stats before, after;
    read_stats(sim, &before);
    const auto start = Clock::now();
    std::thread writer([&] {
        for (size_t sent = 0; sent < scans; sent += 64)
            if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) != ssize_t(block.size()))
                return;
    });
    const size_t expected = ((scans + 63) / 64) * 64 * replies_per_scan;
    size_t got = 0;
    std::vector<char> buf(1 << 16);
    while (got < expected) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    ::close(fd);
    read_stats(sim, &after);
    const double bytes = after.bytes - before.bytes;
    std::printf("| pipelined client: requests processed | %.1f MB/s (%.0f MB in %.2f s) |\n",
                bytes / seconds / 1e6, bytes / 1e6, seconds);
    std::printf("| pipelined client: share of the time sldsim was busy | %.0f %% |\n",
                100 * (after.busy_ns - before.busy_ns) / (seconds * 1e9));
    std::printf("| pipelined client: sldsim busy time per request byte | %.1f ns |\n",
                (after.busy_ns - before.busy_ns) / bytes);
    return got == expected ? 0 : 1;
}

int rpc_round_trips(harness::Sldsim &sim, int count) {
    harness::OpenOcd ocd;
    harness::TclClient rpc;
    std::string error;
    if (!ocd.start(sim.port(), &error) || !rpc.connect(ocd.tcl_port(), Ms(5000))) {
        std::fprintf(stderr, "sldsim_bench: %s\n", error.c_str());
        return 1;
    }
    rpc.run("irscan auto0.tap 0x6"); // IDCODE: the drscans below target the TAP irscanned last
    for (int i = 0; i < 100; ++i)
        rpc.run("drscan auto0.tap 32 0x0");
    std::vector<double> us;
    Stats before, after;
    read_stats(sim, &before);
    std::string reply;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!rpc.eval("drscan auto0.tap 32 0x0", &reply) || reply != "020a10dd") {
            std::fprintf(stderr, "sldsim_bench: drscan answered \"%s\"\n", reply.c_str());
            return 1;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    read_stats(sim, &after);
    double total = 0;
    for (double u : us)
        total += u;
    std::sort(us.begin(), us.end());
    const double busy_us = (after.busy_ns - before.busy_ns) / 1e3;
    std::printf("| OpenOCD RPC: 32-bit drscan round trip, median (p10-p90) | %.0f us (%.0f-%.0f) |\n",
                us[us.size() / 2], us[us.size() / 10], us[us.size() * 9 / 10]);
    std::printf("| OpenOCD RPC: sldsim busy per drscan (%.0f request bytes) | %.1f us, %.1f %% of the mean "
                "round trip |\n",
                (after.bytes - before.bytes) / count, busy_us / count, 100 * busy_us / total);
    ocd.process.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    harness::Sldsim sim;
    std::string error;
    if (!sim.start({}, &error)) {
        std::fprintf(stderr, "sldsim_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("| sldsim (default board, 3-device chain) | |\n|---|---|\n");
    int r = throughput(sim, quick ? 4000000 : 64000000);
    if (harness::find_openocd().empty()) {
        std::fprintf(stderr, "sldsim_bench: %s\n", harness::OPENOCD_MISSING);
        return 1;
    }
    r |= rpc_round_trips(sim, quick ? 200 : 2000);
    sim.process.stop();
    return r;
}
