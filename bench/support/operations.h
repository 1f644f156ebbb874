// The operations that the benchmarks time and the instruction counter
// runs: each library operation, each bare JTAG client call of the same
// kind, and the bare sequence of exactly the client calls that a library
// operation makes. One table, so that the timing program and the
// instruction-count driver measure the same thing.
#ifndef BENCH_OPERATIONS_H
#define BENCH_OPERATIONS_H

#include <string>
#include <vector>

#include "scx/scx.h"
#include "sld.h"

namespace bench {

struct OpContext {
    int hub_id = -1;
    int node_id = -1;
    SCX_OPEN *handle = nullptr; // the hub's device handle, for bare calls
    SCX_CHAIN *chain = nullptr; // the cable's chain, for bare chain reads
    std::string hardware;       // short name of the cable
    std::string full_name;      // its full name
    std::string device;         // device string of the hub's device
    unsigned char write[512] = {};
    unsigned char read[512] = {};
    SLD_BATCH_ACCESS batch[17] = {};
    unsigned long capture = 0;
    std::vector<int> extra_hubs; // ids opened only to fill the tables
    std::vector<int> extra_nodes;
};

// The size of what the library keeps while an operation runs. The
// operation's hub is on the last cable, device 0; the extra hub ids are on
// devices 1.., the extra node ids on the operation's hub (indexes cycling
// from 1), and the extra hub locks are taken before the operation's own, so
// that its hub is at the far end of the thread's held-hub list.
struct WorldShape {
    unsigned cables = 1;
    unsigned devices = 2;    // per cable (at least open_hubs)
    unsigned nodes = 4;      // per hub
    unsigned open_hubs = 1;  // hub ids open, the operation's included
    unsigned open_nodes = 1; // node ids open, the operation's included
    unsigned held_hubs = 1;  // hub locks held by locked operations, theirs included
};

struct Operation {
    const char *name;        // stable id used by the scripts
    const char *what;        // one-line description
    bool library;            // false: bare client calls only
    bool locked;             // the thread holds the hub lock around the loop
    bool log;                // the scan log is on
    int min_calls;           // client calls the protocol needs; -1 for bare calls
    const char *baseline;    // one bare client call of the same kind (or null)
    const char *equivalent;  // the bare sequence of the calls it makes (or null)
    int (*run)(OpContext &); // 0 on success
};

const std::vector<Operation> &operations();
const Operation *find_operation(const std::string &name);

// The world of `shape` (by default one cable with two hub devices of 4
// nodes); the operation's hub and its node 0 open, one virtual IR scan of
// node 0 made (so the hub has selected it); the hub lock taken when
// op.locked; one run made (which primes the instruction cache); the log on
// when op.log.
void setup(const Operation &op, OpContext &ctx, const WorldShape &shape = WorldShape());
void teardown(const Operation &op, OpContext &ctx);

} // namespace bench

#endif
