// The VCD waveform of a scan log: a file a viewer accepts, and one whose
// signals replay the scans that were logged.
#include <gtest/gtest.h>

#include <sstream>

#include "vcd_reader.h"
#include "vcd_writer.h"

using namespace sldtool;

namespace {

LogEntry entry(LogKind kind, unsigned long value, std::vector<uint8_t> data, bool has_data = true) {
    LogEntry e;
    e.kind = kind;
    e.value = value;
    e.has_data = has_data;
    e.data = data;
    return e;
}

// Replays a parsed dump: the instruction when each data scan started, the
// tdi bits sampled on tck's rising edges while shift_dr is high, and the
// vir fields shown during the scan.
struct Replayed {
    std::vector<std::string> scans; // tdi bits, scan bit 0 first
    std::vector<std::string> instruction_at_scan;
    std::vector<std::string> vir_address_at_scan;
    std::vector<std::string> vir_value_at_scan;
};

Replayed replay(const VcdFile &file) {
    std::map<std::string, std::string> now;
    Replayed out;
    const std::string tck = file.id_of("tck"), tdi = file.id_of("tdi"), shift = file.id_of("shift_dr");
    for (size_t i = 0; i < file.changes.size();) {
        // Apply every change of one time stamp, then look at the edges.
        const std::map<std::string, std::string> before = now;
        const uint64_t time = file.changes[i].time;
        for (; i < file.changes.size() && file.changes[i].time == time; ++i) {
            now[file.changes[i].id] = file.changes[i].value;
        }
        auto was = [&](const std::string &id) {
            auto it = before.find(id);
            return it == before.end() ? std::string() : it->second;
        };
        if (now[shift] == "1" && was(shift) != "1") {
            out.scans.emplace_back();
            out.instruction_at_scan.push_back(now[file.id_of("instruction")]);
            out.vir_address_at_scan.push_back(now[file.id_of("vir_address")]);
            out.vir_value_at_scan.push_back(now[file.id_of("vir_value")]);
        }
        if (now[shift] == "1" && now[tck] == "1" && was(tck) != "1") {
            out.scans.back() += now[tdi];
        }
    }
    return out;
}

VcdFile parsed(const std::vector<LogStep> &steps) {
    std::stringstream text;
    write_vcd(text, steps);
    VcdFile file;
    std::string error;
    EXPECT_TRUE(read_vcd(text, &file, &error)) << error << "\n" << text.str();
    return file;
}

} // namespace

TEST(VcdWriter, WritesAFileTheReaderAcceptsWithEverySignalDeclared) {
    LogStep step;
    step.device = "d";
    step.node_count = 4;
    step.entries = {entry(LogKind::ir, 14, {}), entry(LogKind::dr, 11, {0x02, 0x02})};
    VcdFile file = parsed({step});
    EXPECT_EQ(file.timescale, "1ns");
    for (const char *name : {"tck", "tdi", "shift_dr", "instruction", "dr_length", "vir_address", "vir_value",
                             "record", "step"}) {
        EXPECT_NE(file.id_of(name), "") << name;
    }
    EXPECT_EQ(file.signals[file.id_of("instruction")].width, 32u);
    // An empty log is still a valid file.
    VcdFile empty = parsed({});
    EXPECT_FALSE(empty.changes.empty());
}

TEST(VcdWriter, ReplaysTheLoggedScansBitForBit) {
    LogStep first;
    first.device = "d";
    first.node_count = 4;
    first.entries = {entry(LogKind::ir, 14, {}), entry(LogKind::dr, 11, {0x05, 0x03}),
                     entry(LogKind::ir, 12, {}), entry(LogKind::dr, 9, {0xA5, 0x01})};
    LogStep second;
    second.device = "d";
    second.node_count = 4;
    second.entries = {entry(LogKind::dr, 3, {}, false)};
    VcdFile file = parsed({first, second});
    Replayed r = replay(file);
    ASSERT_EQ(r.scans.size(), 3u);
    EXPECT_EQ(r.scans[0], "10100000110"); // 0x305, bit 0 first
    EXPECT_EQ(r.scans[1], "101001011");   // 0x1a5, bit 0 first
    EXPECT_EQ(r.scans[2], "xxx");         // nothing written
    EXPECT_EQ(r.instruction_at_scan[0], "1110");
    EXPECT_EQ(r.instruction_at_scan[1], "1100");
    // The device keeps instruction 12 into the next step.
    EXPECT_EQ(r.instruction_at_scan[2], "1100");
    // The virtual instruction scan is taken apart: node 2 (address 3), 5.
    EXPECT_EQ(r.vir_address_at_scan[0], "11");
    EXPECT_EQ(r.vir_value_at_scan[0], "101");
    EXPECT_EQ(r.vir_address_at_scan[1], "x");
}

TEST(VcdReader, RejectsBrokenFiles) {
    const char *broken[] = {
        "$timescale 1ns $end $scope module m $end $var wire 1 ! a $end $upscope $end $enddefinitions $end #0 "
        "1?",
        "$timescale 1ns $end $scope module m $end $var wire 1 ! a $end $upscope $end $enddefinitions $end #1 "
        "1! #1 0!",
        "$timescale 1ns $end $scope module m $end $var wire 2 ! a $end $upscope $end $enddefinitions $end #0 "
        "b101 !",
        "$timescale 1ns $end $scope module m $end $var wire 1 ! a $end $enddefinitions $end",
        "$timescale 1ns $end $scope module m $end $var wire 1 ! a $end $upscope $end $enddefinitions $end 1!",
    };
    for (const char *text : broken) {
        std::istringstream in(text);
        VcdFile file;
        std::string error;
        EXPECT_FALSE(read_vcd(in, &file, &error)) << text;
    }
}
