// The tool's commands run inside the test process against the simulated
// board, so that what they leave behind (memory contents, open handles,
// locks, the scan log) can be looked at directly.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "batch_parse.h"
#include "cables.h"
#include "client_hardware.h"
#include "errors.h"
#include "inventory.h"
#include "list_output.h"
#include "report.h"
#include "run_ops.h"
#include "scan_log.h"
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

// Runs a batch text on a node; returns what it printed.
std::string run_batch(const ScanOptions &options, const std::string &text, ScanLog *log = nullptr) {
    std::istringstream in(text);
    BatchText batch;
    std::vector<std::string> errors;
    std::string failure;
    EXPECT_TRUE(batch.read(in, &errors, &failure) && errors.empty()) << failure;
    BatchSource source(batch);
    std::ostringstream out;
    ScanLog quiet(false);
    ScanLog &used = log != nullptr ? *log : quiet;
    if (!used.started()) {
        used.start();
    }
    std::unique_ptr<Reporter> report = text_reporter(out, TextStyle::batch);
    ScanOptions locked = options;
    locked.lock = true;
    run_operations(locked, source, used, *report);
    quiet.finish();
    return out.str();
}

// Runs command-line operations; returns what they printed.
std::string run_ops(const ScanOptions &options, std::vector<Operation> ops) {
    OperationList source(std::move(ops));
    std::ostringstream out;
    ScanLog log(false);
    log.start();
    std::unique_ptr<Reporter> report = text_reporter(out, TextStyle::scans);
    run_operations(options, source, log, *report);
    log.finish();
    return out.str();
}

Operation ir(unsigned long value) {
    Operation op;
    op.kind = OpKind::ir;
    op.value = value;
    return op;
}

Operation dr(unsigned long length, std::vector<uint8_t> data = {}) {
    Operation op;
    op.kind = OpKind::dr;
    op.length = length;
    op.has_data = !data.empty();
    op.data = data;
    return op;
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

// Names as users give them: which cable, device or node each one finds, or
// the exit code when it finds none or several.
TEST_F(ToolInProcess, NamesFindOneCableDeviceAndNodeOrSayWhichFit) {
    load_board(R"({"cables": [
        {"persistent_id": 1, "name": "X", "full_name": "X [a]", "devices": [
            {"idcode": "0x020A10DD", "ir_length": 10, "name": "FPGA", "hub": {"version": 1, "ir_width": 6,
             "nodes": [{"model": "shift", "node_id": 7}, {"model": "shift", "node_id": 7},
                       {"model": "memory", "node_id": 9}]}}]},
        {"persistent_id": 2, "name": "X", "full_name": "X [b]", "devices": [
            {"idcode": "0x1234567F", "ir_length": 4, "name": "CPLD"},
            {"idcode": "0x1234567F", "ir_length": 4, "name": "CPLD"},
            {"idcode": "0x020A10DD", "ir_length": 10, "name": "FPGA", "hub": {"version": 1, "ir_width": 6,
             "nodes": [{"model": "memory", "node_id": 9}]}}]},
        {"persistent_id": 3, "name": "X [a]", "full_name": "Y", "devices": []},
        {"persistent_id": 4, "name": "short"}]})");
    const struct {
        NodeTarget target;
        int exit_code; // 0: found
        unsigned long persistent_id;
        const char *device;
        unsigned index;
    } cases[] = {
        {{"X [b]", "FPGA", "id:9"}, 0, 2, "@3: FPGA (0x020A10DD)", 0},
        {{"X [a]", "FPGA", "id:9"}, 0, 1, "@1: FPGA (0x020A10DD)", 2},
        {{"X [a]", "@1", "1"}, 0, 1, "@1: FPGA (0x020A10DD)", 1},
        {{"X", "@1", "0"}, exit_not_found, 0, "", 0},          // two cables are called X
        {{"X [b]", "CPLD", "0"}, exit_not_found, 0, "", 0},    // two devices are called CPLD
        {{"X [a]", "FPGA", "id:7"}, exit_not_found, 0, "", 0}, // two nodes have node id 7
        {{"X [a]", "FPGA", "id:8"}, exit_not_found, 0, "", 0},
        {{"X [a]", "FPGA", "3"}, exit_not_found, 0, "", 0},
        {{"Z", "@1", "0"}, exit_not_found, 0, "", 0},
        {{"X [a]", "GPU", "0"}, exit_not_found, 0, "", 0},
        {{"X [a]", "@one", "0"}, exit_usage, 0, "", 0},
        {{"X [a]", "@1", "id:x"}, exit_usage, 0, "", 0},
        {{"X [a]", "@1", "255"}, exit_usage, 0, "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target.cable + " / " + c.target.device + " / " + c.target.node);
        try {
            OpenNode node(c.target);
            node.open(nullptr);
            EXPECT_EQ(c.exit_code, 0);
            EXPECT_EQ(node.cable().persistent_id, c.persistent_id);
            EXPECT_EQ(node.device(), c.device);
            EXPECT_EQ(node.index(), c.index);
            // The library acts on the cable found, not on the first of its name.
            unsigned long id = 0;
            EXPECT_EQ(sld_get_hardware_persistent_id(node.cable().label().c_str(), &id), SLD_OK);
            EXPECT_EQ(id, c.persistent_id);
            node.close();
        } catch (const ToolError &error) {
            EXPECT_EQ(error.exit_code(), c.exit_code) << error.what();
        }
    }
    // The cable without a full name is listed under its short name, which
    // the library finds it by.
    const std::vector<Cable> cables = list_cables();
    ASSERT_EQ(cables.size(), 4u);
    EXPECT_EQ(cables[1].label(), "X [b]");
    EXPECT_EQ(cables[2].label(), "Y");
    EXPECT_EQ(cables[3].full_name, "short");
    EXPECT_EQ(cables[3].label(), "short");
    const std::string candidates = tool_error([&] { find_cable(cables, "X"); }).what();
    EXPECT_NE(candidates.find("X (full name \"X [a]\", persistent id 1)"), std::string::npos) << candidates;
    EXPECT_NE(candidates.find("X (full name \"X [b]\", persistent id 2)"), std::string::npos) << candidates;
}

