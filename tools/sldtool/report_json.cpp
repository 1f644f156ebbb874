#include "json_types.h"
#include "log_json.h"
#include "numbers.h"
#include "report.h"

namespace sldtool {

namespace {

Json line_or_null(const Operation &op) {
    return op.line != 0 ? Json(op.line) : Json(nullptr);
}

Json step_json(const StepResult &result) {
    const Operation &op = *result.op;
    Json json;
    json["line"] = line_or_null(op);
    json["text"] = op.line != 0 ? Json(op.text) : Json(nullptr);
    switch (op.kind) {
    case OpKind::ir: {
        json["op"] = "ir";
        json["instruction"] = hex(op.value);
        const bool known = result.ir_width >= 0;
        const uint64_t mask =
            known && result.ir_width < 64 ? (uint64_t(1) << result.ir_width) - 1 : ~uint64_t(0);
        json["instruction_width"] = known ? Json(result.ir_width) : Json(nullptr);
        // Bits of a scan: as many digits as the instruction register has,
        // as in the scan log.
        const unsigned width = static_cast<unsigned>(result.ir_width);
        json["loaded"] = known ? Json(hex_bits(op.value & mask, width)) : Json(nullptr);
        json["captured"] = known ? hex_bits(result.captured_ir, width) : hex(result.captured_ir);
        json["delay"] = op.delay;
        break;
    }
    case OpKind::dr:
        json["op"] = "dr";
        json["length"] = op.length;
        json["written"] = op.has_data ? Json(format_hex_bits(op.data.data(), op.length)) : Json(nullptr);
        json["captured"] = format_hex_bits(result.captured->data(), op.length);
        json["delay"] = op.delay;
        break;
    case OpKind::rti:
        json["op"] = "rti";
        json["clocks"] = op.value;
        break;
    case OpKind::delay:
        json["op"] = "delay";
        json["microseconds"] = op.value;
        break;
    }
    return json;
}

// Writes the document as the command runs: the steps of a long batch are
// never held all at once.
class JsonReporter : public Reporter {
  public:
    JsonReporter(std::ostream &out, const std::string &command) : out_(out) {
        target_["cable"] = nullptr;
        head_["schema_version"] = SCHEMA_VERSION;
        head_["command"] = command;
    }

    void begin(const OpenNode &node) override {
        const Cable &cable = node.cable();
        target_["cable"] = cable.name;
        target_["full_name"] = cable.has_full_name ? Json(cable.full_name) : Json(nullptr);
        target_["persistent_id"] = cable.has_persistent_id ? Json(cable.persistent_id) : Json(nullptr);
        target_["device"] = node.device();
        target_["node"] = nullptr;
        target_["node_count"] = nullptr;
        begun_ = true;
    }

    void opened(const OpenNode &node) override {
        target_["node"] = node.index();
        target_["node_count"] = node.node_count();
    }

    void step(const StepResult &result) override {
        write_head();
        out_ << (steps_++ == 0 ? "\n    " : ",\n    ") << dump_json(step_json(result), -1);
    }

    void finish(const ToolError *failure, const std::vector<LogStep> *log) override {
        if (!begun_) {
            // Nothing was found to act on: the message on standard error says why.
            return;
        }
        write_head();
        out_ << (steps_ == 0 ? "]" : "\n  ]");
        Json tail;
        tail["error"] = failure != nullptr ? Json(failure->what()) : Json(nullptr);
        tail["status"] = failure != nullptr && failure->status() != 0
                             ? status_json(failure->status(), failure->call())
                             : Json(nullptr);
        tail["scan_log"] = log != nullptr ? log_json(*log) : Json(nullptr);
        for (auto it = tail.begin(); it != tail.end(); ++it) {
            out_ << ",\n  \"" << it.key() << "\": " << indented(dump_json(it.value()));
        }
        out_ << "\n}\n";
    }

  private:
    // The opening keys up to the start of "steps", once.
    void write_head() {
        if (head_written_) {
            return;
        }
        head_written_ = true;
        head_["target"] = target_;
        out_ << "{";
        const char *separator = "\n  ";
        for (auto it = head_.begin(); it != head_.end(); ++it) {
            out_ << separator << "\"" << it.key() << "\": " << indented(dump_json(it.value()));
            separator = ",\n  ";
        }
        out_ << ",\n  \"steps\": [";
    }

    // A value dumped at the top level, moved in to sit under a key.
    static std::string indented(const std::string &text) {
        std::string out;
        for (char c : text) {
            out += c;
            if (c == '\n') {
                out += "  ";
            }
        }
        return out;
    }

    std::ostream &out_;
    Json head_;
    Json target_;
    bool begun_ = false;
    bool head_written_ = false;
    size_t steps_ = 0;
};

} // namespace

std::unique_ptr<Reporter> json_reporter(std::ostream &out, const std::string &command) {
    return std::unique_ptr<Reporter>(new JsonReporter(out, command));
}

} // namespace sldtool
