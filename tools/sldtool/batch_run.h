// Running a parsed batch on one node under one hub lock.
#ifndef SLDTOOL_BATCH_RUN_H
#define SLDTOOL_BATCH_RUN_H

#include <ostream>
#include <vector>

#include "batch_parse.h"
#include "scan_log.h"
#include "scans.h"

namespace sldtool {

// Opens the node, takes the hub lock, runs the lines in order and prints
// one line per batch line ("line 3: ir 2 -> captured 0x1"). Runs of ir and
// dr lines go to the library as one batch; a failing status ends the
// batch (ToolError) after the lines already done have been printed.
void run_batch(const ScanOptions &options, const std::vector<BatchLine> &lines, ScanLog *log,
               std::ostream &out);

} // namespace sldtool

#endif
