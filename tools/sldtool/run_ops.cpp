#include "run_ops.h"

#include <iostream>
#include <optional>
#include <string>

#include "errors.h"
#include "log_decode.h"
#include "numbers.h"
#include "sld.h"

namespace sldtool {

namespace {

// "batch lines 3-5" for batch lines, else what the operations are.
std::string ops_text(const std::vector<Operation> &ops) {
    if (ops.front().line != 0) {
        std::string text = "batch line " + std::to_string(ops.front().line);
        if (ops.size() > 1) {
            text = "batch lines " + std::to_string(ops.front().line) + "-" + std::to_string(ops.back().line);
        }
        return text;
    }
    std::string text;
    for (const Operation &op : ops) {
        text += (text.empty() ? "" : ", ") + describe(op);
    }
    return text;
}

void warn_if_cut(const Operation &op, int width) {
    if (width < 0 || width >= 64 || (uint64_t(op.value) >> width) == 0) {
        return;
    }
    const uint64_t loaded = op.value & ((uint64_t(1) << width) - 1);
    std::cerr << "sldtool: warning: " << (op.line != 0 ? "line " + std::to_string(op.line) + ": " : "")
              << "instruction " << hex(op.value) << " does not fit the node's " << width
              << "-bit instruction register; it was loaded as " << hex(loaded) << "\n";
}

class Runner {
  public:
    Runner(OpenNode &node, ScanLog &log, Reporter &report) : node_(node), log_(log), report_(report) {}

    // Runs ops, all scans, with one sld_node_batch_access.
    void scans(const std::vector<Operation> &ops) {
        const size_t count = ops.size();
        std::vector<SLD_BATCH_ACCESS> records(count + 1, SLD_BATCH_ACCESS());
        std::vector<unsigned long> instructions(count, 0);
        std::vector<std::vector<uint8_t>> captures(count);
        for (size_t k = 0; k < count; ++k) {
            const Operation &op = ops[k];
            SLD_BATCH_ACCESS &record = records[k];
            record.delay = op.delay;
            if (op.kind == OpKind::ir) {
                record.kind = SLD_BATCH_IR;
                record.write = op.value;
                record.read = reinterpret_cast<unsigned long>(&instructions[k]);
            } else {
                captures[k].assign((op.length + 7) / 8, 0);
                record.kind = SLD_BATCH_DR;
                record.write = op.has_data ? reinterpret_cast<unsigned long>(op.data.data()) : 0;
                record.read = reinterpret_cast<unsigned long>(captures[k].data());
                record.length = op.length;
            }
        }
        records[count].kind = SLD_BATCH_END;
        const int status = sld_node_batch_access(node_.node_id(), records.data());
        std::vector<ToolStep> steps(count);
        for (size_t k = 0; k < count; ++k) {
            steps[k].op = &ops[k];
            steps[k].captured_ir = instructions[k];
            steps[k].captured = &captures[k];
        }
        const std::string what = ops_text(ops);
        take(what, &steps);
        check_status(status, "sld_node_batch_access",
                     what + ": sld_node_batch_access (the run stops at the first failing scan)");
        const unsigned address_bits = address_width(node_.node_count());
        for (size_t k = 0; k < count; ++k) {
            StepResult result;
            result.op = &ops[k];
            result.captured_ir = instructions[k];
            result.captured = &captures[k];
            if (ops[k].kind == OpKind::ir && steps[k].vir_length > address_bits) {
                result.ir_width = static_cast<int>(steps[k].vir_length - address_bits);
                warn_if_cut(ops[k], result.ir_width);
            }
            report_.step(result);
        }
    }

    // Runs a run-test-idle or delay operation.
    void other(const Operation &op) {
        const bool rti = op.kind == OpKind::rti;
        const int status =
            rti ? sld_node_rti(node_.node_id(), op.value) : sld_node_delay(node_.node_id(), op.value);
        std::vector<ToolStep> steps(1);
        steps[0].op = &op;
        const std::string what = ops_text({op});
        take(what, &steps);
        const std::string call = rti ? "sld_node_rti" : "sld_node_delay";
        check_status(status, call, what + ": " + call);
        StepResult result;
        result.op = &op;
        report_.step(result);
    }

  private:
    void take(const std::string &what, std::vector<ToolStep> *steps) {
        log_.take(what + " on node " + std::to_string(node_.index()) + " of " + node_.where(), node_.where(),
                  node_.node_count(), node_.index() + 1, steps);
    }

    OpenNode &node_;
    ScanLog &log_;
    Reporter &report_;
};

} // namespace

void run_operations(const ScanOptions &options, OperationSource &ops, ScanLog &log, Reporter &report) {
    OpenNode node(options.target);
    report.begin(node);
    node.open(&log);
    report.opened(node);
    std::optional<HubLock> lock;
    if (options.lock) {
        lock.emplace(node.node_id(), options.timeout);
    }
    Runner runner(node, log, report);
    std::vector<Operation> scans;
    Operation op;
    bool more = ops.next(&op);
    while (more) {
        if (!is_scan(op)) {
            runner.other(op);
            more = ops.next(&op);
            continue;
        }
        scans.clear();
        while (more && is_scan(op) && scans.size() < MAX_SCANS_PER_CALL) {
            scans.push_back(std::move(op));
            more = ops.next(&op);
        }
        runner.scans(scans);
    }
    if (lock) {
        lock->release();
    }
    node.close();
}

} // namespace sldtool
