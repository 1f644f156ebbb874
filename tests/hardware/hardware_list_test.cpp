// The hardware list through the exported functions: enumeration, naming,
// lookups by name and persistent id, and hardware that comes and goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

class HardwareList : public SimTest {
  protected:
    std::vector<std::string> names(SLD_ERROR *status = nullptr) {
        unsigned long count = 12345;
        char **table = nullptr;
        SLD_ERROR s = sld_get_hardware(&count, &table);
        if (status != nullptr)
            *status = s;
        std::vector<std::string> out;
        for (unsigned long i = 0; table != nullptr && i < count; ++i)
            out.push_back(table[i]);
        last_count = count;
        return out;
    }
    unsigned long last_count = 0;
};

const char EXTRA_CABLE[] = R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]",
    "devices": [{"idcode": "0x11111111", "ir_length": 4, "name": "X"}]})";

TEST_F(HardwareList, DefaultBoardIsListedInOrderWithOneEnumeration) {
    SLD_ERROR status = -1;
    EXPECT_EQ(names(&status), (std::vector<std::string>{CABLE1, CABLE2}));
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(last_count, 2u);
    // Known hardware is matched by persistent id and not named again.
    EXPECT_EQ(scxsim::trace_text(),
              (std::vector<std::string>{"get_hardware(0,0,10000)=47", "get_hardware(2,1,0)=0"}));
}

TEST_F(HardwareList, NewHardwareIsNamedShortThenFull) {
    ASSERT_TRUE(scxsim::add_cable(EXTRA_CABLE));
    EXPECT_EQ(sld_refresh_hardware(), SLD_OK);
    EXPECT_EQ(
        scxsim::trace_text(),
        (std::vector<std::string>{"get_hardware(0,0,10000)=47", "get_hardware(3,1,0)=0",
                                  "print_hardware_name(0,0,0,1)=47", "print_hardware_name(1,5,0,0)=0",
                                  "print_hardware_name(0,0,1,1)=47", "print_hardware_name(1,11,1,0)=0"}));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2, "Extra"}));
    unsigned long id = 0;
    EXPECT_EQ(sld_get_hardware_persistent_id("Extra [x:9]", &id), SLD_OK);
    EXPECT_EQ(id, 9u);
}

TEST_F(HardwareList, LookupsByShortNameFullNameAndPersistentId) {
    unsigned long id = 77;
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_OK);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE2_FULL, &id), SLD_OK);
    EXPECT_EQ(id, 2u);
    // Names compare whole and case-sensitive.
    EXPECT_EQ(sld_get_hardware_persistent_id("simcable-1", &id), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(sld_get_hardware_persistent_id("SimCable-", &id), SLD_HARDWARE_NOT_FOUND);

    char *name = nullptr;
    EXPECT_EQ(sld_get_hardware_name(2, &name), SLD_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, CABLE2);
    // The name handed out is the pooled copy: the same pointer every time.
    char *again = nullptr;
    EXPECT_EQ(sld_get_hardware_name(2, &again), SLD_OK);
    EXPECT_EQ(again, name);
    name = reinterpret_cast<char *>(1);
    EXPECT_EQ(sld_get_hardware_name(424242, &name), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(name, nullptr);
}

TEST_F(HardwareList, NullArgumentsAreRefusedBeforeAnyTraffic) {
    unsigned long count = 5;
    char **table = nullptr;
    char *name = nullptr;
    EXPECT_EQ(sld_get_hardware(nullptr, &table), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware(&count, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_name(1, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id(nullptr, &count), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(name, nullptr);
    EXPECT_TRUE(scxsim::trace_text().empty());
}

TEST_F(HardwareList, FailedEnumerationEmptiesTheList) {
    struct Case {
        unsigned long call;
        SCX_ERROR code;
        SLD_ERROR name_status;
    };
    // A count query must answer 47; the fetch may answer 0 or 2 only.
    const Case cases[] = {{1, 0, SLD_JTAG_ERROR},
                          {1, 86, SLD_HARDWARE_NOT_FOUND},
                          {1, 81, SLD_SERVER_ERROR},
                          {2, 46, SLD_SERVER_ERROR_70},
                          {2, 47, SLD_JTAG_ERROR}};
    for (const Case &c : cases) {
        SCOPED_TRACE("call " + std::to_string(c.call) + " answers " + std::to_string(c.code));
        int hub = open_hub(CABLE2, FPGA_B);
        ASSERT_GE(hub, 0);
        scxsim::fail_call(Fn::get_hardware, c.call, c.code);
        SLD_ERROR status = -1;
        EXPECT_TRUE(names(&status).empty());
        EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
        EXPECT_EQ(last_count, 0u);
        // The hubs of the removed hardware went with it.
        EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
        EXPECT_EQ(scxsim::open_handle_count(2), 0u);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);

        // The rebuild behind the name lookup reports why it failed.
        scxsim::fail_call(Fn::get_hardware, c.call, c.code);
        char *name = reinterpret_cast<char *>(1);
        EXPECT_EQ(sld_get_hardware_name(1, &name), c.name_status);
        EXPECT_EQ(name, nullptr);
        EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2}));
    }
}

TEST_F(HardwareList, FetchAnsweringTwoIsAccepted) {
    // The answer replaces the fetch, so the records stay zeroed: one
    // hardware with persistent id 0 and no chain, which cannot be named.
    scxsim::fail_call(Fn::get_hardware, 2, 2);
    SLD_ERROR status = -1;
    testing::internal::CaptureStderr();
    std::vector<std::string> listed = names(&status);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(listed, (std::vector<std::string>{"unknown chain hardware"}));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2}));
}

