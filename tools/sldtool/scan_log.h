// The library's scan log, copied out step by step so that each record is
// known to belong to one thing the tool did (a hub opening, a scan, part
// of a batch) and to the hub it did it on.
#ifndef SLDTOOL_SCAN_LOG_H
#define SLDTOOL_SCAN_LOG_H

#include <cstdint>
#include <string>
#include <vector>

#include "sld.h"

namespace sldtool {

// A copy of one scan-log record.
struct LogEntry {
    unsigned kind = SLD_LOG_IR; // SLD_LOG_IR or SLD_LOG_DR
    unsigned long value = 0;    // IR: the instruction; DR: the length in bits
    bool has_data = false;      // DR: whether bits were written
    std::vector<uint8_t> data;  // DR: the (value + 7) / 8 bytes written
};

// The records that one step of the tool produced.
struct LogStep {
    std::string label;       // what the tool did, "open hub of ..."
    std::string device;      // the device scanned: cable and device string
    unsigned node_count = 0; // node count of its hub, 0 if unknown
    std::vector<LogEntry> entries;
};

class ScanLog {
  public:
    // Turns the library's log on; records already there are not ours.
    void start();
    // Copies the records made since the last take into a new step. Does
    // nothing unless started; a step without records is not kept.
    void take(const std::string &label, const std::string &device, unsigned node_count);
    // Takes what is left as a last step, turns the log off and frees it.
    void finish();

    bool started() const { return started_; }
    const std::vector<LogStep> &steps() const { return steps_; }

  private:
    bool started_ = false;
    const SLD_SCX_LOG_RECORD *last_ = nullptr; // last record copied
    std::vector<LogStep> steps_;
};

// Number of records in all steps.
size_t entry_count(const std::vector<LogStep> &steps);

} // namespace sldtool

#endif
