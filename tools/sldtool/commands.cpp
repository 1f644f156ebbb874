#include "commands.h"

#include "errors.h"
#include "numbers.h"

namespace sldtool {

namespace {

const uint64_t MAX_INSTRUCTION = 0xFFFFFFFFu;

uint64_t number_argument(const std::string &text, uint64_t max, const std::string &what) {
    uint64_t value = 0;
    std::string error;
    if (!parse_number(text, max, &value, &error)) {
        throw ToolError(exit_usage, what + ": " + error);
    }
    return value;
}

Operation ir_operation(const std::string &value) {
    Operation op;
    op.kind = OpKind::ir;
    op.value = static_cast<unsigned long>(number_argument(value, MAX_INSTRUCTION, "instruction"));
    return op;
}

} // namespace

std::vector<Operation> ir_command(const std::string &value) {
    return {ir_operation(value)};
}

std::vector<Operation> dr_command(const std::vector<DrWord> &words) {
    std::vector<Operation> ops;
    bool data_next = false; // the last word was a LENGTH
    for (const DrWord &word : words) {
        if (word.ir) {
            ops.push_back(ir_operation(word.text));
            data_next = false;
            continue;
        }
        if (data_next) {
            Operation &scan = ops.back();
            data_next = false;
            if (word.text == "-") {
                continue;
            }
            std::string error;
            if (!parse_data(word.text, scan.length, &scan.data, &error)) {
                throw ToolError(exit_usage, error);
            }
            scan.has_data = true;
            continue;
        }
        Operation scan;
        scan.kind = OpKind::dr;
        scan.length = static_cast<unsigned long>(number_argument(word.text, MAX_SCAN_LENGTH, "length"));
        if (scan.length == 0) {
            throw ToolError(exit_usage, "length: a data scan needs at least 1 bit");
        }
        ops.push_back(scan);
        data_next = true;
    }
    bool scans_data = false;
    for (const Operation &op : ops) {
        scans_data = scans_data || op.kind == OpKind::dr;
    }
    if (!scans_data) {
        throw ToolError(exit_usage, "dr needs a LENGTH");
    }
    return ops;
}

} // namespace sldtool