TEST_F(HardwareList, SkippedRecordsAreNeitherListedNorCounted) {
    int hub = open_hub(CABLE2, FPGA_B);
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x4));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1}));
    EXPECT_EQ(last_count, 1u);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x1));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1}));
    // Other flag bits do not hide hardware; it comes back at the end of the list.
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x2));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2}));
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HardwareList, NamesAreMadeAgainOnlyWhenThePrefixNoLongerMatches) {
    // A reported name that the short name still begins with keeps both names.
    ASSERT_TRUE(scxsim::set_cable_name(1, "SimCable"));
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2}));
    EXPECT_TRUE(scxsim::trace_text(Fn::print_hardware_name).empty());

    ASSERT_TRUE(scxsim::set_cable_name(1, "Renamed"));
    EXPECT_EQ(names(), (std::vector<std::string>{"Renamed", CABLE2}));
    EXPECT_EQ(scxsim::trace_text(Fn::print_hardware_name).size(), 4u);
    unsigned long id = 0;
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_HARDWARE_NOT_FOUND);
}

TEST_F(HardwareList, UnnameableHardwareIsCalledUnknownChainHardware) {
    struct Case {
        unsigned long call;
        SCX_ERROR code;
        const char *complaint;
    };
    const Case cases[] = {{1, 33, ""},
                          {1, 5, "scx_error == SCX_TOO_MANY_DEVICES\n"},
                          {1, 0, "scx_error == SCX_TOO_MANY_DEVICES\n"},
                          {2, 5, "scx_error == SCX_NO_ERROR\n"}};
    for (const Case &c : cases) {
        SCOPED_TRACE("call " + std::to_string(c.call) + " answers " + std::to_string(c.code));
        scxsim::remove_cable(9);
        sld_refresh_hardware();
        ASSERT_TRUE(scxsim::add_cable(EXTRA_CABLE));
        scxsim::fail_call(Fn::print_hardware_name, c.call, c.code);
        testing::internal::CaptureStderr();
        std::vector<std::string> listed = names();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.complaint);
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_EQ(listed[2], "unknown chain hardware");
    }
    scxsim::remove_cable(9);
    sld_refresh_hardware();
}

TEST_F(HardwareList, HardwareThatGoesEndsItsHubsAndComesBackUsable) {
    int hub = open_hub(CABLE2, FPGA_B);
    ASSERT_GE(hub, 0);
    ASSERT_EQ(node_count(hub), 2);
    ASSERT_TRUE(scxsim::remove_cable(2));
    EXPECT_EQ(sld_refresh_hardware(), SLD_OK);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    SCX_OPEN *handle = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(hub, &handle), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE2, FPGA_B, &status), -1);
    EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
    // A stale id is still closed normally.
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);

    scxsim::reset();
    EXPECT_EQ(names(), (std::vector<std::string>{CABLE1, CABLE2}));
    hub = open_hub(CABLE2, FPGA_B);
    ASSERT_GE(hub, 0);
    EXPECT_EQ(node_count(hub), 2);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HardwareList, NewChainHandleFailsOneLookupThenIsFollowed) {
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    unsigned long id = 5;
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_OK);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(scxsim::trace_text(Fn::find_hardware),
              (std::vector<std::string>{"find_hardware(\"SimCable-1 [sim:1]\",5000)=0",
                                        "find_hardware(\"SimCable-1 [sim:1]\",5000)=0"}));
}

TEST_F(HardwareList, DeviceQueryOnANewChainGetsAFreshDeviceListInTheSameCall) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    SLD_ERROR status = -1;
    EXPECT_EQ(device_strings(CABLE1, &status), (std::vector<std::string>{FPGA_A, CPLD, FPGA_OLD}));
    EXPECT_EQ(status, SLD_OK);
    // The hub id opened through the replaced list keeps its hub.
    EXPECT_EQ(node_count(hub), 4);
    int second = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(second, 0);
    EXPECT_NE(second, hub);
    SCX_OPEN *first_handle = nullptr, *second_handle = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(hub, &first_handle), SLD_OK);
    EXPECT_EQ(sld_hub_get_scx_open_id(second, &second_handle), SLD_OK);
    EXPECT_NE(first_handle, second_handle);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

TEST_F(HardwareList, NewChainNoticedByAnotherLookupStillGetsAFreshDeviceList) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    unsigned long id = 0;
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_HARDWARE_NOT_FOUND);
    // The entry now has the new chain; its device list must follow it.
    SLD_ERROR status = -1;
    EXPECT_EQ(device_strings(CABLE1, &status), (std::vector<std::string>{FPGA_A, CPLD, FPGA_OLD}));
    EXPECT_EQ(status, SLD_OK);
    SCX_OPEN *handle = nullptr;
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HardwareList, MoreThanATableOfHardwareReportsOnlyTheNamesInTheTable) {
    std::string board = R"({"cables": [)";
    const unsigned long cables = 1030;
    for (unsigned long i = 1; i <= cables; ++i) {
        if (i > 1)
            board += ",";
        board += R"({"persistent_id": )" + std::to_string(i) + R"(, "name": "C)" + std::to_string(i) +
                 R"(", "full_name": "C)" + std::to_string(i) + R"( full", "devices": []})";
    }
    board += "]}";
    load_board(board);
    SLD_ERROR status = -1;
    std::vector<std::string> listed = names(&status);
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(last_count, 1024u);
    ASSERT_EQ(listed.size(), 1024u);
    EXPECT_EQ(listed.front(), "C1");
    EXPECT_EQ(listed.back(), "C1024");
    // Hardware beyond the table is still known by name.
    unsigned long id = 0;
    EXPECT_EQ(sld_get_hardware_persistent_id("C1030 full", &id), SLD_OK);
    EXPECT_EQ(id, 1030u);
    scxsim::reset();
    sld_refresh_hardware();
}

} // namespace
