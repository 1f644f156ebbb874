// The hub contents and node id functions, and hub opening as discovery
// decides it, through the shared library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "scxsim.h"
#include "sim_fixture.h"
#include "sld.h"

namespace {

const char *const kCable = "SimCable-1";
const char *const kHubDevice = "@1: SIM-FPGA-A (0x020A10DD)"; // version 1, 4 nodes
const char *const kOldHubDevice = "@3: SIM-FPGA-OLD (0x12345093)";

class NodeApiTest : public SimTest {
  protected:
    int open_hub(const char *device = kHubDevice) {
        int hub = -1;
        EXPECT_EQ(SLD_OK, sld_hub_open(kCable, device, &hub));
        return hub;
    }
    // Makes every id of cable 1 stale.
    void unplug_cable() {
        ASSERT_TRUE(scxsim::remove_cable(1));
        sld_refresh_hardware();
    }
};

bool all_zero(const SLD_NODE_INFO &info) {
    static const unsigned char zero[sizeof(SLD_NODE_INFO)] = {};
    return std::memcmp(&info, zero, sizeof info) == 0;
}

} // namespace

TEST_F(NodeApiTest, NumberOfNodes) {
    unsigned char count = 77;
    EXPECT_EQ(SLD_NULL_ARGUMENT, sld_hub_get_number_of_nodes(0, nullptr));
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_get_number_of_nodes(5, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_get_number_of_nodes(-1, &count));
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_get_number_of_nodes(128, &count));

    int v0_hub = -1;
    ASSERT_EQ(SLD_OK, sld_hub_open("SimCable-2", "@1: SIM-FPGA-B (0x02B150DD)", &v0_hub));
    EXPECT_EQ(SLD_OK, sld_hub_get_number_of_nodes(v0_hub, &count));
    EXPECT_EQ(2, count);
    const int hub = open_hub();
    EXPECT_EQ(SLD_OK, sld_hub_get_number_of_nodes(hub, &count));
    EXPECT_EQ(4, count);

    unplug_cable();
    count = 77;
    EXPECT_EQ(SLD_STALE_ID, sld_hub_get_number_of_nodes(hub, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(SLD_OK, sld_hub_get_number_of_nodes(v0_hub, &count));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    EXPECT_EQ(SLD_OK, sld_hub_close(v0_hub));
}

TEST_F(NodeApiTest, NodeInfo) {
    SLD_NODE_INFO info;
    EXPECT_EQ(SLD_NULL_ARGUMENT, sld_hub_get_node_info(0, 0, nullptr));
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_get_node_info(0, 0, &info));
    EXPECT_TRUE(all_zero(info));

    const int hub = open_hub();
    for (unsigned char i = 0; i < 4; ++i) {
        std::memset(&info, 0xAA, sizeof info);
        ASSERT_EQ(SLD_OK, sld_hub_get_node_info(hub, i, &info));
        EXPECT_EQ(0, info.instance_id);
        EXPECT_EQ(0, info.reserved);
        EXPECT_EQ(110, info.manufacturer_id);
        EXPECT_EQ(i + 1, info.node_id);
        EXPECT_EQ(1, info.version);
    }
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(SLD_INVALID_NODE_INDEX, sld_hub_get_node_info(hub, 4, &info));
    EXPECT_TRUE(all_zero(info));
    EXPECT_EQ(SLD_INVALID_NODE_INDEX, sld_hub_get_node_info(hub, 255, &info));

    unplug_cable();
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(SLD_STALE_ID, sld_hub_get_node_info(hub, 0, &info));
    EXPECT_TRUE(all_zero(info));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

TEST_F(NodeApiTest, NodeOpenAndClose) {
    int node = 5;
    EXPECT_EQ(SLD_NULL_ARGUMENT, sld_node_open(0, 0, nullptr));
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_node_open(0, 0, &node));
    EXPECT_EQ(-1, node);

    const int hub = open_hub();
    node = 5;
    EXPECT_EQ(SLD_INVALID_NODE_INDEX, sld_node_open(hub, 4, &node));
    EXPECT_EQ(-1, node);

    // The same node twice: two ids, both counted against the hub id.
    int a = -1, b = -1;
    ASSERT_EQ(SLD_OK, sld_node_open(hub, 3, &a));
    ASSERT_EQ(SLD_OK, sld_node_open(hub, 3, &b));
    EXPECT_EQ(a + 1, b);
    EXPECT_EQ(SLD_HUB_HAS_OPEN_NODES, sld_hub_close(hub));
    EXPECT_EQ(SLD_OK, sld_node_close(a));
    EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_close(a));
    EXPECT_EQ(SLD_HUB_HAS_OPEN_NODES, sld_hub_close(hub));
    EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_close(-1));
    EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_close(512));

    // A node id whose hub went away still closes, and frees its hub id.
    unplug_cable();
    node = 5;
    EXPECT_EQ(SLD_STALE_ID, sld_node_open(hub, 0, &node));
    EXPECT_EQ(-1, node);
    EXPECT_EQ(SLD_HUB_HAS_OPEN_NODES, sld_hub_close(hub));
    EXPECT_EQ(SLD_OK, sld_node_close(b));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

