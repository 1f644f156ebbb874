// The lock hand-over figures of sld_openocd_bench (openocd_handover.cpp).
#ifndef SLD_BENCH_OPENOCD_HANDOVER_H
#define SLD_BENCH_OPENOCD_HANDOVER_H

#include <string>

// The waiting process: for each "go" line on standard input, takes the hub
// lock of the device on the cable (through the server `endpoint`), prints
// the steady clock in nanoseconds when it has it, and gives it back.
int handover_child(const std::string &endpoint, const std::string &cable, const std::string &device);
// Holds the hub lock, lets the child start waiting for it, then unlocks:
// the time from the unlock call to the child's grant, over several rounds.
void handover_section(const std::string &self, const std::string &cable, const std::string &device, int hub);

#endif
