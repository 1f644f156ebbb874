// The tool's commands run inside the test process against the simulated
// board, so that what they leave behind (memory contents, open handles,
// locks, the scan log) can be looked at directly.
#include <gtest/gtest.h>

#include <sstream>

#include "batch_parse.h"
#include "batch_run.h"
#include "errors.h"
#include "full_names.h"
#include "inventory.h"
#include "scan_log.h"
#include "scans.h"
#include "sim_fixture.h"
#include "target.h"

using namespace sldtool;

namespace {

const char *const FPGA_A = "@1: SIM-FPGA-A (0x020A10DD)";

ScanOptions memory_node() {
    ScanOptions options;
    options.target = NodeTarget{"SimCable-1", "@1", "0"};
    return options;
}

// Runs fn, expecting a ToolError; returns it.
template <typename Fn> ToolError tool_error(Fn fn) {
    try {
        fn();
    } catch (const ToolError &error) {
        return error;
    }
    ADD_FAILURE() << "no ToolError";
    return ToolError(-1, "");
}

std::vector<BatchLine> batch(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> errors;
    std::vector<BatchLine> lines = parse_batch(in, &errors);
    EXPECT_TRUE(errors.empty());
    return lines;
}

class ToolInProcess : public SimTest {
  protected:
    void TearDown() override {
        // Whatever a command did, it closed what it opened.
        EXPECT_EQ(scxsim::open_handle_count(), 0u);
        EXPECT_FALSE(scxsim::device_locked(1, 0));
        SimTest::TearDown();
    }
};

} // namespace

TEST_F(ToolInProcess, ResolvesCablesByEitherNameAndDevicesByStringOrPosition) {
    EXPECT_EQ(resolve_cable("SimCable-1"), "SimCable-1");
    EXPECT_EQ(resolve_cable("SimCable-2 [sim:2]"), "SimCable-2");
    ToolError unknown = tool_error([] { resolve_cable("SimCable-9"); });
    EXPECT_EQ(unknown.exit_code(), exit_not_found);
    EXPECT_NE(std::string(unknown.what()).find("SimCable-1"), std::string::npos) << unknown.what();

    EXPECT_EQ(resolve_device("SimCable-1", "@3"), "@3: SIM-FPGA-OLD (0x12345093)");
    EXPECT_EQ(resolve_device("SimCable-1", FPGA_A), FPGA_A);
    EXPECT_EQ(tool_error([] { resolve_device("SimCable-1", "@4"); }).exit_code(), exit_not_found);
    EXPECT_EQ(tool_error([] { resolve_device("SimCable-1", "@1: sim-fpga-a (0x020A10DD)"); }).exit_code(),
              exit_not_found);
    EXPECT_EQ(tool_error([] { resolve_device("SimCable-1", "@one"); }).exit_code(), exit_usage);
}

TEST_F(ToolInProcess, FullNamesComeFromTheClientLibraryOrNotAtAll) {
    std::string name;
    ASSERT_TRUE(hardware_full_name(1, &name));
    EXPECT_EQ(name, "SimCable-1 [sim:1]");
    EXPECT_FALSE(hardware_full_name(99, &name));
    load_board(R"({"cables": [{"persistent_id": 7, "name": "bare",
                   "devices": [{"idcode": "0x1234567F", "ir_length": 4}]}]})");
    EXPECT_FALSE(hardware_full_name(7, &name));
}

TEST_F(ToolInProcess, InventoryOfTheDefaultBoard) {
    Inventory inventory = take_inventory(nullptr);
    ASSERT_EQ(inventory.cables.size(), 2u);
    const CableEntry &one = inventory.cables[0];
    EXPECT_EQ(one.name, "SimCable-1");
    EXPECT_EQ(one.full_name, "SimCable-1 [sim:1]");
    EXPECT_EQ(one.persistent_id, 1u);
    ASSERT_EQ(one.devices.size(), 3u);
    ASSERT_EQ(one.devices[0].nodes.size(), 4u);
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ(one.devices[0].nodes[i].node_id, i + 1);
        EXPECT_EQ(one.devices[0].nodes[i].manufacturer_id, 110);
        EXPECT_EQ(one.devices[0].nodes[i].version, 1);
    }
    EXPECT_EQ(one.devices[1].hub_status, SLD_HUB_NOT_FOUND);
    EXPECT_EQ(one.devices[1].failed_call, "sld_hub_open");
    EXPECT_EQ(one.devices[2].hub_status, SLD_UNSUPPORTED_HUB);
    const CableEntry &two = inventory.cables[1];
    ASSERT_EQ(two.devices.size(), 1u);
    ASSERT_EQ(two.devices[0].nodes.size(), 2u);
    EXPECT_EQ(two.devices[0].nodes[1].node_id, 4);
    EXPECT_TRUE(inventory.warnings.empty());
}

