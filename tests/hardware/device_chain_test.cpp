// Device lists through sld_get_device and sld_refresh_device: the chain read
// and its failures, device strings, and what a changed chain does to hubs.
#include <gtest/gtest.h>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

class DeviceChain : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        read_chain(CABLE1);
    }
};

TEST_F(DeviceChain, ChainIsReadUnderTheChainLockOnEveryQuery) {
    unsigned long count = 0;
    char **first = nullptr, **second = nullptr;
    EXPECT_EQ(sld_get_device(CABLE1, &count, &first), SLD_OK);
    EXPECT_EQ(chain_calls(), chain_read(3));
    EXPECT_EQ(device_strings(CABLE1_FULL), (Calls{FPGA_A, CPLD, FPGA_OLD}));
    // An unchanged chain keeps its array and strings.
    EXPECT_EQ(sld_get_device(CABLE1, &count, &second), SLD_OK);
    EXPECT_EQ(second, first);

    EXPECT_EQ(sld_get_device(nullptr, &count, &first), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device(CABLE1, nullptr, &first), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device(CABLE1, &count, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_refresh_device(nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device("NoSuchCable", &count, &first), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(sld_refresh_device("NoSuchCable"), SLD_OK);
}

TEST_F(DeviceChain, DeviceStringsCarryPositionNameAndUpperCaseIdcode) {
    const std::string long_name(200, 'N');
    load_board(R"({"cables": [{"persistent_id": 1, "name": "SimCable-1", "full_name": "SimCable-1 [sim:1]",
        "devices": [{"idcode": "0x0000abcd", "ir_length": 4, "name": "First"},
                    {"idcode": "0x1234ABCD", "ir_length": 4},
                    {"idcode": "0xfedcba98", "ir_length": 4, "name": ")" +
               long_name + R"("}]}]})");
    // Too long for the string buffer: cut to 127 characters.
    EXPECT_EQ(device_strings(CABLE1), (Calls{"@1: First (0x0000ABCD)", "@2: unknown device (0x1234ABCD)",
                                             ("@3: " + long_name).substr(0, 127)}));
}

TEST_F(DeviceChain, ChangedChainEndsTheHubsConcerned) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    unsigned long count = 0;
    char **strings = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_OK);
    char *first = strings[0], *third = strings[2];

    // Another position's IDCODE: the hub stays, only that string is new.
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &strings), SLD_OK);
    EXPECT_STREQ(strings[1], "@2: SIM-CPLD (0x0A1B2C3E)");
    EXPECT_EQ(strings[0], first);
    EXPECT_EQ(strings[2], third);
    EXPECT_EQ(node_count(hub), 4);

    // The hub's own device: the hub goes and its id is stale.
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A10DE));
    EXPECT_EQ(device_strings(CABLE1)[0], "@1: SIM-FPGA-A (0x020A10DE)");
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);

    // Another device count: every hub of the chain goes, every string is new.
    hub = open_hub(CABLE1, "@1: SIM-FPGA-A (0x020A10DE)");
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::insert_device(1, 0, R"({"idcode": "0x00000001", "ir_length": 2, "name": "NEW"})"));
    EXPECT_EQ(device_strings(CABLE1), (Calls{"@1: NEW (0x00000001)", "@2: SIM-FPGA-A (0x020A10DE)",
                                             "@3: SIM-CPLD (0x0A1B2C3E)", "@4: SIM-FPGA-OLD (0x12345093)"}));
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

// The table handed out is the chain's own while its count stays: a changed
// IDCODE is written into it, also after a retried open made a fresh device
// object. A changed count or a failed read hands out another table and
// leaves the old one with what it last held.
TEST_F(DeviceChain, TableFollowsTheChainUntilItsCountChangesOrAReadFails) {
    unsigned long count = 0;
    char **held = nullptr, **now = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &held), SLD_OK);
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    ASSERT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    EXPECT_EQ(Calls(held, held + 3), (Calls{FPGA_A, "@2: SIM-CPLD (0x0A1B2C3E)", FPGA_OLD}));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &now), SLD_OK);
    EXPECT_EQ(now, held);

    EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)"), -1); // reads into a fresh object
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3D));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &now), SLD_OK);
    EXPECT_EQ(now, held);
    EXPECT_EQ(Calls(held, held + 3), (Calls{FPGA_A, CPLD, FPGA_OLD}));

    ASSERT_TRUE(scxsim::remove_device(1, 2));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &now), SLD_OK);
    EXPECT_NE(now, held);
    EXPECT_EQ(Calls(now, now + 2), (Calls{FPGA_A, CPLD}));
    EXPECT_EQ(Calls(held, held + 3), (Calls{FPGA_A, CPLD, FPGA_OLD}));

    char **two = now;
    scxsim::fail_call(Fn::lock_chain, 1, 34);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &now), SLD_DEVICE_NOT_FOUND); // the read failed
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    ASSERT_EQ(sld_get_device(CABLE1, &count, &now), SLD_OK);
    EXPECT_NE(now, two);
    EXPECT_EQ(Calls(two, two + 2), (Calls{FPGA_A, CPLD}));
    EXPECT_EQ(Calls(now, now + 2), (Calls{FPGA_A, "@2: SIM-CPLD (0x0A1B2C3E)"}));
}

