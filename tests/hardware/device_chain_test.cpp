// Device lists through sld_get_device and sld_refresh_device: the chain read
// and its failures, device strings, and what a changed chain does to hubs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

using DeviceChain = SimTest;

TEST_F(DeviceChain, DefaultChainIsReadUnderTheChainLock) {
    read_chain(CABLE1);
    SLD_ERROR status = -1;
    EXPECT_EQ(device_strings(CABLE1, &status), (std::vector<std::string>{FPGA_A, CPLD, FPGA_OLD}));
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(chain_calls(), chain_read(3));
    // By full name: the same device object and the same strings.
    unsigned long count = 0;
    char **first = nullptr, **second = nullptr;
    EXPECT_EQ(sld_get_device(CABLE2_FULL, &count, &first), SLD_OK);
    EXPECT_EQ(count, 1u);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first[0], FPGA_B);
    EXPECT_EQ(sld_get_device(CABLE2, &count, &second), SLD_OK);
    EXPECT_EQ(second, first);
}

TEST_F(DeviceChain, DeviceStringsCarryPositionNameAndUpperCaseIdcode) {
    const std::string long_name(200, 'N');
    load_board(R"({"cables": [{"persistent_id": 1, "name": "SimCable-1", "full_name": "SimCable-1 [sim:1]",
        "devices": [{"idcode": "0x0000abcd", "ir_length": 4, "name": "First"},
                    {"idcode": "0x1234ABCD", "ir_length": 4},
                    {"idcode": "0xfedcba98", "ir_length": 4, "name": ")" +
               long_name + R"("}]}]})");
    std::vector<std::string> strings = device_strings(CABLE1);
    ASSERT_EQ(strings.size(), 3u);
    EXPECT_EQ(strings[0], "@1: First (0x0000ABCD)");
    EXPECT_EQ(strings[1], "@2: unknown device (0x1234ABCD)");
    // Too long for the string buffer: cut to 127 characters, never overrun.
    EXPECT_EQ(strings[2], ("@3: " + long_name).substr(0, 127));
}

