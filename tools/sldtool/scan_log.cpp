#include "scan_log.h"

namespace sldtool {

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

void ScanLog::take(const std::string &label, const std::string &device, unsigned node_count) {
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
    for (; record != nullptr; record = record->next) {
        LogEntry entry;
        entry.kind = record->kind;
        entry.value = record->value;
        if (record->kind == SLD_LOG_DR && record->data != nullptr) {
            entry.has_data = true;
            // The library copies (length + 7) / 8 bytes, in 32-bit arithmetic.
            unsigned int bytes = (record->value + 7u) / 8u;
            entry.data.assign(record->data, record->data + bytes);
        }
        step.entries.push_back(entry);
        last_ = record;
    }
    if (!step.entries.empty()) {
        steps_.push_back(step);
    }
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
        count += step.entries.size();
    }
    return count;
}

} // namespace sldtool
