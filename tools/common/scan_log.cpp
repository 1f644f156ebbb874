#include "scan_log.h"

#include <climits>

#include "log_decode.h"

namespace sldtool {

namespace {

LogEntry tool_entry(LogKind kind, unsigned long value) {
    LogEntry entry;
    entry.kind = kind;
    entry.value = value;
    return entry;
}

// The first `bits` bits of value as scan bytes.
std::vector<uint8_t> value_bits(uint64_t value, unsigned bits) {
    std::vector<uint8_t> bytes((bits + 7) / 8, 0);
    for (unsigned j = 0; j < bits; ++j) {
        if ((value >> j) & 1u) {
            bytes[j / 8] = static_cast<uint8_t>(bytes[j / 8] | (1u << (j % 8)));
        }
    }
    return bytes;
}

// Whether entry (made under device instruction `under`) is the scan that
// carried op to the node at node_address.
bool carries(const LogEntry &entry, unsigned long under, const Operation &op, unsigned node_count,
             unsigned node_address, VirtualIr *vir) {
    if (entry.kind != LogKind::dr) {
        return false;
    }
    if (op.kind == OpKind::dr) {
        return under == SLD_IR_SELECT_VDR && entry.value == op.length;
    }
    return under == SLD_IR_SELECT_VIR && split_virtual_ir(entry, node_count, vir) &&
           vir->address == node_address;
}

} // namespace

void ScanLog::start() {
    sld_enable_scx_log();
    SLD_SCX_LOG_RECORD *head = nullptr;
    sld_get_scx_log_head(&head);
    last_ = head;
    // Skip what others left in the log before we started.
    while (last_ != nullptr && last_->next != nullptr) {
        last_ = last_->next;
    }
    started_ = true;
}

void ScanLog::take(const std::string &label, const std::string &device, unsigned node_count,
                   unsigned node_address, std::vector<ToolStep> *ops) {
    if (!started_) {
        return;
    }
    const SLD_SCX_LOG_RECORD *record = nullptr;
    if (last_ != nullptr) {
        record = last_->next;
    } else {
        SLD_SCX_LOG_RECORD *head = nullptr;
        sld_get_scx_log_head(&head);
        record = head;
    }
    LogStep step;
    step.label = label;
    step.device = device;
    step.node_count = node_count;
    unsigned long &instruction = loaded_.emplace(device, SLD_IR_UNKNOWN).first->second;
    std::vector<unsigned long> under; // the device instruction each record ran under
    for (; record != nullptr; record = record->next) {
        LogEntry entry;
        entry.kind = record->kind == SLD_LOG_IR ? LogKind::ir : LogKind::dr;
        entry.value = record->value;
        if (record->kind == SLD_LOG_DR && record->data != nullptr) {
            entry.has_data = true;
            // The library copies (length + 7) / 8 bytes, in 32-bit arithmetic.
            unsigned int bytes = (record->value + 7u) / 8u;
            entry.data.assign(record->data, record->data + bytes);
        }
        under.push_back(instruction);
        if (record->kind == SLD_LOG_IR) {
            instruction = record->value;
        }
        step.entries.push_back(std::move(entry));
        last_ = record;
    }
    if (ops != nullptr) {
        annotate(&step, node_address, ops, under);
    }
    if (!keep_) {
        // Nobody reads these records again: let the library free them.
        sld_clear_scx_log();
        last_ = nullptr;
    } else if (!step.entries.empty()) {
        steps_.push_back(std::move(step));
    }
}

void ScanLog::annotate(LogStep *step, unsigned node_address, std::vector<ToolStep> *ops,
                       const std::vector<unsigned long> &under) {
    std::vector<LogEntry> &entries = step->entries;
    // Entries the library does not record, each to go before entries[first].
    std::vector<std::pair<size_t, LogEntry>> added;
    size_t cursor = 0;
    for (ToolStep &tool : *ops) {
        const Operation &op = *tool.op;
        if (!is_scan(op)) {
            added.emplace_back(cursor,
                               tool_entry(op.kind == OpKind::rti ? LogKind::rti : LogKind::delay, op.value));
            continue;
        }
        VirtualIr vir;
        size_t found = cursor;
        while (found < entries.size() &&
               !carries(entries[found], under[found], op, step->node_count, node_address, &vir)) {
            ++found;
        }
        if (found == entries.size()) {
            continue;
        }
        LogEntry &entry = entries[found];
        if (op.kind == OpKind::dr && tool.captured != nullptr) {
            entry.captured_bits = op.length;
            entry.captured = *tool.captured;
        } else if (op.kind == OpKind::ir) {
            tool.vir_length = entry.value;
            // The capture comes back in an unsigned long.
            const unsigned known = vir.ir_width < sizeof(unsigned long) * CHAR_BIT
                                       ? vir.ir_width
                                       : static_cast<unsigned>(sizeof(unsigned long) * CHAR_BIT);
            entry.captured_bits = known;
            entry.captured = value_bits(tool.captured_ir, known);
        }
        cursor = found + 1;
        if (op.delay != 0) {
            added.emplace_back(cursor, tool_entry(LogKind::delay, op.delay));
        }
    }
    if (added.empty()) {
        return;
    }
    std::vector<LogEntry> merged;
    merged.reserve(entries.size() + added.size());
    size_t next = 0;
    for (size_t i = 0; i <= entries.size(); ++i) {
        while (next < added.size() && added[next].first == i) {
            merged.push_back(std::move(added[next++].second));
        }
        if (i < entries.size()) {
            merged.push_back(std::move(entries[i]));
        }
    }
    entries.swap(merged);
}

void ScanLog::finish() {
    if (!started_) {
        return;
    }
    take("other scans", "", 0);
    sld_disable_scx_log();
    sld_clear_scx_log();
    last_ = nullptr;
    started_ = false;
}

size_t entry_count(const std::vector<LogStep> &steps) {
    size_t count = 0;
    for (const LogStep &step : steps) {
        for (const LogEntry &entry : step.entries) {
            count += entry.recorded();
        }
    }
    return count;
}

} // namespace sldtool
