#include "operations.h"

#include "numbers.h"

namespace sldtool {

std::string describe(const Operation &op) {
    switch (op.kind) {
    case OpKind::ir:
        return "ir " + hex(op.value);
    case OpKind::dr:
        return "dr " + std::to_string(op.length) + " bits";
    case OpKind::rti:
        return "rti " + std::to_string(op.value);
    case OpKind::delay:
        break;
    }
    return "delay " + std::to_string(op.value) + " us";
}

bool OperationList::next(Operation *op) {
    if (next_ >= ops_.size()) {
        return false;
    }
    *op = std::move(ops_[next_++]);
    return true;
}

} // namespace sldtool
