#include "scans.h"

#include <optional>
#include <vector>

#include "errors.h"
#include "numbers.h"
#include "sld.h"

namespace sldtool {

namespace {

uint64_t number_argument(const std::string &text, uint64_t max, const std::string &what) {
    uint64_t value = 0;
    std::string error;
    if (!parse_number(text, max, &value, &error)) {
        throw ToolError(exit_usage, what + ": " + error);
    }
    return value;
}

} // namespace

namespace {

// One virtual IR scan on an open node; prints the capture.
void scan_ir(const OpenNode &node, unsigned long value, ScanLog *log, std::ostream &out) {
    unsigned long capture = 0;
    int status = sld_node_access_ir(node.node_id(), value, &capture, 0);
    if (log != nullptr) {
        log->take("ir " + hex(value) + " on node " + std::to_string(node.index()) + " of " + node.where(),
                  node.where(), node.node_count());
    }
    check_status(status, "sld_node_access_ir");
    out << "captured instruction " << hex(capture) << "\n";
}

unsigned long instruction_argument(const std::string &text) {
    return static_cast<unsigned long>(number_argument(text, 0xFFFFFFFFu, "instruction"));
}

} // namespace

void run_ir(const ScanOptions &options, const std::string &value_text, ScanLog *log, std::ostream &out) {
    const unsigned long value = instruction_argument(value_text);
    OpenNode node(options.target, log);
    std::optional<HubLock> lock;
    if (options.lock) {
        lock.emplace(node.node_id(), options.timeout);
    }
    scan_ir(node, value, log, out);
    if (lock) {
        lock->release();
    }
    node.close();
}

void run_dr(const ScanOptions &options, const std::string &length_text, const std::string &data,
            const std::string &ir_first, ScanLog *log, std::ostream &out) {
    const unsigned long length =
        static_cast<unsigned long>(number_argument(length_text, MAX_SCAN_LENGTH, "length"));
    if (length == 0) {
        throw ToolError(exit_usage, "length: a data scan needs at least 1 bit");
    }
    std::vector<uint8_t> bits;
    if (!data.empty()) {
        std::string error;
        if (!parse_hex_bits(data, length, &bits, &error)) {
            throw ToolError(exit_usage, error);
        }
    }
    const unsigned long instruction = ir_first.empty() ? 0 : instruction_argument(ir_first);
    OpenNode node(options.target, log);
    std::optional<HubLock> lock;
    if (options.lock) {
        lock.emplace(node.node_id(), options.timeout);
    }
    if (!ir_first.empty()) {
        scan_ir(node, instruction, log, out);
    }
    std::vector<uint8_t> capture((length + 7) / 8, 0);
    int status =
        sld_node_access_dr(node.node_id(), length, bits.empty() ? nullptr : bits.data(), capture.data(), 0);
    if (log != nullptr) {
        log->take("dr " + std::to_string(length) + " bits on node " + std::to_string(node.index()) + " of " +
                      node.where(),
                  node.where(), node.node_count());
    }
    check_status(status, "sld_node_access_dr");
    out << "captured " << format_hex_bits(capture.data(), length) << "\n";
    if (lock) {
        lock->release();
    }
    node.close();
}

} // namespace sldtool
