#include "batch_run.h"

#include <string>

#include "errors.h"
#include "numbers.h"
#include "sld.h"

namespace sldtool {

namespace {

bool is_scan(const BatchLine &line) {
    return line.op == BatchOp::ir || line.op == BatchOp::dr;
}

std::string lines_text(const std::vector<BatchLine> &lines, size_t first, size_t end) {
    std::string text = "batch line " + std::to_string(lines[first].line);
    if (end - first > 1) {
        text = "batch lines " + std::to_string(lines[first].line) + "-" + std::to_string(lines[end - 1].line);
    }
    return text;
}

// Runs lines[first, end), all ir or dr, with one sld_node_batch_access.
void run_scans(const OpenNode &node, const std::vector<BatchLine> &lines, size_t first, size_t end,
               ScanLog *log, std::ostream &out) {
    const size_t count = end - first;
    std::vector<SLD_BATCH_ACCESS> records(count + 1, SLD_BATCH_ACCESS());
    std::vector<unsigned long> instructions(count, 0);
    std::vector<std::vector<uint8_t>> captures(count);
    for (size_t k = 0; k < count; ++k) {
        const BatchLine &line = lines[first + k];
        SLD_BATCH_ACCESS &record = records[k];
        record.delay = line.delay;
        if (line.op == BatchOp::ir) {
            record.kind = SLD_BATCH_IR;
            record.write = line.value;
            record.read = reinterpret_cast<unsigned long>(&instructions[k]);
        } else {
            captures[k].assign((line.length + 7) / 8, 0);
            record.kind = SLD_BATCH_DR;
            record.write = line.has_data ? reinterpret_cast<unsigned long>(line.data.data()) : 0;
            record.read = reinterpret_cast<unsigned long>(captures[k].data());
            record.length = line.length;
        }
    }
    records[count].kind = SLD_BATCH_END;
    int status = sld_node_batch_access(node.node_id(), records.data());
    const std::string what = lines_text(lines, first, end);
    if (log != nullptr) {
        log->take(what + " on node " + std::to_string(node.index()) + " of " + node.where(), node.where(),
                  node.node_count());
    }
    check_status(status, what + ": sld_node_batch_access (the batch stops at the first failing scan)");
    for (size_t k = 0; k < count; ++k) {
        const BatchLine &line = lines[first + k];
        out << "line " << line.line << ": " << line.text << " -> captured ";
        if (line.op == BatchOp::ir) {
            out << hex(instructions[k]) << "\n";
        } else {
            out << format_hex_bits(captures[k].data(), line.length) << "\n";
        }
    }
}

void run_other(const OpenNode &node, const BatchLine &line, ScanLog *log, std::ostream &out) {
    const bool rti = line.op == BatchOp::rti;
    int status = rti ? sld_node_rti(node.node_id(), line.value) : sld_node_delay(node.node_id(), line.value);
    const std::string what = "batch line " + std::to_string(line.line);
    if (log != nullptr) {
        log->take(what + " on node " + std::to_string(node.index()) + " of " + node.where(), node.where(),
                  node.node_count());
    }
    check_status(status, what + (rti ? ": sld_node_rti" : ": sld_node_delay"));
    out << "line " << line.line << ": " << line.text << "\n";
}

} // namespace

void run_batch(const ScanOptions &options, const std::vector<BatchLine> &lines, ScanLog *log,
               std::ostream &out) {
    OpenNode node(options.target, log);
    HubLock lock(node.node_id(), options.timeout);
    for (size_t i = 0; i < lines.size();) {
        if (!is_scan(lines[i])) {
            run_other(node, lines[i], log, out);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < lines.size() && is_scan(lines[end])) {
            ++end;
        }
        run_scans(node, lines, i, end, log, out);
        i = end;
    }
    lock.release();
    node.close();
}

} // namespace sldtool
