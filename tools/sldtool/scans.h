// The single-scan commands: one virtual IR scan or one virtual DR scan.
#ifndef SLDTOOL_SCANS_H
#define SLDTOOL_SCANS_H

#include <ostream>
#include <string>

#include "scan_log.h"
#include "target.h"

namespace sldtool {

// Default hub lock time-out, in the JTAG client library's units (ms).
const unsigned long DEFAULT_LOCK_TIMEOUT = 6000;

struct ScanOptions {
    NodeTarget target;
    bool lock = false; // hold the hub lock around the scan
    unsigned long timeout = DEFAULT_LOCK_TIMEOUT;
};

// Loads the instruction into the node and prints the captured one.
void run_ir(const ScanOptions &options, const std::string &value, ScanLog *log, std::ostream &out);

// Shifts length bits (the hex data, or nothing written when data is
// empty) through the data register the hub has selected and prints the
// captured bits. The hub selects the node of the last virtual IR scan, and
// opening a hub selects the hub itself, so a scan that is to reach the
// node loads an instruction first: ir_first, when not empty.
void run_dr(const ScanOptions &options, const std::string &length, const std::string &data,
            const std::string &ir_first, ScanLog *log, std::ostream &out);

} // namespace sldtool

#endif
