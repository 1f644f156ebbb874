#include "numbers.h"
#include "report.h"

namespace sldtool {

namespace {

class TextReporter : public Reporter {
  public:
    TextReporter(std::ostream &out, TextStyle style) : out_(out), style_(style) {}

    void step(const StepResult &result) override {
        const Operation &op = *result.op;
        if (style_ == TextStyle::batch) {
            out_ << "line " << op.line << ": " << op.text;
            if (is_scan(op)) {
                out_ << " -> ";
            }
        }
        if (op.kind == OpKind::ir) {
            out_ << (style_ == TextStyle::batch ? "captured " : "captured instruction ")
                 << hex(result.captured_ir);
        } else if (op.kind == OpKind::dr) {
            out_ << "captured " << format_hex_bits(result.captured->data(), op.length);
        }
        out_ << "\n";
    }

  private:
    std::ostream &out_;
    TextStyle style_;
};

} // namespace

std::unique_ptr<Reporter> text_reporter(std::ostream &out, TextStyle style) {
    return std::unique_ptr<Reporter>(new TextReporter(out, style));
}

} // namespace sldtool
