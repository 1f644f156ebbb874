// The OpenOCD backend on a real OpenOCD 0.12 over sldsim (the default
// board's first cable): RPC round trips per sld_ operation; the throughput
// of 32-bit DR scans through libsld and the backend, under the hub lock and
// without it, against a bare Tcl RPC client sending the same drscan
// messages, on loopback and through a proxy that adds 1 ms each way (the
// three timed in alternating blocks within one run, so a change in the
// machine's load falls on all); the lock's hand-over time between two
// processes; and hardware queries beside a hung second server.
//
//   sld_openocd_bench [--rounds N] [--block N] [--delay-us N] [--hung-only]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/scxcore.h"
#include "openocd_harness.h"
#include "delay_proxy.h"
#include "openocd_handover.h"
#include "openocd_hung.h"
#include "scxopenocd.h"
#include "sld.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned long LOCK_TIMEOUT = 6000;
const unsigned char SHIFT_NODE = 3; // the default board's shift node: instruction 2 is a 32-bit register

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "sld_openocd_bench: %s\n", what.c_str());
    std::exit(1);
}

void check(int status, const char *what) {
    if (status != SLD_OK)
        fail(std::string(what) + " answered " + std::to_string(status));
}

struct World {
    std::string cable, device;
    int hub = -1, node = -1;
    unsigned char write[4] = {0x78, 0x56, 0x34, 0x12}, read[4] = {};
    SLD_BATCH_ACCESS batch[17] = {};
    SLD_BATCH_ACCESS write_batch[17] = {}; // the same, reading nothing
};

struct Operation {
    const char *what;
    bool locked;
    std::function<int(World &)> run;
};

std::vector<Operation> operations() {
    return {
        {"virtual DR scan, 32 bits, under the hub lock (cached)", true,
         [](World &w) { return sld_node_access_dr(w.node, 32, w.write, w.read, 0); }},
        {"virtual DR scan, 32 bits, implicit lock", false,
         [](World &w) { return sld_node_access_dr(w.node, 32, w.write, w.read, 0); }},
        {"virtual DR scan, 4096 bits, under the hub lock", true,
         [](World &w) {
             static unsigned char big[512];
             return sld_node_access_dr(w.node, 4096, big, big, 0);
         }},
        {"virtual IR scan under the hub lock", true,
         [](World &w) { return sld_node_access_ir(w.node, 2, nullptr, 0); }},
        {"virtual IR scan, implicit lock", false,
         [](World &w) { return sld_node_access_ir(w.node, 2, nullptr, 0); }},
        {"virtual IR then DR scan, under the lock", true,
         [](World &w) {
             return sld_node_access_ir(w.node, 2, nullptr, 0) |
                    sld_node_access_dr(w.node, 32, w.write, w.read, 0);
         }},
        {"batch of 16 DR records, under the lock", true,
         [](World &w) { return sld_node_batch_access(w.node, w.batch); }},
        {"batch of 16 DR records, implicit locks", false,
         [](World &w) { return sld_node_batch_access(w.node, w.batch); }},
        {"batch of 16 write-only DR records, with hub lock + unlock", false,
         [](World &w) {
             return sld_hub_lock(w.hub, LOCK_TIMEOUT) | sld_node_batch_access(w.node, w.write_batch) |
                    sld_hub_unlock(w.hub);
         }},
        {"run-test-idle, under the lock", true, [](World &w) { return sld_node_rti(w.node, 16); }},
        {"run-test-idle, implicit lock", false, [](World &w) { return sld_node_rti(w.node, 16); }},
        {"hub lock + unlock", false,
         [](World &w) { return sld_hub_lock(w.hub, LOCK_TIMEOUT) | sld_hub_unlock(w.hub); }},
        {"node open + close", false,
         [](World &w) {
             int node = -1;
             return sld_node_open(w.hub, 1, &node) | sld_node_close(node);
         }},
        {"hub open + close of an open hub", false,
         [](World &w) {
             int hub = -1;
             return sld_hub_open(w.cable.c_str(), w.device.c_str(), &hub) | sld_hub_close(hub);
         }},
        {"`sld_get_device`, unchanged chain", false,
         [](World &w) {
             unsigned long count = 0;
             char **devices = nullptr;
             return sld_get_device(w.cable.c_str(), &count, &devices);
         }},
        {"`sld_get_hardware`", false,
         [](World &) {
             unsigned long count = 0;
             char **names = nullptr;
             return sld_get_hardware(&count, &names);
         }},
    };
}

