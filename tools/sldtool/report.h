// What ir, dr and batch print of each operation they ran: text in the
// command's own form, or one JSON document (schema in docs/sldtool.md).
#ifndef SLDTOOL_REPORT_H
#define SLDTOOL_REPORT_H

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "errors.h"
#include "operations.h"
#include "scan_log.h"
#include "target.h"

namespace sldtool {

struct StepResult {
    const Operation *op = nullptr;
    unsigned long captured_ir = 0;                  // ir
    const std::vector<uint8_t> *captured = nullptr; // dr
    int ir_width = -1; // ir: the node's instruction width, -1 when the log did not show it
};

class Reporter {
  public:
    virtual ~Reporter() = default;
    // The node the command acts on: found, and then opened.
    virtual void begin(const OpenNode &node) { (void)node; }
    virtual void opened(const OpenNode &node) { (void)node; }
    virtual void step(const StepResult &result) = 0;
    // The end: failure when the command ended early, log the scan log when
    // one was asked for. Called whether or not begin() was.
    virtual void finish(const ToolError *failure, const std::vector<LogStep> *log) {
        (void)failure;
        (void)log;
    }
};

enum class TextStyle {
    scans, // "captured instruction 0x1", "captured 0x00"
    batch  // "line 3: dr 8 10 -> captured 0x00"
};
std::unique_ptr<Reporter> text_reporter(std::ostream &out, TextStyle style);

// command: "ir", "dr" or "batch".
std::unique_ptr<Reporter> json_reporter(std::ostream &out, const std::string &command);

} // namespace sldtool

#endif
