// The hub: information readout, node selection, instruction capture on
// both hub versions, and broadcast.
#include "sim_helpers.h"

namespace {

uint32_t info(unsigned low8, unsigned manufacturer, unsigned count_or_id, unsigned version) {
    return low8 | manufacturer << 8 | count_or_id << 19 | version << 27;
}

} // namespace

class HubTest : public SimWorld {
  protected:
    // What discovery does: IR 14, 64 zero bits, IR 12, then `words` words
    // read as eight 4-bit scans each, least significant nibble first.
    std::vector<uint32_t> readout(SCX_OPEN *h, size_t words) {
        ir(h, 14);
        dr(h, 64, 0);
        ir(h, 12);
        std::vector<uint32_t> out;
        for (size_t w = 0; w < words; ++w) {
            uint32_t word = 0;
            for (int i = 0; i < 8; ++i)
                word |= uint32_t(dr(h, 4, 0) & 0xF) << (4 * i);
            out.push_back(word);
        }
        return out;
    }
};

TEST_F(HubTest, ReadoutGivesTheHubWordThenEachNodeWordAndWraps) {
    SCX_OPEN *h = open(1, 0);
    std::vector<uint32_t> words = readout(h, 6);
    EXPECT_EQ(info(8, 110, 4, 1), words[0]);
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_EQ(info(0, 110, i + 1, 1), words[1 + i]) << "node " << i;
    EXPECT_EQ(words[0], words[5]) << "starts again after the last node";
    scx_close_device(h);

    SCX_OPEN *old = open(1, 2), *b = open(2, 0);
    EXPECT_EQ(info(8, 110, 1, 2), readout(old, 1)[0]);
    std::vector<uint32_t> wb = readout(b, 3);
    EXPECT_EQ(info(6, 110, 2, 0), wb[0]);
    EXPECT_EQ(info(0, 110, 1, 1), wb[1]);
    EXPECT_EQ(info(0, 110, 4, 1), wb[2]);
    scx_close_device(old);
    scx_close_device(b);
}

TEST_F(HubTest, ADeviceWithoutAHubReadsBypassZeros) {
    SCX_OPEN *h = open(1, 1);
    EXPECT_EQ(0u, readout(h, 1)[0]);
    scx_close_device(h);
}

TEST_F(HubTest, NodeAddressesSelectAndLoadNodes) {
    SCX_OPEN *h = open(1, 0);
    vir(h, HUB_M, HUB_N, 0xA5, SHIFT + 1);
    if (world().simulated()) {
        unsigned long instruction = 0;
        ASSERT_TRUE(scxsim::node_instruction(1, 0, SHIFT, &instruction));
        EXPECT_EQ(0xA5u, instruction);
        ASSERT_TRUE(scxsim::node_instruction(1, 0, MEMORY, &instruction));
        EXPECT_EQ(0u, instruction) << "other nodes keep theirs";
    }

    // Address 6 has no node: the data register is one bypass bit.
    vir(h, HUB_M, HUB_N, 1, 6);
    ir(h, 12);
    EXPECT_EQ(0x3u << (1 + world().bypass_bits(1)), dr(h, 8, 0x3));
    // Re-selecting the hub after instruction 0 restarts the readout.
    EXPECT_EQ(info(8, 110, 4, 1), readout(h, 1)[0]);
    scx_close_device(h);
}

TEST_F(HubTest, VersionOneCapturesOnlyAfterForceCapture) {
    SCX_OPEN *h = open(1, 0);
    vir(h, HUB_M, HUB_N, 0x2, PROBE + 1);
    // Without a force capture the instruction field captures 0; the address
    // field shows the selected node.
    EXPECT_EQ(uint64_t(PROBE + 1) << HUB_M, vir(h, HUB_M, HUB_N, 0x2, PROBE + 1));
    // Force capture for address A is hub instruction 8A + 3.
    vir(h, HUB_M, HUB_N, 8 * (PROBE + 1) + 3, 0);
    EXPECT_EQ(0x2u, vir(h, HUB_M, HUB_N, 0x1, PROBE + 1) & 0xFF);
    EXPECT_EQ(0x0u, vir(h, HUB_M, HUB_N, 0x1, PROBE + 1) & 0xFF) << "presented once";
    // A force capture naming no node presents 0.
    vir(h, HUB_M, HUB_N, 8 * 7 + 3, 0);
    EXPECT_EQ(0x0u, vir(h, HUB_M, HUB_N, 0x1, PROBE + 1) & 0xFF);
    scx_close_device(h);
}

TEST_F(HubTest, VersionZeroCapturesTheSelectedNodesInstruction) {
    SCX_OPEN *h = open(2, 0); // m = 6, two nodes, n = 2
    vir(h, 6, 2, 0x3, 1);
    vir(h, 6, 2, 0x2A, 2);
    // The capture is the node selected before this scan: node 1.
    EXPECT_EQ(0x2Au | 2u << 6, vir(h, 6, 2, 0x1, 1));
    EXPECT_EQ(0x1u | 1u << 6, vir(h, 6, 2, 0x3, 1));
    // The hub itself captures 0.
    vir(h, 6, 2, 0, 0);
    EXPECT_EQ(0u, vir(h, 6, 2, 0, 0));
    scx_close_device(h);
}

TEST_F(HubTest, BroadcastLoadsNodeInstructionsTogetherAtTheEnd) {
    REQUIRE_SIMULATED();
    SCX_OPEN *h = open(1, 0);
    vir(h, HUB_M, HUB_N, 1, 0); // begin
    vir(h, HUB_M, HUB_N, 0x11, MEMORY + 1);
    vir(h, HUB_M, HUB_N, 0x33, SHIFT + 1);
    vir(h, HUB_M, HUB_N, 0x34, SHIFT + 1); // the last value counts
    unsigned long i0 = 9, i3 = 9;
    scxsim::node_instruction(1, 0, MEMORY, &i0);
    scxsim::node_instruction(1, 0, SHIFT, &i3);
    EXPECT_EQ(0u, i0);
    EXPECT_EQ(0u, i3);
    vir(h, HUB_M, HUB_N, 2, 0); // end
    scxsim::node_instruction(1, 0, MEMORY, &i0);
    scxsim::node_instruction(1, 0, SHIFT, &i3);
    EXPECT_EQ(0x11u, i0);
    EXPECT_EQ(0x34u, i3);
    // After the end, writes take effect at once; a stray end changes nothing.
    vir(h, HUB_M, HUB_N, 0x22, MEMORY + 1);
    vir(h, HUB_M, HUB_N, 2, 0);
    scxsim::node_instruction(1, 0, MEMORY, &i0);
    EXPECT_EQ(0x22u, i0);
    scx_close_device(h);
}

TEST_F(HubTest, HandlesOfOneDeviceShareItsState) {
    SCX_OPEN *a = open(1, 0), *b = open(1, 0);
    select(a, HUB_M, HUB_N, SHIFT, 1);
    dr(a, 8, 0x5C);
    EXPECT_EQ(0x5Cu, dr(b, 8, 0)) << "the instruction and selection are the device's";
    scx_close_device(a);
    scx_close_device(b);
}