TEST_F(ToolInProcess, FullNamesComeFromTheClientLibraryOrNotAtAll) {
    std::string name;
    ASSERT_TRUE(hardware_full_name(1, &name));
    EXPECT_EQ(name, "SimCable-1 [sim:1]");
    EXPECT_FALSE(hardware_full_name(99, &name));
    ASSERT_TRUE(scxsim::set_cable_full_name(2, ""));
    EXPECT_FALSE(hardware_full_name(2, &name));
    EXPECT_EQ(name, "SimCable-1 [sim:1]") << "left alone";
}

TEST_F(ToolInProcess, InventoryOfTheDefaultBoard) {
    Inventory inventory = take_inventory(nullptr);
    ASSERT_EQ(inventory.cables.size(), 2u);
    const CableEntry &one = inventory.cables[0];
    EXPECT_EQ(one.cable.name, "SimCable-1");
    EXPECT_EQ(one.cable.full_name, "SimCable-1 [sim:1]");
    EXPECT_EQ(one.cable.persistent_id, 1u);
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

// A device whose hub could not be opened because of an error (here all 128
// hub ids are in use) is not reported as a device without a hub: the listing
// counts it as not examined and says why, where "no hub" stays an answer.
TEST_F(ToolInProcess, ADeviceAnErrorKeptFromBeingExaminedIsNotANoHub) {
    std::string devices;
    for (int i = 0; i < 128; ++i) {
        devices += std::string(i ? "," : "") + R"({"idcode": 1, "ir_length": 10,
            "hub": {"version": 1, "ir_width": 8, "nodes": [{"model": "shift"}]}})";
    }
    load_board(R"({"cables": [{"persistent_id": 1, "name": "many", "devices": [)" + devices +
               R"(]}, {"persistent_id": 2, "name": "other", "devices": [{"idcode": 1, "ir_length": 10,
            "hub": {"version": 1, "ir_width": 8, "nodes": [{"model": "shift"}]}}, {"idcode": 2, "ir_length": 4}]}]})");
    unsigned long count = 0;
    char **strings = nullptr;
    ASSERT_EQ(sld_get_device("many", &count, &strings), SLD_OK);
    std::vector<std::string> names(strings, strings + count);
    std::vector<int> hubs(names.size(), -1);
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(sld_hub_open("many", names[i].c_str(), &hubs[i]), SLD_OK) << i;
    }
    Inventory inventory = take_inventory(nullptr);
    for (int hub : hubs) {
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    }
    ASSERT_EQ(inventory.cables.size(), 2u);
    const DeviceEntry &full = inventory.cables[1].devices.at(0);
    EXPECT_EQ(full.hub_status, SLD_NO_FREE_SLOT);
    EXPECT_FALSE(full.examined());
    EXPECT_TRUE(inventory.cables[1].devices.at(1).examined()) << "no hub is an answer";
    EXPECT_EQ(inventory.cables[1].devices.at(1).hub_status, SLD_HUB_NOT_FOUND);
    EXPECT_EQ(inventory.unexamined(), 129u) << "every hub needs a free hub id, shared or not";
    std::ostringstream tree, json;
    write_tree(tree, inventory);
    EXPECT_NE(tree.str().find("|-- @1: unknown device (0x00000001)\n"
                              "|   `-- not examined, an error: sld_hub_open: SLD_NO_FREE_SLOT, "),
              std::string::npos)
        << tree.str();
    write_json(json, inventory, nullptr);
    const nlohmann::json document = nlohmann::json::parse(json.str());
    const nlohmann::json &other = document["cables"][1];
    EXPECT_EQ(other["devices"][0]["examined"], false);
    EXPECT_EQ(other["devices"][0]["hub_status"]["name"], "SLD_NO_FREE_SLOT");
    EXPECT_EQ(other["devices"][1]["examined"], true);
    EXPECT_EQ(other["examined"], true);
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
    EXPECT_EQ(ir.entries[0].kind, LogKind::ir);
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
        NodeTarget target = memory_node().target;
        target.node = "4";
        ToolError error = tool_error([&] {
            OpenNode node(target);
            node.open(&log);
        });
        EXPECT_EQ(error.exit_code(), exit_not_found);
        EXPECT_NE(std::string(error.what()).find("has 4 nodes (0-3)"), std::string::npos) << error.what();
    }
    ASSERT_EQ(log.steps().size(), 1u);
    // IR 14, the 64-bit scan, IR 12, 8 nibbles for the hub and each node.
    EXPECT_EQ(log.steps()[0].entries.size(), 3u + 8u * 5u);
    EXPECT_EQ(log.steps()[0].node_count, 4u);
    ToolError refused = tool_error([] {
        OpenNode node(NodeTarget{"SimCable-1", "@3", "0"});
        node.open(nullptr);
    });
    EXPECT_EQ(refused.exit_code(), exit_library);
    EXPECT_EQ(refused.status(), SLD_UNSUPPORTED_HUB);
    EXPECT_EQ(refused.call(), "sld_hub_open");
    log.finish();
}