TEST_F(NodeApiTest, AllNodeIdsInUse) {
    const int hub = open_hub();
    std::vector<int> nodes(512, -1);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(SLD_OK, sld_node_open(hub, static_cast<unsigned char>(i % 4), &nodes[i]));
    int extra = 5;
    EXPECT_EQ(SLD_NO_FREE_SLOT, sld_node_open(hub, 0, &extra));
    EXPECT_EQ(-1, extra);
    EXPECT_EQ(SLD_OK, sld_node_close(nodes[7]));
    EXPECT_EQ(SLD_OK, sld_node_open(hub, 2, &extra));
    EXPECT_EQ(nodes[7], extra);
    for (int id : nodes)
        EXPECT_EQ(SLD_OK, sld_node_close(id));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

// A hub that could not be examined is refused with the reason, never as
// "no hub": the device lock, the readout's instruction or data scans, a
// node word, or the unlock after a word that is no hub.
TEST_F(NodeApiTest, DiscoveryFailureRefusesTheHubWithItsReason) {
    const struct {
        scxsim::Fn fn;
        unsigned long call;
        SCX_ERROR code;
        SLD_ERROR status;
        const char *device;
    } faults[] = {
        {scxsim::Fn::lock, 1, 34, SLD_ALREADY_LOCKED, kHubDevice},
        {scxsim::Fn::access_ir, 1, 46, SLD_SERVER_ERROR_70, kHubDevice},
        {scxsim::Fn::access_dr, 4, 81, SLD_SERVER_ERROR, kHubDevice},
        {scxsim::Fn::access_dr, 41, 5, SLD_JTAG_ERROR, kHubDevice},
        {scxsim::Fn::unlock, 1, 88, SLD_SERVER_ERROR, "@2: SIM-CPLD (0x0A1B2C3D)"},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(testing::Message() << scxsim::fn_name(fault.fn) << " #" << fault.call);
        scxsim::fail_call(fault.fn, fault.call, fault.code);
        int hub = 5;
        EXPECT_EQ(fault.status, sld_hub_open(kCable, fault.device, &hub));
        EXPECT_EQ(-1, hub);
        EXPECT_EQ(0u, scxsim::open_handle_count(1));
        EXPECT_FALSE(scxsim::device_locked(1, 0));
        scxsim::clear_faults();
    }

    // Only the final unlock failing: the hub is complete and usable.
    scxsim::fail_call(scxsim::Fn::unlock, 1, 81);
    const int hub = open_hub();
    EXPECT_GE(hub, 0);
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

TEST_F(NodeApiTest, HubWordsDecideTheOpening) {
    int hub = 5;
    EXPECT_EQ(SLD_UNSUPPORTED_HUB, sld_hub_open(kCable, kOldHubDevice, &hub));
    EXPECT_EQ(-3, hub);
    hub = 5;
    EXPECT_EQ(SLD_HUB_NOT_FOUND, sld_hub_open(kCable, "@2: SIM-CPLD (0x0A1B2C3D)", &hub));
    EXPECT_EQ(-1, hub);

    // Another manufacturer's hub is not ours, whatever its version.
    load_board(
        R"({"cables":[{"persistent_id":1,"name":"SimCable-1","full_name":"SimCable-1 [sim:1]","devices":[
        {"idcode":"0x020A10DD","ir_length":10,"name":"SIM-FPGA-A",
         "hub":{"ir_width":8,"manufacturer":100,"version":3,"node_count":2}}]}]})");
    hub = 5;
    EXPECT_EQ(SLD_HUB_NOT_FOUND, sld_hub_open(kCable, kHubDevice, &hub));
    EXPECT_EQ(-1, hub);
    EXPECT_EQ(0u, scxsim::open_handle_count(1));
}

