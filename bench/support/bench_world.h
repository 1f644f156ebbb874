// Setting up the library over the null JTAG client for a benchmark: the
// world of cables, devices and hubs, and opening hub ids and node ids. Any
// failure ends the program with a message: a benchmark that measured a
// failing call would report a meaningless figure.
#ifndef BENCH_BENCH_WORLD_H
#define BENCH_BENCH_WORLD_H

#include <string>
#include <vector>

#include "scxnull.h"
#include "sld.h"

namespace bench {

[[noreturn]] void fail(const std::string &what, int status);
inline void check(SLD_ERROR status, const char *what) {
    if (status != SLD_OK)
        fail(what, status);
}

// Reconfigures the null client, rebuilds the library's hardware list and
// reads the chain of every cable. Every hub id and node id must be closed
// before. Returns nothing; names come from the functions below.
void set_world(unsigned cables, unsigned devices_per_cable, unsigned nodes_per_hub);

std::string hardware_name(unsigned cable);                    // cable counted from 1
std::string device_string(unsigned cable, unsigned position); // position from 0, from the library

int open_hub(unsigned cable, unsigned position);
int open_node(int hub_id, unsigned index);
void close_node(int node_id);
void close_hub(int hub_id);

// SCX calls per iteration since `before`, as the per-function breakdown
// "lock 1, access_dr 1" and the total.
std::string describe_calls(const scxnull::Counts &before, const scxnull::Counts &after, double iterations);

} // namespace bench

#endif
