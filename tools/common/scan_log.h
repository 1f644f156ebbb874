// The library's scan log, copied out step by step so that each record is
// known to belong to one thing the tool did (a hub opening, a scan, part
// of a batch) and to the hub it did it on. The tool adds what the library
// does not record: the bits its own scans captured, and its run-test-idle
// and delay steps.
#ifndef SLDTOOL_SCAN_LOG_H
#define SLDTOOL_SCAN_LOG_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "operations.h"
#include "sld.h"

namespace sldtool {

enum class LogKind { ir, dr, rti, delay };

// One scan-log record, or a run-test-idle or delay step of the tool.
struct LogEntry {
    LogKind kind = LogKind::ir;
    unsigned long value = 0; // ir: the instruction; dr: length in bits; rti: TCK clocks; delay: microseconds
    bool has_data = false;   // dr: whether bits were written
    std::vector<uint8_t> data; // dr: the (value + 7) / 8 bytes written
    // dr: how many of the first bits captured are known (all of a data scan
    // the tool made, the instruction field of its virtual IR scans, none of
    // the scans the library makes on its own), and those bits.
    unsigned long captured_bits = 0;
    std::vector<uint8_t> captured;

    bool recorded() const { return kind == LogKind::ir || kind == LogKind::dr; }
};

// The records that one step of the tool produced.
struct LogStep {
    std::string label;       // what the tool did, "open hub of ..."
    std::string device;      // the device scanned: cable and device string
    unsigned node_count = 0; // node count of its hub, 0 if unknown
    std::vector<LogEntry> entries;
};

// One operation the tool made in a step, with what it captured, so that
// the log can carry the captures; take() adds the length of the virtual
// IR scan that loaded an instruction.
struct ToolStep {
    const Operation *op = nullptr;
    unsigned long captured_ir = 0;                  // ir
    const std::vector<uint8_t> *captured = nullptr; // dr
    unsigned long vir_length = 0;                   // ir: set by take(), 0 when not found
};

class ScanLog {
  public:
    // keep: hold every step for the outputs; without it take() only
    // matches the records to the tool's steps and lets them go.
    explicit ScanLog(bool keep = true) : keep_(keep) {}

    // Turns the library's log on; records already there are not ours.
    void start();
    // Copies the records made since the last take into a new step. Does
    // nothing unless started; a step with no entries is not kept.
    // node_address is the hub address of the node the ops went to (its
    // index + 1).
    void take(const std::string &label, const std::string &device, unsigned node_count,
              unsigned node_address = 0, std::vector<ToolStep> *ops = nullptr);
    // Takes what is left as a last step, turns the log off and frees it.
    void finish();

    bool started() const { return started_; }
    bool keeps() const { return keep_; }
    const std::vector<LogStep> &steps() const { return steps_; }

  private:
    void annotate(LogStep *step, unsigned node_address, std::vector<ToolStep> *ops,
                  const std::vector<unsigned long> &loaded_before);

    bool keep_;
    bool started_ = false;
    const SLD_SCX_LOG_RECORD *last_ = nullptr; // last record copied
    std::map<std::string, unsigned long> loaded_; // device instruction per device
    std::vector<LogStep> steps_;
};

// Number of library records in all steps.
size_t entry_count(const std::vector<LogStep> &steps);

} // namespace sldtool

#endif