TEST_F(ToolInProcess, InventoryOfABoardWithoutNamesOrDevices) {
    load_board(R"({"cables": [
        {"persistent_id": 7, "name": "plain", "full_name": "plain [7]",
         "devices": [{"idcode": "0x1234567F", "ir_length": 4}]},
        {"persistent_id": 8, "name": "empty", "full_name": "empty chain", "devices": []},
        {"persistent_id": 9, "name": "nameless", "devices": [{"idcode": "0x1234567F", "ir_length": 4}]}]})");
    Inventory inventory = take_inventory(nullptr);
    ASSERT_EQ(inventory.cables.size(), 3u);
    ASSERT_EQ(inventory.cables[0].devices.size(), 1u);
    EXPECT_EQ(inventory.cables[0].devices[0].device, "@1: unknown device (0x1234567F)");
    EXPECT_EQ(inventory.cables[0].devices[0].hub_status, SLD_HUB_NOT_FOUND);
    EXPECT_EQ(inventory.cables[1].device_status, SLD_DEVICE_NOT_FOUND);
    EXPECT_TRUE(inventory.cables[1].devices.empty());
    // The library looks hardware up by its full name: without one the cable
    // is listed but its chain cannot be reached.
    const CableEntry &nameless = inventory.cables[2];
    EXPECT_FALSE(nameless.has_full_name);
    EXPECT_EQ(nameless.persistent_id, 0u);
    EXPECT_EQ(nameless.device_status, SLD_HARDWARE_NOT_FOUND);
}

TEST_F(ToolInProcess, DeviceStringsSplitIntoPositionNameAndIdcode) {
    unsigned long position = 0;
    std::string name, idcode;
    ASSERT_TRUE(split_device_string("@12: a (b) c (0x0000ABCD)", &position, &name, &idcode));
    EXPECT_EQ(position, 12u);
    EXPECT_EQ(name, "a (b) c");
    EXPECT_EQ(idcode, "0x0000ABCD");
    EXPECT_FALSE(split_device_string("1: a (0x0000ABCD)", &position, &name, &idcode));
    EXPECT_FALSE(split_device_string("@x: a (0x0000ABCD)", &position, &name, &idcode));
    EXPECT_FALSE(split_device_string("@1: a", &position, &name, &idcode));
}

