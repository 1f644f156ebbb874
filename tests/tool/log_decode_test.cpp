// Taking the scan log apart: virtual instruction scans by node address and
// instruction, device instructions by name, runs of equal scans folded.
#include <gtest/gtest.h>

#include <sstream>

#include "log_decode.h"

using namespace sldtool;

namespace {

LogEntry ir(unsigned long instruction) {
    LogEntry entry;
    entry.kind = LogKind::ir;
    entry.value = instruction;
    return entry;
}

LogEntry dr(unsigned long length, std::vector<uint8_t> data) {
    LogEntry entry;
    entry.kind = LogKind::dr;
    entry.value = length;
    entry.has_data = true;
    entry.data = data;
    return entry;
}

LogStep step(const std::string &label, const std::string &device, unsigned node_count,
             std::vector<LogEntry> entries) {
    LogStep s;
    s.label = label;
    s.device = device;
    s.node_count = node_count;
    s.entries = entries;
    return s;
}

std::string decoded(const std::vector<LogStep> &steps) {
    std::ostringstream out;
    write_decoded_log(out, steps);
    return out.str();
}

} // namespace

TEST(AddressWidth, IsTheBitLengthOfTheNodeCount) {
    EXPECT_EQ(address_width(0), 0u);
    EXPECT_EQ(address_width(1), 1u);
    EXPECT_EQ(address_width(3), 2u);
    EXPECT_EQ(address_width(4), 3u);
    EXPECT_EQ(address_width(127), 7u);
    EXPECT_EQ(address_width(128), 8u);
    EXPECT_EQ(address_width(255), 8u);
}

TEST(VirtualIrSplit, RecoversAddressAndInstructionFromEncodedScans) {
    VirtualIr vir;
    // m = 10, n = 7: node index 99 (address 100) with 0x2AB.
    ASSERT_TRUE(split_virtual_ir(dr(17, {0xAB, 0x92, 0x01}), 100, &vir));
    EXPECT_EQ(vir.ir_width, 10u);
    EXPECT_EQ(vir.address, 100u);
    EXPECT_EQ(vir.instruction, 0x2ABu);
    // m = 32, n = 8: all five bytes, address 255.
    ASSERT_TRUE(split_virtual_ir(dr(40, {0xEF, 0xCD, 0xAB, 0x89, 0xFF}), 255, &vir));
    EXPECT_EQ(vir.ir_width, 32u);
    EXPECT_EQ(vir.address, 255u);
    EXPECT_EQ(vir.instruction, 0x89ABCDEFu);
    // m = 6, n = 3: the top address bit spills into the second byte.
    ASSERT_TRUE(split_virtual_ir(dr(9, {0xEA, 0x00}), 4, &vir));
    EXPECT_EQ(vir.address, 3u);
    EXPECT_EQ(vir.instruction, 0x2Au);
    // Bits beyond the scan length never reach the fields.
    ASSERT_TRUE(split_virtual_ir(dr(11, {0x02, 0xF8}), 4, &vir));
    EXPECT_EQ(vir.address, 0u);
    EXPECT_EQ(vir.instruction, 2u);
}

TEST(VirtualIrSplit, RefusesWhatCannotBeTakenApart) {
    VirtualIr vir;
    LogEntry no_data = dr(11, {});
    no_data.has_data = false;
    EXPECT_FALSE(split_virtual_ir(no_data, 4, &vir));
    EXPECT_FALSE(split_virtual_ir(dr(11, {0, 0}), 0, &vir)); // node count unknown
    EXPECT_FALSE(split_virtual_ir(dr(3, {0}), 4, &vir));     // no instruction bits
    EXPECT_FALSE(split_virtual_ir(ir(14), 4, &vir));
    // An instruction field wider than 64 bits.
    EXPECT_FALSE(split_virtual_ir(dr(80, std::vector<uint8_t>(10, 0)), 4, &vir));
}

TEST(VirtualIrDescription, NamesNodesAndHubInstructions) {
    VirtualIr vir;
    vir.address = 2;
    vir.instruction = 3;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "node 1 (address 2), instruction 0x3");
    vir.address = 0;
    vir.instruction = 0;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "hub (address 0), instruction 0x0: information readout");
    vir.instruction = 1;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "hub (address 0), instruction 0x1: broadcast begin");
    vir.instruction = 2;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "hub (address 0), instruction 0x2: broadcast end");
    vir.instruction = 2 * 8 + 11;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "hub (address 0), instruction 0x1b: force capture of node 2");
    // A force-capture value for a node the hub does not have is not named.
    vir.instruction = 4 * 8 + 11;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "hub (address 0), instruction 0x2b");
    vir.address = 6;
    vir.instruction = 1;
    EXPECT_EQ(describe_virtual_ir(vir, 4), "address 6 (no such node), instruction 0x1");
}

TEST(DecodedLog, DecodesByTheInstructionLoadedOnEachDevice) {
    const std::string a = "cable-1 @1";
    const std::string b = "cable-1 @2";
    std::vector<LogStep> steps = {
        step("first", a, 4,
             {ir(14), dr(11, {0x02, 0x02}), ir(12), dr(4, {0}), dr(4, {0}), dr(4, {0}), dr(8, {0x5A})}),
        // Same device, no new instruction: still a data scan under 12.
        step("second", a, 4, {dr(8, {0xA5})}),
        // Another device starts with nothing known.
        step("third", b, 4, {dr(11, {0x02, 0x02})}), step("fourth", a, 4, {ir(14), dr(11, {0x02, 0x04})})};
    const std::string text = decoded(steps);
    EXPECT_NE(text.find("scan log: 11 records\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[first]\n"), std::string::npos);
    EXPECT_NE(text.find("#1              IR 14  select virtual instruction register\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("#2              DR 11 bits 0x202  node 1 (address 2), instruction 0x2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("#3              IR 12  select virtual data register\n"), std::string::npos);
    EXPECT_NE(text.find("#4-#6           DR 4 bits 0x0  virtual data scan  (3 scans)\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("#7              DR 8 bits 0x5a  virtual data scan\n"), std::string::npos);
    EXPECT_NE(text.find("[second]\n  #8              DR 8 bits 0xa5  virtual data scan\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[third]\n  #9              DR 11 bits 0x202\n"), std::string::npos) << text;
    EXPECT_NE(text.find("#11             DR 11 bits 0x402  node 3 (address 4), instruction 0x2\n"),
              std::string::npos)
        << text;
}

TEST(DecodedLog, ShowsScansWithoutDataAndUnknownHubs) {
    LogEntry read_only = dr(16, {});
    read_only.has_data = false;
    std::vector<LogStep> steps = {
        step("open", "x", 0, {ir(14), dr(64, std::vector<uint8_t>(8, 0)), ir(12), read_only, ir(5)})};
    const std::string text = decoded(steps);
    // Node count unknown: the scan under 14 is shown, not taken apart.
    EXPECT_NE(text.find("DR 64 bits 0x0000000000000000  virtual instruction scan\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("DR 16 bits (nothing written)  virtual data scan\n"), std::string::npos) << text;
    EXPECT_NE(text.find("IR 5\n"), std::string::npos) << text;
}