// Two chains with the same devices list the same strings, each in a table
// of its own: a change on one chain never shows in the other's table.
TEST_F(DeviceChain, EqualChainsDoNotShareATable) {
    const std::string devices =
        R"("devices":[{"idcode":"0x00000011","ir_length":4},{"idcode":"0x00000022","ir_length":4}]})";
    load_board(R"({"cables":[{"persistent_id":1,"name":"SimCable-1","full_name":"SimCable-1 [sim:1]",)" +
               devices + R"(,{"persistent_id":2,"name":"SimCable-2","full_name":"SimCable-2 [sim:2]",)" +
               devices + "]}");
    sld_refresh_hardware();
    unsigned long count = 0;
    char **one = nullptr, **two = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &one), SLD_OK);
    ASSERT_EQ(sld_get_device("SimCable-2", &count, &two), SLD_OK);
    EXPECT_NE(one, two);
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x33));
    ASSERT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    EXPECT_STREQ(one[0], "@1: unknown device (0x00000033)");
    EXPECT_STREQ(two[0], "@1: unknown device (0x00000011)");
}

TEST_F(DeviceChain, FailedReadWipesTheListAfterLettingTheChainGo) {
    const Calls start = {"lock_chain(6000)=0", "scan_device_chain()=0"};
    const Calls count = concat(start, {"read_device_chain(0,0,1)=47"});
    const struct {
        Fn fn;
        unsigned long call;
        SCX_ERROR code;
        Calls calls;
    } cases[] = {
        {Fn::lock_chain, 1, 34, {"lock_chain(6000)=34"}},
        {Fn::scan_device_chain, 1, 87, {"lock_chain(6000)=0", "scan_device_chain()=87", "unlock_chain()=0"}},
        {Fn::scan_device_chain, 1, 46, {"lock_chain(6000)=0", "scan_device_chain()=46", "unlock_chain()=0"}},
        {Fn::read_device_chain, 1, 87, concat(start, {"read_device_chain(0,0,1)=87", "unlock_chain()=0"})},
        {Fn::read_device_chain, 1, 5, concat(start, {"read_device_chain(0,0,1)=5", "unlock_chain()=0"})},
        {Fn::read_device_chain, 2, 46, concat(count, {"read_device_chain(3,1,1)=46", "unlock_chain()=0"})},
        {Fn::unlock_chain, 1, 81, concat(count, {"read_device_chain(3,1,1)=0", "unlock_chain()=81"})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls.back());
        int hub = open_hub(CABLE1, FPGA_A);
        ASSERT_GE(hub, 0);
        scxsim::clear_trace();
        scxsim::fail_call(c.fn, c.call, c.code);
        unsigned long n = 9;
        char **strings = reinterpret_cast<char **>(1);
        EXPECT_EQ(sld_get_device(CABLE1, &n, &strings), SLD_DEVICE_NOT_FOUND);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(strings, nullptr);
        // The hub goes after the chain is let go.
        EXPECT_EQ(chain_calls(), concat(c.calls, {"close_device()=0"}));
        EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        if (c.fn == Fn::unlock_chain)
            release_chain(1);
        // The next use reads the chain first.
        scxsim::clear_trace();
        hub = open_hub(CABLE1, FPGA_A);
        EXPECT_EQ(chain_calls(), concat(chain_read(3), {"lock_chain(6000)=0", HUB_OPEN, "unlock_chain()=0"}));
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    }
}

TEST_F(DeviceChain, QuietAnswersOfTheChainReadCountAsSuccess) {
    int hub = open_hub(CABLE1, FPGA_A);
    unsigned long count = 0;
    char **before = nullptr, **after = nullptr;
    ASSERT_EQ(sld_get_device(CABLE1, &count, &before), SLD_OK);
    // A count query answering 0 leaves the list exactly as it was.
    scxsim::clear_trace();
    scxsim::fail_call(Fn::read_device_chain, 1, 0);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &after), SLD_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(chain_calls(), (Calls{"lock_chain(6000)=0", "scan_device_chain()=0",
                                    "read_device_chain(0,0,1)=0", "unlock_chain()=0"}));
    // 36 from the scan goes on to the count query.
    scxsim::clear_trace();
    scxsim::fail_call(Fn::scan_device_chain, 1, 36);
    EXPECT_EQ(sld_get_device(CABLE1, &count, &after), SLD_OK);
    Calls expected = chain_read(3);
    expected[1] = "scan_device_chain()=36";
    EXPECT_EQ(chain_calls(), expected);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(DeviceChain, ChainWithoutDevicesHasNoList) {
    load_board(
        R"({"cables": [{"persistent_id": 1, "name": "SimCable-1", "full_name": "SimCable-1 [sim:1]"}]})");
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