TEST_F(ToolInProcess, ScanLogStepsHoldOnlyTheirOwnRecords) {
    // Records made before the tool starts are not the tool's.
    sld_enable_scx_log();
    int hub = -1;
    ASSERT_EQ(sld_hub_open("SimCable-1", FPGA_A, &hub), SLD_OK);
    ScanLog log;
    log.start();
    log.take("nothing yet", "a", 4);
    EXPECT_TRUE(log.steps().empty());
    int node = -1;
    ASSERT_EQ(sld_node_open(hub, 0, &node), SLD_OK);
    ASSERT_EQ(sld_node_access_ir(node, 1, nullptr, 0), SLD_OK);
    log.take("ir", "a", 4);
    unsigned char bits[1] = {0x5A};
    ASSERT_EQ(sld_node_access_dr(node, 8, bits, nullptr, 0), SLD_OK);
    log.take("dr", "a", 4);
    ASSERT_EQ(log.steps().size(), 2u);
    const LogStep &ir = log.steps()[0];
    ASSERT_EQ(ir.entries.size(), 2u);
    EXPECT_EQ(ir.entries[0].kind, unsigned(SLD_LOG_IR));
    EXPECT_EQ(ir.entries[0].value, 14u);
    EXPECT_EQ(ir.entries[1].value, 11u); // m = 8 plus 3 address bits
    const LogStep &dr = log.steps()[1];
    ASSERT_EQ(dr.entries.size(), 2u);
    EXPECT_EQ(dr.entries[1].data, std::vector<uint8_t>{0x5A});
    log.finish();
    SLD_SCX_LOG_RECORD *head = reinterpret_cast<SLD_SCX_LOG_RECORD *>(1);
    sld_get_scx_log_head(&head);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(sld_node_close(node), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(ToolInProcess, OpeningLogsTheDiscoveryAndClosesOnEveryFailure) {
    ScanLog log;
    log.start();
    {
        ScanOptions options = memory_node();
        options.target.node = "4";
        ToolError error = tool_error([&] { OpenNode node(options.target, &log); });
        EXPECT_EQ(error.exit_code(), exit_not_found);
        EXPECT_NE(std::string(error.what()).find("has 4 nodes (0-3)"), std::string::npos) << error.what();
    }
    ASSERT_EQ(log.steps().size(), 1u);
    // IR 14, the 64-bit scan, IR 12, 8 nibbles for the hub and each node.
    EXPECT_EQ(log.steps()[0].entries.size(), 3u + 8u * 5u);
    EXPECT_EQ(log.steps()[0].node_count, 4u);
    ToolError refused = tool_error([] { OpenNode node(NodeTarget{"SimCable-1", "@3", "0"}, nullptr); });
    EXPECT_EQ(refused.exit_code(), exit_library);
    EXPECT_NE(std::string(refused.what()).find("SLD_UNSUPPORTED_HUB"), std::string::npos);
    EXPECT_EQ(tool_error([] {
                  OpenNode node(NodeTarget{"SimCable-1", "@1", "255"}, nullptr);
              }).exit_code(),
              exit_usage);
    log.finish();
}

TEST_F(ToolInProcess, DrScansReachTheMemoryNodeAfterTheirInstruction) {
    std::ostringstream out;
    run_ir(memory_node(), "1", nullptr, out); // ADDRESS
    EXPECT_EQ(out.str().rfind("captured instruction 0x", 0), 0u) << out.str();
    run_dr(memory_node(), "8", "20", "1", nullptr, out);
    ScanOptions locked = memory_node();
    locked.lock = true;
    run_dr(locked, "32", "0xcafef00d", "2", nullptr, out); // WRITE
    // The instruction captured when WRITE was loaded was ADDRESS.
    EXPECT_NE(out.str().find("captured instruction 0x1\n"), std::string::npos) << out.str();
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, 0, 0x20, &word));
    EXPECT_EQ(word, 0xCAFEF00Du);
    ASSERT_TRUE(scxsim::memory_poke(1, 0, 0, 0x21, 0x12345678));
    run_dr(memory_node(), "32", "", "3", nullptr, out); // READ mem[0x21]
    EXPECT_NE(out.str().find("captured 0x12345678\n"), std::string::npos) << out.str();
    // Bad input is refused before anything is opened.
    std::ostringstream sink;
    EXPECT_EQ(tool_error([&] { run_dr(memory_node(), "8", "1ff", "", nullptr, sink); }).exit_code(),
              exit_usage);
    EXPECT_EQ(tool_error([&] { run_dr(memory_node(), "0", "", "", nullptr, sink); }).exit_code(), exit_usage);
    EXPECT_EQ(tool_error([&] { run_dr(memory_node(), "8", "", "0x1ffffffff", nullptr, sink); }).exit_code(),
              exit_usage);
    EXPECT_EQ(tool_error([&] { run_ir(memory_node(), "x", nullptr, sink); }).exit_code(), exit_usage);
    EXPECT_TRUE(sink.str().empty());
}

TEST_F(ToolInProcess, BatchRunsUnderOneLockAndPrintsEveryCapture) {
    std::ostringstream out;
    run_batch(memory_node(),
              batch("ir 1\n"
                    "dr 8 10\n"
                    "ir 2 delay 1\n"
                    "dr 32 11111111\n"
                    "dr 32 22222222\n"
                    "rti 4\n"
                    "delay 2\n"
                    "ir 1\n"
                    "dr 8 10\n"
                    "ir 3\n"
                    "dr 32\n"
                    "dr 32\n"),
              nullptr, out);
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, 0, 0x11, &word));
    EXPECT_EQ(word, 0x22222222u);
    const std::string text = out.str();
    EXPECT_NE(text.find("line 6: rti 4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 7: delay 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 11: dr 32 -> captured 0x11111111\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 12: dr 32 -> captured 0x22222222\n"), std::string::npos) << text;
    // One lock for the whole batch: one scx_lock and one scx_unlock.
    EXPECT_EQ(scxsim::trace_text(scxsim::Fn::lock).size(), 2u); // discovery's and the batch's
}

TEST_F(ToolInProcess, AFailingBatchStopsReleasesAndNamesTheStatus) {
    scxsim::fail_every(scxsim::Fn::run_test_idle, 36);
    std::ostringstream out;
    ToolError error =
        tool_error([&] { run_batch(memory_node(), batch("ir 1\ndr 8 10\nrti 4\nir 2\n"), nullptr, out); });
    EXPECT_EQ(error.exit_code(), exit_library);
    EXPECT_NE(std::string(error.what()).find("batch line 3: sld_node_rti: SLD_SERVER_ERROR"),
              std::string::npos)
        << error.what();
    EXPECT_NE(out.str().find("line 2: dr 8 10 -> captured"), std::string::npos);
    EXPECT_EQ(out.str().find("line 4"), std::string::npos);
    unsigned long instruction = 0;
    ASSERT_TRUE(scxsim::node_instruction(1, 0, 0, &instruction));
    EXPECT_EQ(instruction, 1u);
}
