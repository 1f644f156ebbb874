// Lock hand-over between two processes: one holds the hub lock, the other
// waits for it in sld_hub_lock; timed from the holder's unlock call to the
// waiter's grant. Both read the same steady clock (CLOCK_MONOTONIC, one
// per machine).
#include "openocd_handover.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/scxcore.h"
#include "openocd_harness.h"
#include "sld.h"

namespace {

using Clock = std::chrono::steady_clock;

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

const unsigned long WAIT_MS = 10000;
const int ROUNDS = 20;

} // namespace

int handover_child(const std::string &endpoint, const std::string &cable, const std::string &device) {
    std::string error;
    int hub = -1;
    if (!scx::use_openocd({endpoint}, &error) || sld_hub_open(cable.c_str(), device.c_str(), &hub) != SLD_OK) {
        std::cout << "error cannot open the hub " << error << std::endl;
        return 1;
    }
    for (std::string line; std::getline(std::cin, line) && line == "go";) {
        const int status = sld_hub_lock(hub, WAIT_MS);
        const long long granted = now_ns();
        std::cout << (status == SLD_OK ? "ok " : "error ") << granted << std::endl;
        if (status == SLD_OK)
            sld_hub_unlock(hub);
    }
    sld_hub_close(hub);
    return 0;
}

void handover_section(const std::string &self, const std::string &cable, const std::string &device, int hub) {
    const std::string endpoint = cable.substr(cable.find('@') + 1);
    harness::Child child;
    std::string error;
    if (!child.start(self, {"--handover-child", endpoint, cable, device}, &error, true)) {
        std::printf("\nlock hand-over: %s\n", error.c_str());
        return;
    }
    std::vector<double> handovers;
    for (int r = 0; r < ROUNDS; ++r) {
        if (sld_hub_lock(hub, WAIT_MS) != SLD_OK || !child.write_line("go"))
            break;
        // Long enough for the child to be waiting, polling or queued.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const long long unlocked = now_ns();
        sld_hub_unlock(hub);
        std::string line;
        long long granted = 0;
        if (!child.read_line(&line, harness::Ms(2 * WAIT_MS)) ||
            std::sscanf(line.c_str(), "ok %lld", &granted) != 1) {
            std::printf("\nlock hand-over: the waiting process answered \"%s\" %s\n", line.c_str(),
                        child.error_text().c_str());
            return;
        }
        handovers.push_back(double(granted - unlocked) / 1e6);
    }
    if (handovers.empty()) {
        std::printf("\nlock hand-over: no round completed\n");
        return;
    }
    std::sort(handovers.begin(), handovers.end());
    std::printf("\n| lock hand-over between two processes (%zu rounds) | ms |\n|---|---|\n", handovers.size());
    std::printf("| median, from the holder's `sld_hub_unlock` to the waiter's `sld_hub_lock` returning | %.2f |\n",
                handovers[handovers.size() / 2]);
    std::printf("| slowest | %.2f |\n", handovers.back());
}
