#include "log_decode.h"

#include <map>
#include <sstream>

#include "numbers.h"
#include "printable.h"

namespace sldtool {

namespace {

bool bit_at(const std::vector<uint8_t> &data, unsigned long j) {
    return (data[j / 8] >> (j % 8)) & 1u;
}

uint64_t bit_field(const std::vector<uint8_t> &data, unsigned long from, unsigned count) {
    uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (bit_at(data, from + i)) {
            value |= uint64_t(1) << i;
        }
    }
    return value;
}

std::string hub_instruction_name(uint64_t value, unsigned node_count) {
    if (value == 0) {
        return "information readout";
    }
    if (value == 1) {
        return "broadcast begin";
    }
    if (value == 2) {
        return "broadcast end";
    }
    // Force capture of node index i is hub instruction 8 * i + 11.
    if (value >= 11 && (value - 11) % 8 == 0 && (node_count == 0 || (value - 11) / 8 < node_count)) {
        return "force capture of node " + std::to_string((value - 11) / 8);
    }
    return "";
}

bool same_scan(const LogEntry &a, const LogEntry &b) {
    return a.kind == b.kind && a.value == b.value && a.has_data == b.has_data && a.data == b.data &&
           a.captured_bits == b.captured_bits && a.captured == b.captured;
}

std::string data_text(const LogEntry &entry) {
    if (!entry.has_data) {
        return "(nothing written)";
    }
    if (entry.value == 0) {
        return "(no bits)";
    }
    if (entry.data.size() * 8 < entry.value) {
        return "(bits not recorded)";
    }
    return format_hex_bits(entry.data.data(), entry.value);
}

// "; captured 0x..." for the bits of the scan the tool knows, or empty.
std::string captured_text(const LogEntry &entry) {
    if (entry.captured_bits == 0 || entry.captured.size() * 8 < entry.captured_bits) {
        return "";
    }
    // Of its own virtual IR scans the tool knows the instruction field only.
    const std::string what = entry.captured_bits < entry.value ? "captured instruction " : "captured ";
    return "; " + what + format_hex_bits(entry.captured.data(), entry.captured_bits);
}

std::string range_text(size_t first, size_t count) {
    std::string text = "#" + std::to_string(first);
    if (count > 1) {
        text += "-#" + std::to_string(first + count - 1);
    }
    return text;
}

} // namespace

std::string instruction_name(unsigned long instruction) {
    if (instruction == SLD_IR_SELECT_VIR) {
        return "select virtual instruction register";
    }
    if (instruction == SLD_IR_SELECT_VDR) {
        return "select virtual data register";
    }
    return "";
}

std::string scan_meaning(const LogEntry &entry, unsigned long instruction, unsigned node_count) {
    if (instruction == SLD_IR_SELECT_VIR) {
        VirtualIr vir;
        if (split_virtual_ir(entry, node_count, &vir)) {
            return describe_virtual_ir(vir, node_count);
        }
        return "virtual instruction scan";
    }
    if (instruction == SLD_IR_SELECT_VDR) {
        return "virtual data scan";
    }
    return "";
}

unsigned address_width(unsigned node_count) {
    unsigned width = 0;
    while (node_count != 0) {
        ++width;
        node_count >>= 1;
    }
    return width;
}

bool split_virtual_ir(const LogEntry &entry, unsigned node_count, VirtualIr *vir) {
    const unsigned n = address_width(node_count);
    if (entry.kind != LogKind::dr || !entry.has_data || n == 0 || entry.value <= n ||
        entry.data.size() * 8 < entry.value) {
        return false;
    }
    const unsigned long m = entry.value - n;
    if (m > 64) {
        return false;
    }
    vir->ir_width = static_cast<unsigned>(m);
    vir->instruction = bit_field(entry.data, 0, vir->ir_width);
    vir->address = static_cast<unsigned>(bit_field(entry.data, m, n));
    return true;
}

std::string describe_virtual_ir(const VirtualIr &vir, unsigned node_count) {
    std::string text;
    if (vir.address == 0) {
        text = "hub (address 0), instruction " + hex(vir.instruction);
        std::string name = hub_instruction_name(vir.instruction, node_count);
        if (!name.empty()) {
            text += ": " + name;
        }
        return text;
    }
    if (vir.address > node_count) {
        return "address " + std::to_string(vir.address) + " (no such node), instruction " +
               hex(vir.instruction);
    }
    return "node " + std::to_string(vir.address - 1) + " (address " + std::to_string(vir.address) +
           "), instruction " + hex(vir.instruction);
}

void write_decoded_log(std::ostream &out, const std::vector<LogStep> &steps) {
    out << "scan log: " << entry_count(steps) << " records\n";
    // The instruction each device was left with, so that scans made under
    // a hub lock without a new instruction scan still decode.
    std::map<std::string, unsigned long> loaded;
    size_t index = 1;
    for (const LogStep &step : steps) {
        out << "[" << printable(step.label) << "]\n";
        unsigned long &instruction = loaded.emplace(step.device, SLD_IR_UNKNOWN).first->second;
        const std::vector<LogEntry> &entries = step.entries;
        for (size_t i = 0; i < entries.size();) {
            const LogEntry &entry = entries[i];
            if (!entry.recorded()) {
                // Not a record of the library: no number, no folding.
                out << std::string(18, ' ')
                    << (entry.kind == LogKind::rti
                            ? "RTI " + std::to_string(entry.value) + " TCK clocks in Run-Test/Idle"
                            : "delay " + std::to_string(entry.value) + " microseconds")
                    << "\n";
                ++i;
                continue;
            }
            size_t run = 1;
            while (i + run < entries.size() && entry.kind == LogKind::dr &&
                   same_scan(entry, entries[i + run])) {
                ++run;
            }
            // Records numbered in a column wide enough for "#1000-#1039".
            const std::string range = range_text(index, run);
            std::ostringstream line;
            line << "  " << range << std::string(range.size() < 16 ? 16 - range.size() : 1, ' ');
            if (entry.kind == LogKind::ir) {
                instruction = entry.value;
                line << "IR " << entry.value;
                std::string name = instruction_name(entry.value);
                if (!name.empty()) {
                    line << "  " << name;
                }
            } else {
                line << "DR " << entry.value << " bits " << data_text(entry);
                std::string meaning = scan_meaning(entry, instruction, step.node_count);
                if (!meaning.empty()) {
                    line << "  " << meaning;
                }
                line << captured_text(entry);
                if (run > 1) {
                    line << "  (" << run << " scans)";
                }
            }
            out << line.str() << "\n";
            index += run;
            i += run;
        }
    }
}

} // namespace sldtool
