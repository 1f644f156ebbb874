// What ir, dr and batch do: a list of operations on one node, run in order.
#ifndef SLDTOOL_OPERATIONS_H
#define SLDTOOL_OPERATIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace sldtool {

enum class OpKind { ir, dr, rti, delay };

struct Operation {
    OpKind kind = OpKind::ir;
    unsigned line = 0;        // batch line number from 1; 0 on the command line
    std::string text;         // the batch line without its comment; empty on the command line
    unsigned long value = 0;  // ir: instruction; rti: TCK clocks; delay: microseconds
    unsigned long length = 0; // dr: bits
    bool has_data = false;    // dr: bits to write were given
    std::vector<uint8_t> data;
    unsigned long delay = 0; // ir, dr: microseconds of delay after the scan
};

inline bool is_scan(const Operation &op) {
    return op.kind == OpKind::ir || op.kind == OpKind::dr;
}

// "ir 0x2", "dr 32 bits", "rti 10", "delay 5 us": for log steps and messages.
std::string describe(const Operation &op);

// Where a command's operations come from, one at a time, so that a long
// batch is never held parsed as a whole.
class OperationSource {
  public:
    virtual ~OperationSource() = default;
    // The next operation; false after the last.
    virtual bool next(Operation *op) = 0;
};

// The operations of the command line.
class OperationList : public OperationSource {
  public:
    explicit OperationList(std::vector<Operation> ops) : ops_(std::move(ops)) {}
    bool next(Operation *op) override;

  private:
    std::vector<Operation> ops_;
    size_t next_ = 0;
};

} // namespace sldtool

#endif