// On a version-1 hub a capture first sends hub instruction 8 x index + 11.
// With m = 4 that fits for node 0 only: a capture on node 2 is refused
// before anything reaches the chain (its high bit would have addressed
// node 0 with instruction 11), alone or in a batch; scans without a
// capture still reach node 2.
TEST_F(NodeApiTest, CaptureWhoseHubInstructionDoesNotFitIsRefused) {
    load_board(
        R"({"cables":[{"persistent_id":1,"name":"SimCable-1","full_name":"SimCable-1 [sim:1]","devices":[
        {"idcode":"0x020A10DD","ir_length":10,"name":"SIM-FPGA-A",
         "hub":{"ir_width":4,"version":1,"nodes":[{"model":"shift"},{"model":"shift"},{"model":"shift"}]}}]}]})");
    const int hub = open_hub();
    int first = -1, third = -1;
    ASSERT_EQ(SLD_OK, sld_node_open(hub, 0, &first));
    ASSERT_EQ(SLD_OK, sld_node_open(hub, 2, &third));
    unsigned long captured = 99, instruction = 99;
    ASSERT_EQ(SLD_OK, sld_node_access_ir(first, 1, nullptr, 0));
    ASSERT_EQ(SLD_OK, sld_node_access_ir(first, 1, &captured, 0));
    EXPECT_EQ(1u, captured) << "node 0's capture fits: 11 < 16";

    scxsim::reset_call_count();
    captured = 99;
    EXPECT_EQ(SLD_UNSUPPORTED_HUB, sld_node_access_ir(third, 2, &captured, 0));
    EXPECT_EQ(99u, captured);
    SLD_BATCH_ACCESS batch[] = {{SLD_BATCH_IR, 2, reinterpret_cast<unsigned long>(&captured), 0, 0},
                                {SLD_BATCH_END, 0, 0, 0, 0}};
    EXPECT_EQ(SLD_UNSUPPORTED_HUB, sld_node_batch_access(third, batch));
    EXPECT_EQ(0u, scxsim::call_count()) << "nothing sent, not even a lock";
    ASSERT_TRUE(scxsim::node_instruction(1, 0, 0, &instruction));
    EXPECT_EQ(1u, instruction) << "no stray instruction reached node 0";

    ASSERT_EQ(SLD_OK, sld_node_access_ir(third, 2, nullptr, 0));
    ASSERT_TRUE(scxsim::node_instruction(1, 0, 2, &instruction));
    EXPECT_EQ(2u, instruction);
    EXPECT_EQ(SLD_OK, sld_node_close(first));
    EXPECT_EQ(SLD_OK, sld_node_close(third));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

// A 40-bit instruction register: scans of m + n = 41 bits, on a version-0
// hub (capture shows the selected node's instruction) and a version-1 hub
// (capture needs the force-capture scan first).
TEST_F(NodeApiTest, WideInstructionRegisterEndToEnd) {
    for (unsigned version = 0; version <= 1; ++version) {
        SCOPED_TRACE(testing::Message() << "version " << version);
        load_board(
            R"({"cables":[{"persistent_id":1,"name":"SimCable-1","full_name":"SimCable-1 [sim:1]","devices":[
            {"idcode":"0x020A10DD","ir_length":10,"name":"SIM-FPGA-A",
             "hub":{"ir_width":40,"version":)" +
            std::to_string(version) + R"(,"nodes":[{"model":"shift","registers":{"5":8}}]}}]}]})");
        const int hub = open_hub();
        int node = -1;
        ASSERT_EQ(SLD_OK, sld_node_open(hub, 0, &node));

        unsigned long captured = 99;
        ASSERT_EQ(SLD_OK, sld_node_access_ir(node, 5, &captured, 0));
        EXPECT_EQ(0u, captured);
        unsigned long instruction = 0;
        ASSERT_TRUE(scxsim::node_instruction(1, 0, 0, &instruction));
        EXPECT_EQ(5u, instruction);
        const std::vector<std::string> scans = scxsim::trace_text(scxsim::Fn::access_dr);
        // Value 5 in bytes 0-4, address 1 at bit 40.
        EXPECT_NE(scans.end(), std::find(scans.begin(), scans.end(), "access_dr(41,41,41)[050000000001]=0"));
        if (version == 1) {
            EXPECT_NE(scans.end(),
                      std::find(scans.begin(), scans.end(), "access_dr(41,41,0)[0b0000000000]=0"));
        }

        unsigned char in[1] = {0x5A}, out[1] = {0};
        ASSERT_EQ(SLD_OK, sld_node_access_dr(node, 8, in, nullptr, 0));
        ASSERT_EQ(SLD_OK, sld_node_access_dr(node, 8, nullptr, out, 0));
        EXPECT_EQ(0x5A, out[0]);
        ASSERT_EQ(SLD_OK, sld_node_access_ir(node, 1, &captured, 0));
        EXPECT_EQ(5u, captured);

        EXPECT_EQ(SLD_OK, sld_node_close(node));
        EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    }
}