TEST_F(DeviceChain, NullArgumentsAndUnknownHardware) {
    unsigned long count = 7;
    char **strings = nullptr;
    EXPECT_EQ(sld_get_device(nullptr, &count, &strings), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device(CABLE1, nullptr, &strings), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device(CABLE1, &count, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_refresh_device(nullptr), SLD_NULL_ARGUMENT);
    EXPECT_TRUE(scxsim::trace_text().empty());
    EXPECT_EQ(sld_get_device("NoSuchCable", &count, &strings), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(strings, nullptr);
    EXPECT_EQ(sld_refresh_device("NoSuchCable"), SLD_OK);
}

TEST_F(DeviceChain, UnchangedChainKeepsListAndHubs) {
    read_chain(CABLE1);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    unsigned long count = 0;
    char **before = nullptr, **after = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &before), SLD_OK);
    std::string kept = before[0];
    EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    ASSERT_EQ(sld_get_device(CABLE1, &count, &after), SLD_OK);
    EXPECT_EQ(after, before);
    EXPECT_EQ(after[0], kept);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(DeviceChain, ChangedIdcodeEndsOnlyTheHubAtThatPosition) {
    read_chain(CABLE1);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    unsigned long count = 0;
    char **strings = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_OK);
    char *first = strings[0], *third = strings[2];

    // Another position changes: the hub stays, only that string is new.
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(strings[1], "@2: SIM-CPLD (0x0A1B2C3E)");
    EXPECT_EQ(strings[0], first);
    EXPECT_EQ(strings[2], third);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);

    // The hub's own device changes: the hub goes and its id is stale.
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A10DE));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_OK);
    EXPECT_STREQ(strings[0], "@1: SIM-FPGA-A (0x020A10DE)");
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(DeviceChain, ChangedDeviceCountEndsEveryHubOfTheChain) {
    read_chain(CABLE1);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::insert_device(1, 0, R"({"idcode": "0x00000001", "ir_length": 2, "name": "NEW"})"));
    EXPECT_EQ(device_strings(CABLE1),
              (std::vector<std::string>{"@1: NEW (0x00000001)", "@2: SIM-FPGA-A (0x020A10DD)",
                                        "@3: SIM-CPLD (0x0A1B2C3D)", "@4: SIM-FPGA-OLD (0x12345093)"}));
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    // The device keeps its hub under its new string.
    hub = open_hub(CABLE1, "@2: SIM-FPGA-A (0x020A10DD)");
    ASSERT_GE(hub, 0);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(DeviceChain, FailedReadWipesTheListAndEndsItsHubs) {
    struct Case {
        Fn fn;
        unsigned long call;
        SCX_ERROR code;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {Fn::lock_chain, 1, 34, {"lock_chain(6000)=34"}},
        {Fn::scan_device_chain, 1, 87, {"lock_chain(6000)=0", "scan_device_chain()=87", "unlock_chain()=0"}},
        {Fn::scan_device_chain, 1, 46, {"lock_chain(6000)=0", "scan_device_chain()=46", "unlock_chain()=0"}},
        {Fn::read_device_chain,
         1,
         87,
         {"lock_chain(6000)=0", "scan_device_chain()=0", "read_device_chain(0,0,1)=87", "unlock_chain()=0"}},
        {Fn::read_device_chain,
         1,
         5,
         {"lock_chain(6000)=0", "scan_device_chain()=0", "read_device_chain(0,0,1)=5", "unlock_chain()=0"}},
        {Fn::read_device_chain,
         2,
         46,
         {"lock_chain(6000)=0", "scan_device_chain()=0", "read_device_chain(0,0,1)=47",
          "read_device_chain(3,1,1)=46", "unlock_chain()=0"}},
        {Fn::unlock_chain,
         1,
         81,
         {"lock_chain(6000)=0", "scan_device_chain()=0", "read_device_chain(0,0,1)=47",
          "read_device_chain(3,1,1)=0", "unlock_chain()=81"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " call " + std::to_string(c.call) + " answers " +
                     std::to_string(c.code));
        read_chain(CABLE1);
        int hub = open_hub(CABLE1, FPGA_A);
        ASSERT_GE(hub, 0);
        scxsim::clear_trace();
        scxsim::fail_call(c.fn, c.call, c.code);

        unsigned long count = 9;
        char **strings = reinterpret_cast<char **>(1);
        EXPECT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_DEVICE_NOT_FOUND);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(strings, nullptr);
        // The hub goes after the chain is let go.
        std::vector<std::string> expected = c.calls;
        expected.push_back("close_device()=0");
        EXPECT_EQ(chain_calls(), expected);
        EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        if (c.fn == Fn::unlock_chain)
            release_chain(1);

        // The next use reads the chain again.
        scxsim::clear_trace();
        hub = open_hub(CABLE1, FPGA_A);
        ASSERT_GE(hub, 0);
        std::vector<std::string> reopen = chain_read(3);
        for (const char *call :
             {"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=0", "unlock_chain()=0"})
            reopen.push_back(call);
        EXPECT_EQ(chain_calls(), reopen);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        scxsim::clear_faults();
    }
}

TEST_F(DeviceChain, QuietAnswersOfTheChainReadCountAsSuccess) {
    read_chain(CABLE1);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    unsigned long count = 0;
    char **before = nullptr, **after = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &before), SLD_OK);

    // A count query answering 0 leaves the list exactly as it was.
    scxsim::clear_trace();
    scxsim::fail_call(Fn::read_device_chain, 1, 0);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &after), SLD_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(chain_calls(), (std::vector<std::string>{"lock_chain(6000)=0", "scan_device_chain()=0",
                                                       "read_device_chain(0,0,1)=0", "unlock_chain()=0"}));
    // 36 from the scan goes on to the count query.
    scxsim::clear_trace();
    scxsim::fail_call(Fn::scan_device_chain, 1, 36);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &after), SLD_OK);
    std::vector<std::string> expected = chain_read(3);
    expected[1] = "scan_device_chain()=36";
    EXPECT_EQ(chain_calls(), expected);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(DeviceChain, ChainWithoutDevicesHasNoList) {
    load_board(R"({"cables": [{"persistent_id": 1, "name": "SimCable-1", "full_name": "SimCable-1 [sim:1]",
        "devices": []}]})");
    unsigned long count = 5;
    char **strings = reinterpret_cast<char **>(1);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(strings, nullptr);
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, "@1: anything (0x00000000)", &status), -1);
    EXPECT_EQ(status, SLD_DEVICE_NOT_FOUND);
}

} // namespace