TEST_F(ToolInProcess, DrScansReachTheMemoryNodeAfterTheirInstruction) {
    std::string out = run_ops(memory_node(), {ir(1), dr(8, {0x20})});
    EXPECT_EQ(out.rfind("captured instruction 0x", 0), 0u) << out;
    ScanOptions locked = memory_node();
    locked.lock = true;
    out = run_ops(locked, {ir(2), dr(32, {0x0D, 0xF0, 0xFE, 0xCA})}); // WRITE
    // The instruction captured when WRITE was loaded was ADDRESS.
    EXPECT_EQ(out, "captured instruction 0x1\ncaptured 0x00000000\n");
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, 0, 0x20, &word));
    EXPECT_EQ(word, 0xCAFEF00Du);
    ASSERT_TRUE(scxsim::memory_poke(1, 0, 0, 0x21, 0x12345678));
    out = run_ops(memory_node(), {ir(3), dr(32)}); // READ mem[0x21]
    EXPECT_NE(out.find("captured 0x12345678\n"), std::string::npos) << out;
}

TEST_F(ToolInProcess, BatchRunsUnderOneLockAndPrintsEveryCapture) {
    const std::string text = run_batch(memory_node(), "ir 1\n"
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
                                                      "dr 32\n");
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, 0, 0x11, &word));
    EXPECT_EQ(word, 0x22222222u);
    EXPECT_NE(text.find("line 6: rti 4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 7: delay 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 11: dr 32 -> captured 0x11111111\n"), std::string::npos) << text;
    EXPECT_NE(text.find("line 12: dr 32 -> captured 0x22222222\n"), std::string::npos) << text;
    // One lock for the whole batch: one scx_lock and one scx_unlock.
    EXPECT_EQ(scxsim::trace_text(scxsim::Fn::lock).size(), 2u); // discovery's and the batch's
}

// A long run of scans goes to the library in pieces, all under the one lock.
TEST_F(ToolInProcess, LongBatchesGoInPiecesUnderOneLock) {
    // WRITE from address 0: word k goes to address k % 256 (the memory has
    // 256 words), and its data is k written in hex digits.
    std::string text = "ir 1\ndr 8 0\nir 2\n";
    const size_t words = MAX_SCANS_PER_CALL + 10;
    for (size_t k = 0; k < words; ++k) {
        text += "dr 32 " + std::to_string(k) + "\n";
    }
    const std::string out = run_batch(memory_node(), text);
    EXPECT_NE(out.find("line " + std::to_string(words + 3) + ": dr 32 " + std::to_string(words - 1) +
                       " -> captured 0x"),
              std::string::npos);
    for (size_t k : {MAX_SCANS_PER_CALL - 4, MAX_SCANS_PER_CALL - 3, words - 1}) {
        uint64_t word = 0;
        ASSERT_TRUE(scxsim::memory_peek(1, 0, 0, k % 256, &word));
        EXPECT_EQ(word, std::stoull(std::to_string(k), nullptr, 16)) << "word " << k;
    }
    EXPECT_EQ(scxsim::trace_text(scxsim::Fn::lock).size(), 2u); // discovery's and the batch's
}

TEST_F(ToolInProcess, AFailingBatchStopsReleasesAndNamesTheStatus) {
    scxsim::fail_every(scxsim::Fn::run_test_idle, 36);
    std::string out;
    ToolError error = tool_error([&] { out = run_batch(memory_node(), "ir 1\ndr 8 10\nrti 4\nir 2\n"); });
    EXPECT_EQ(error.exit_code(), exit_library);
    EXPECT_EQ(error.call(), "sld_node_rti");
    EXPECT_NE(std::string(error.what()).find("batch line 3: sld_node_rti: SLD_SERVER_ERROR"),
              std::string::npos)
        << error.what();
    unsigned long instruction = 0;
    ASSERT_TRUE(scxsim::node_instruction(1, 0, 0, &instruction));
    EXPECT_EQ(instruction, 1u);
}
