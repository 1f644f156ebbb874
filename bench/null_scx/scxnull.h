// Control of the null JTAG client, libscxnull.so: a second implementation
// of every scx_ function that answers at once and drives no chain, so that
// a benchmark sees the library's own cost and nothing else. It counts the
// calls per function and per thread (cheap, no shared cache line), and
// answers just enough for hub discovery to succeed: every device is a hub
// of instruction width 8, manufacturer 110, version 0, with the configured
// number of nodes. Scans neither read nor write the caller's bits, except
// the 4-bit captures that read the hub and node words.
#ifndef SCXNULL_H
#define SCXNULL_H

#include <string>
#include <vector>

#include "scx/scx.h"

namespace scxnull {

enum Fn {
    get_hardware,
    find_hardware,
    print_hardware_name,
    lock_chain,
    unlock_chain,
    scan_device_chain,
    read_device_chain,
    open_device,
    close_device,
    lock,
    unlock,
    access_ir,
    access_dr,
    run_test_idle,
    delay,
    flush,
    fn_count
};

const char *fn_name(Fn fn); // "access_dr", ...

const unsigned max_cables = 256;
const unsigned max_devices = 128; // per cable
const unsigned max_nodes = 255;   // per hub

// Sets the world: cables 1..cables (persistent ids 1..cables), each with
// devices_per_cable hubs of nodes_per_hub nodes. Chain and device handles
// stay valid across calls (they are fixed slots); hubs that the library
// discovered earlier keep the node count they read. Call it only while no
// scx_ call is running. Values are clamped to the maxima above.
void configure(unsigned cables, unsigned devices_per_cable, unsigned nodes_per_hub);

// Short and full name of cable c (counted from 1), as the client reports them.
std::string short_name(unsigned cable);
std::string full_name(unsigned cable);

// The hub word and node word k that discovery reads back.
unsigned long hub_word(unsigned nodes);
unsigned long node_word(unsigned index);

// Calls per function since the last reset, summed over every thread that
// made any. Read and reset only while no scx_ call is running.
struct Counts {
    unsigned long calls[fn_count];
    unsigned long total() const;
    unsigned long operator[](Fn fn) const { return calls[fn]; }
};
Counts counts();
void reset_counts();

// A trace of calls, off by default: the function and its main argument
// (access_ir: the instruction; access_dr: the length; lock: the style;
// run_test_idle and delay: the count). For checking call sequences.
struct Call {
    Fn fn;
    unsigned long arg;
};
void set_tracing(bool on);
std::vector<Call> trace();
void clear_trace();

} // namespace scxnull

#endif
