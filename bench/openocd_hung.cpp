// A hung second server beside a live one: how long hardware queries take
// and how long another thread's scan on the live cable waits meanwhile
// (the library holds its mutex across every JTAG client call). The
// queries run in a child process of the benchmark, which chooses its two
// servers once, as every process does; the tool's listing is timed too.
#include "openocd_hung.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/scxcore.h"
#include "openocd_harness.h"
#include "sld.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int get_hardware() {
    unsigned long count = 0;
    char **names = nullptr;
    return sld_get_hardware(&count, &names);
}

} // namespace

int hung_child(const std::string &good, const std::string &hung) {
    std::string error;
    if (!scx::use_openocd({good, hung}, &error)) {
        std::printf("error %s\n", error.c_str());
        return 1;
    }
    Clock::time_point start = Clock::now();
    const int first_status = get_hardware();
    const double first = ms_since(start);
    // A second thread scans the live cable while this one refreshes.
    const std::string cable = "openocd@" + good;
    unsigned long count = 0;
    char **devices = nullptr;
    int hub = -1, node = -1;
    if (sld_get_device(cable.c_str(), &count, &devices) != SLD_OK || count == 0 ||
        sld_hub_open(cable.c_str(), devices[0], &hub) != SLD_OK || sld_node_open(hub, 3, &node) != SLD_OK) {
        std::printf("error the live cable cannot be opened\n");
        return 1;
    }
    std::atomic<bool> done{false};
    std::atomic<long> scans{0}, failed{0};
    double longest_scan = 0;
    std::thread scanner([&] {
        unsigned char bits[4] = {1, 2, 3, 4}, back[4];
        while (!done) {
            const Clock::time_point t = Clock::now();
            if (sld_node_access_dr(node, 32, bits, back, 0) != SLD_OK)
                ++failed;
            longest_scan = std::max(longest_scan, ms_since(t));
            ++scans;
        }
    });
    // At least three refreshes, and refreshes every 10 ms for half a
    // second, so that the scanning thread meets them.
    double later = 0;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < 3 || ms_since(begin) < 500; ++i) {
        start = Clock::now();
        sld_refresh_hardware();
        get_hardware();
        later = std::max(later, ms_since(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done = true;
    scanner.join();
    std::printf("first %.1f %d\nlater %.1f\nscan %.1f %ld %ld\n", first, first_status, later, longest_scan,
                scans.load(), failed.load());
    return 0;
}

void hung_section(const std::string &self, const std::string &sldtool, const std::string &good) {
    harness::HungServer hung;
    std::string error;
    if (!hung.start(&error)) {
        std::printf("\nhung server: %s\n", error.c_str());
        return;
    }
    const std::string hung_endpoint = "127.0.0.1:" + std::to_string(hung.port());
    std::printf("\n| with `%s,%s` (the second accepts and never answers) | ms |\n|---|---|\n", good.c_str(),
                hung_endpoint.c_str());
    harness::Child child;
    if (!child.start(self, {"--hung-child", good, hung_endpoint}, &error)) {
        std::printf("| the child: %s | - |\n", error.c_str());
        return;
    }
    const char *labels[] = {"first `sld_get_hardware`", "slowest later `sld_refresh_hardware` + `sld_get_hardware`",
                            "longest 32-bit DR scan of another thread on the live cable meanwhile"};
    for (const char *label : labels) {
        std::string line;
        if (!child.read_line(&line, harness::Ms(180000))) {
            std::printf("| %s | no answer: %s |\n", label, child.error_text().c_str());
            return;
        }
        double ms = 0;
        long scans = 0, failed = 0;
        if (std::sscanf(line.c_str(), "scan %lf %ld %ld", &ms, &scans, &failed) == 3) {
            std::printf("| %s (%ld scans, %ld failed) | %.1f |\n", label, scans, failed, ms);
            continue;
        }
        std::sscanf(line.c_str(), "%*s %lf", &ms);
        std::printf("| %s | %.1f |\n", label, ms);
    }
    child.wait_exit(harness::Ms(30000));
    harness::Child tool;
    const Clock::time_point start = Clock::now();
    // Chosen as a user would, in the environment (this process chose its
    // servers already, so the variable does not change them).
    ::setenv("SCX_OPENOCD", (good + "," + hung_endpoint).c_str(), 1);
    const bool started = tool.start(sldtool, {"list"}, &error);
    ::unsetenv("SCX_OPENOCD");
    if (!started) {
        std::printf("| `sldtool list` | %s |\n", error.c_str());
        return;
    }
    for (std::string line; tool.read_line(&line, harness::Ms(180000));) {
    }
    tool.wait_exit(harness::Ms(180000));
    std::printf("| `SCX_OPENOCD=...,... sldtool list` (a process of its own) | %.0f |\n", ms_since(start));
}
