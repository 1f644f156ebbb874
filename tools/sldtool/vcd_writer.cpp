#include "vcd_writer.h"

#include <cstdint>
#include <map>
#include <string>

#include "log_decode.h"

#ifndef SLDTOOL_VERSION
#define SLDTOOL_VERSION "unknown"
#endif

namespace sldtool {

namespace {

struct Signal {
    const char *id;
    const char *name;
    unsigned width;
};

const Signal TCK = {"!", "tck", 1};
const Signal TDI = {"\"", "tdi", 1};
const Signal SHIFT_DR = {"#", "shift_dr", 1};
const Signal INSTRUCTION = {"$", "instruction", 32};
const Signal DR_LENGTH = {"%", "dr_length", 32};
const Signal VIR_ADDRESS = {"&", "vir_address", 8};
const Signal VIR_VALUE = {"'", "vir_value", 64};
const Signal RECORD = {"(", "record", 32};
const Signal STEP = {")", "step", 32};
const Signal TDO = {"*", "tdo", 1};
const Signal RTI = {"+", "rti", 32};
const Signal DELAY = {",", "delay", 32};
const Signal *const SIGNALS[] = {&TCK,         &TDI,       &TDO,    &SHIFT_DR, &INSTRUCTION, &DR_LENGTH,
                                 &VIR_ADDRESS, &VIR_VALUE, &RECORD, &STEP,     &RTI,         &DELAY};

std::string binary(uint64_t value) {
    std::string text;
    do {
        text.insert(text.begin(), (value & 1) ? '1' : '0');
        value >>= 1;
    } while (value != 0);
    return text;
}

// Writes value changes only, grouped under one time stamp each.
class Dump {
  public:
    explicit Dump(std::ostream &out) : out_(out) {}

    void set(const Signal &signal, const std::string &value) {
        std::string &last = values_[signal.id];
        if (last == value) {
            return;
        }
        last = value;
        stamp();
        if (signal.width == 1) {
            out_ << value << signal.id << "\n";
        } else {
            out_ << "b" << value << " " << signal.id << "\n";
        }
    }
    void set(const Signal &signal, uint64_t value) {
        set(signal, signal.width == 1 ? std::string(value ? "1" : "0") : binary(value));
    }
    // Writes the current time unless already written.
    void stamp() {
        if (!stamped_) {
            out_ << "#" << time_ << "\n";
            stamped_ = true;
        }
    }
    void advance() {
        ++time_;
        stamped_ = false;
    }
    void finish() { out_ << "#" << time_ << "\n"; }

  private:
    std::ostream &out_;
    std::map<std::string, std::string> values_;
    uint64_t time_ = 0;
    bool stamped_ = false;
};

void write_header(std::ostream &out) {
    out << "$version sldtool " << SLDTOOL_VERSION << " $end\n";
    out << "$comment scan log; one time unit is half a tck period, not real time $end\n";
    out << "$timescale 1ns $end\n";
    out << "$scope module sld_scan_log $end\n";
    for (const Signal *signal : SIGNALS) {
        out << "$var wire " << signal->width << " " << signal->id << " " << signal->name << " $end\n";
    }
    out << "$upscope $end\n";
    out << "$enddefinitions $end\n";
}

void write_initial_values(std::ostream &out, Dump &dump) {
    dump.stamp();
    out << "$dumpvars\n";
    dump.set(TCK, uint64_t(0));
    dump.set(TDI, "x");
    dump.set(TDO, "x");
    dump.set(SHIFT_DR, uint64_t(0));
    dump.set(INSTRUCTION, "x");
    dump.set(DR_LENGTH, uint64_t(0));
    dump.set(VIR_ADDRESS, "x");
    dump.set(VIR_VALUE, "x");
    dump.set(RECORD, uint64_t(0));
    dump.set(STEP, uint64_t(0));
    dump.set(RTI, uint64_t(0));
    dump.set(DELAY, uint64_t(0));
    out << "$end\n";
    dump.advance();
}

void write_dr(Dump &dump, const LogEntry &entry, unsigned long instruction, unsigned node_count) {
    dump.set(DR_LENGTH, entry.value);
    VirtualIr vir;
    if (instruction == SLD_IR_SELECT_VIR && split_virtual_ir(entry, node_count, &vir)) {
        dump.set(VIR_ADDRESS, vir.address);
        dump.set(VIR_VALUE, vir.instruction);
    } else {
        dump.set(VIR_ADDRESS, "x");
        dump.set(VIR_VALUE, "x");
    }
    dump.set(SHIFT_DR, uint64_t(1));
    const bool known = entry.has_data && entry.data.size() * 8 >= entry.value;
    const unsigned long captured = entry.captured.size() * 8 >= entry.captured_bits ? entry.captured_bits : 0;
    for (unsigned long j = 0; j < entry.value; ++j) {
        dump.set(TCK, uint64_t(0));
        dump.set(TDI,
                 known ? std::string((entry.data[j / 8] >> (j % 8)) & 1u ? "1" : "0") : std::string("x"));
        dump.set(TDO, j < captured ? std::string((entry.captured[j / 8] >> (j % 8)) & 1u ? "1" : "0")
                                   : std::string("x"));
        dump.advance();
        dump.set(TCK, uint64_t(1));
        dump.advance();
    }
    dump.set(TCK, uint64_t(0));
    dump.set(TDO, "x");
    dump.set(SHIFT_DR, uint64_t(0));
    dump.advance();
}

// A run-test-idle or delay step: its value for two time units.
void write_pause(Dump &dump, const Signal &signal, unsigned long value) {
    dump.set(signal, value);
    dump.advance();
    dump.advance();
    dump.set(signal, uint64_t(0));
}

} // namespace

void write_vcd(std::ostream &out, const std::vector<LogStep> &steps) {
    write_header(out);
    Dump dump(out);
    write_initial_values(out, dump);
    std::map<std::string, unsigned long> loaded;
    uint64_t record = 0;
    for (size_t s = 0; s < steps.size(); ++s) {
        const LogStep &step = steps[s];
        unsigned long &instruction = loaded.emplace(step.device, SLD_IR_UNKNOWN).first->second;
        dump.set(STEP, s + 1);
        dump.set(INSTRUCTION, instruction == SLD_IR_UNKNOWN ? std::string("x") : binary(instruction));
        for (const LogEntry &entry : step.entries) {
            if (entry.kind == LogKind::rti || entry.kind == LogKind::delay) {
                write_pause(dump, entry.kind == LogKind::rti ? RTI : DELAY, entry.value);
                continue;
            }
            dump.set(RECORD, ++record);
            if (entry.kind == LogKind::ir) {
                instruction = entry.value;
                dump.set(INSTRUCTION, entry.value);
                dump.advance();
            } else {
                write_dr(dump, entry, instruction, step.node_count);
            }
        }
    }
    dump.finish();
}

} // namespace sldtool
