// Running a command's operations on one node: scans go to the library in
// batch calls, run-test-idle and delay one by one, and each is reported as
// it is done.
#ifndef SLDTOOL_RUN_OPS_H
#define SLDTOOL_RUN_OPS_H

#include "operations.h"
#include "report.h"
#include "scan_log.h"
#include "target.h"

namespace sldtool {

// Default hub lock time-out, in the JTAG client library's units (ms).
const unsigned long DEFAULT_LOCK_TIMEOUT = 6000;

// Most scans in one batch call: a longer run of scans goes in several
// calls, all under the same hub lock when there is one.
const size_t MAX_SCANS_PER_CALL = 4096;

struct ScanOptions {
    NodeTarget target;
    bool lock = false; // hold the hub lock around the operations
    unsigned long timeout = DEFAULT_LOCK_TIMEOUT;
};

// Finds and opens the node, takes the hub lock when asked, runs the
// operations in order and closes everything again. An instruction with bits
// beyond the node's instruction width (seen in the log: the virtual IR scan
// less the address width) gets a warning on standard error. A failing
// status ends the run (ToolError) after the operations done have been
// reported.
void run_operations(const ScanOptions &options, OperationSource &ops, ScanLog &log, Reporter &report);

} // namespace sldtool

#endif