void round_trip_table(World &w) {
    std::printf("| operation | RPC round trips (under the hub lock or without) |\n|---|---|\n");
    const int runs = 20;
    for (const Operation &op : operations()) {
        if (op.locked)
            check(sld_hub_lock(w.hub, LOCK_TIMEOUT), "sld_hub_lock");
        check(op.run(w), op.what); // primes the instruction cache, as a loop finds it
        // Scans held back by the previous row go first, out of this count.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        scxopenocd::reset_round_trips();
        for (int i = 0; i < runs; ++i)
            check(op.run(w), op.what);
        // Write-only scans still held back go after a few milliseconds:
        // they belong to this row.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double per_op = double(scxopenocd::round_trips()) / runs;
        if (op.locked)
            check(sld_hub_unlock(w.hub), "sld_hub_unlock");
        std::printf("| %s | %g |\n", op.what, per_op);
    }
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double quantile(std::vector<double> v, int quarter) {
    std::sort(v.begin(), v.end());
    return v[quarter * v.size() / 4];
}

// Library scans under the hub lock, library scans without it (the library
// takes and gives up the lock around each) and a bare Tcl RPC client
// sending the same drscan message, timed in alternating blocks over one
// link. Prints one table row per client, with the throughput ratio to the
// bare client per round (median and quartiles).
void throughput(const char *link, World &w, int tcl_port, const std::string &tap, int rounds, int block) {
    harness::TclClient bare;
    if (!bare.connect(tcl_port, harness::Ms(5000)))
        fail("the bare client cannot connect");
    // The library's device is the TAP irscanned last, so the bare drscan
    // is valid; it shifts the same 32 bits.
    const std::string message = "drscan " + tap + " 0x20 0x12345678";
    std::string reply;
    std::vector<double> locked, unlocked, direct;
    for (int r = 0; r < rounds; ++r) {
        check(sld_hub_lock(w.hub, LOCK_TIMEOUT), "sld_hub_lock");
        check(sld_node_access_ir(w.node, 2, nullptr, 0), "sld_node_access_ir");
        Clock::time_point start = Clock::now();
        for (int i = 0; i < block; ++i)
            check(sld_node_access_dr(w.node, 32, w.write, w.read, 0), "sld_node_access_dr");
        locked.push_back(seconds_since(start));
        check(sld_hub_unlock(w.hub), "sld_hub_unlock");
        start = Clock::now();
        for (int i = 0; i < block; ++i)
            check(sld_node_access_dr(w.node, 32, w.write, w.read, 0), "sld_node_access_dr");
        unlocked.push_back(seconds_since(start));
        start = Clock::now();
        for (int i = 0; i < block; ++i)
            if (!bare.eval(message, &reply) || reply.size() != 8)
                fail("bare drscan answered \"" + reply + "\"");
        direct.push_back(seconds_since(start));
    }
    auto row = [&](const char *client, const std::vector<double> &times) {
        std::vector<double> ratios;
        for (size_t i = 0; i < times.size(); ++i)
            ratios.push_back(direct[i] / times[i]);
        const double per_scan = median(times) / block;
        std::printf("| %s | %s | %.1f | %.0f | %.3f (%.3f-%.3f) |\n", link, client, per_scan * 1e6, 1 / per_scan,
                    median(ratios), quantile(ratios, 1), quantile(ratios, 3));
    };
    row("libsld, hub locked, instruction cached", locked);
    row("libsld, no hub lock (taken per scan)", unlocked);
    row("bare Tcl RPC client, the same drscan messages", direct);
}

// Opens the first device's hub on the cable and its shift node, with the
// node's 32-bit register selected; the batches point into w itself.
void open_world(World &w, const std::string &cable) {
    w.cable = cable;
    unsigned long count = 0;
    char **devices = nullptr;
    check(sld_get_device(w.cable.c_str(), &count, &devices), "sld_get_device");
    w.device = devices[0];
    check(sld_hub_open(w.cable.c_str(), w.device.c_str(), &w.hub), "sld_hub_open");
    check(sld_node_open(w.hub, SHIFT_NODE, &w.node), "sld_node_open");
    check(sld_node_access_ir(w.node, 2, nullptr, 0), "sld_node_access_ir");
    for (int i = 0; i < 16; ++i)
        w.batch[i] = {SLD_BATCH_DR, reinterpret_cast<unsigned long>(w.write),
                      reinterpret_cast<unsigned long>(w.read), 32, 0};
    w.batch[16].kind = SLD_BATCH_END;
    for (int i = 0; i <= 16; ++i) {
        w.write_batch[i] = w.batch[i];
        w.write_batch[i].read = 0;
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--hung-child") == 0)
        return hung_child(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--handover-child") == 0)
        return handover_child(argv[2], argv[3], argv[4]);
    int rounds = 40, block = 100, delay_us = 1000;
    bool hung_only = false;
    for (int i = 1; i < argc; ++i)
        hung_only = hung_only || std::strcmp(argv[i], "--hung-only") == 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--block") == 0)
            block = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--delay-us") == 0)
            delay_us = std::max(0, std::atoi(argv[i + 1]));
    }
    std::string error;
    harness::Sldsim sim;
    harness::OpenOcd openocd;
    if (!sim.start({}, &error) || !openocd.start(sim.port(), &error))
        fail(error);
    // The same OpenOCD again behind a proxy that adds 1 ms each way: a
    // second server for the library, and a second port for the bare client.
    DelayProxy proxy;
    if (!proxy.start(openocd.tcl_port(), std::chrono::microseconds(delay_us), &error))
        fail(error);
    const std::string endpoint = "127.0.0.1:" + std::to_string(openocd.tcl_port());
    const std::string delayed = "127.0.0.1:" + std::to_string(proxy.port());
    if (!scx::use_openocd({endpoint, delayed}, &error))
        fail(error);
    World w;
    open_world(w, "openocd@" + endpoint);
    // The TAP name is the device string's name: "@1: auto0.tap (0x020A10DD)".
    const std::string tap = w.device.substr(4, w.device.find(" (") - 4);

    std::printf("OpenOCD %s over sldsim; device %s, node %u\n\n", endpoint.c_str(), w.device.c_str(),
                SHIFT_NODE);
    if (!hung_only) {
        round_trip_table(w);
        std::printf("\n| link | client | median µs per 32-bit DR scan | scans per second | throughput / bare "
                    "(median, quartiles) |\n|---|---|---|---|---|\n");
        throughput("loopback", w, openocd.tcl_port(), tap, rounds, block);
        World slow;
        open_world(slow, "openocd@" + delayed);
        const std::string slow_link = "loopback + " + std::to_string(delay_us) + " µs each way";
        throughput(slow_link.c_str(), slow, proxy.port(), tap, std::max(4, rounds / 4),
                   std::max(5, block / 5));
        std::printf("\n(%d rounds of %d scans on loopback, %d of %d over the delayed link)\n", rounds, block,
                    std::max(4, rounds / 4), std::max(5, block / 5));
        sld_node_close(slow.node);
        sld_hub_close(slow.hub);
        handover_section(argv[0], w.cable, w.device, w.hub);
    }
    hung_section(argv[0], SLDTOOL_PATH, endpoint);
    sld_node_close(w.node);
    sld_hub_close(w.hub);
    return 0;
}
