// The hardware list through the exported functions: enumeration, naming,
// lookups, and hardware that goes, comes back or gets a new chain.
#include <gtest/gtest.h>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

const char EXTRA_CABLE[] = R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]",
    "devices": [{"idcode": "0x11111111", "ir_length": 4, "name": "X"}]})";

class HardwareList : public SimTest {
  protected:
    std::vector<std::string> names(SLD_ERROR *status = nullptr) {
        count = 12345;
        char **table = nullptr;
        SLD_ERROR s = sld_get_hardware(&count, &table);
        if (status != nullptr)
            *status = s;
        std::vector<std::string> out;
        for (unsigned long i = 0; table != nullptr && i < count; ++i)
            out.push_back(table[i]);
        return out;
    }
    unsigned long count = 0;
};

TEST_F(HardwareList, EnumerationNamingAndLookups) {
    SLD_ERROR status = -1;
    EXPECT_EQ(names(&status), (Calls{CABLE1, CABLE2}));
    EXPECT_EQ(status, SLD_OK);
    // Known hardware is matched by persistent id and not named again.
    EXPECT_EQ(scxsim::trace_text(), (Calls{"get_hardware(0,0,10000)=47", "get_hardware(2,1,0)=0"}));

    ASSERT_TRUE(scxsim::add_cable(EXTRA_CABLE));
    scxsim::clear_trace();
    EXPECT_EQ(names(), (Calls{CABLE1, CABLE2, "Extra"}));
    EXPECT_EQ(scxsim::trace_text(),
              (Calls{"get_hardware(0,0,10000)=47", "get_hardware(3,1,0)=0", "print_hardware_name(0,0,0,1)=47",
                     "print_hardware_name(1,5,0,0)=0", "print_hardware_name(0,0,1,1)=47",
                     "print_hardware_name(1,11,1,0)=0"}));

    unsigned long id = 77;
    EXPECT_EQ(sld_get_hardware_persistent_id("Extra [x:9]", &id), SLD_OK);
    EXPECT_EQ(id, 9u);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE2, &id), SLD_OK);
    EXPECT_EQ(id, 2u);
    for (const char *wrong : {"simcable-1", "SimCable-", "SimCable-1 "}) {
        EXPECT_EQ(sld_get_hardware_persistent_id(wrong, &id), SLD_HARDWARE_NOT_FOUND) << wrong;
        EXPECT_EQ(id, 0u);
    }
    char *name = nullptr, *again = nullptr;
    EXPECT_EQ(sld_get_hardware_name(2, &name), SLD_OK);
    EXPECT_STREQ(name, CABLE2);
    EXPECT_EQ(sld_get_hardware_name(2, &again), SLD_OK);
    EXPECT_EQ(again, name); // the pooled copy, every time
    EXPECT_EQ(sld_get_hardware_name(4242, &name), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(name, nullptr);

    scxsim::clear_trace();
    char **table = nullptr;
    EXPECT_EQ(sld_get_hardware(nullptr, &table), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware(&id, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_name(1, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id(nullptr, &id), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_TRUE(scxsim::trace_text().empty());
}

TEST_F(HardwareList, FailedEnumerationEmptiesTheList) {
    // The count query must answer 47; the fetch 0 or 2.
    const struct {
        unsigned long call;
        SCX_ERROR code;
        SLD_ERROR name_status;
    } cases[] = {{1, 0, SLD_JTAG_ERROR},
                 {1, 86, SLD_HARDWARE_NOT_FOUND},
                 {1, 81, SLD_SERVER_ERROR},
                 {2, 46, SLD_SERVER_ERROR_70},
                 {2, 47, SLD_JTAG_ERROR}};
    for (const auto &c : cases) {
        SCOPED_TRACE("call " + std::to_string(c.call) + " answers " + std::to_string(c.code));
        int hub = open_hub(CABLE2, FPGA_B);
        ASSERT_GE(hub, 0);
        scxsim::fail_call(Fn::get_hardware, c.call, c.code);
        SLD_ERROR status = -1;
        EXPECT_TRUE(names(&status).empty());
        EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(node_count(hub), -SLD_STALE_ID); // the hubs went with the hardware
        EXPECT_EQ(scxsim::open_handle_count(), 0u);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        // The rebuild behind the name lookup reports why it failed.
        scxsim::fail_call(Fn::get_hardware, c.call, c.code);
        char *name = reinterpret_cast<char *>(1);
        EXPECT_EQ(sld_get_hardware_name(1, &name), c.name_status);
        EXPECT_EQ(name, nullptr);
    }
    // 2 from the fetch is accepted; the fault left the records zeroed: one
    // nameless hardware with id 0.
    scxsim::fail_call(Fn::get_hardware, 2, 2);
    SLD_ERROR status = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(names(&status), (Calls{"unknown chain hardware"}));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(names(), (Calls{CABLE1, CABLE2}));
}

TEST_F(HardwareList, SkippedRecordsAndRenamedHardware) {
    int hub = open_hub(CABLE2, FPGA_B);
    ASSERT_GE(hub, 0);
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x4));
    EXPECT_EQ(names(), (Calls{CABLE1}));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x1));
    EXPECT_EQ(names(), (Calls{CABLE1}));
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x2)); // other bits hide nothing
    EXPECT_EQ(names(), (Calls{CABLE1, CABLE2}));
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);

    // A reported name that the short name still begins with keeps the names.
    ASSERT_TRUE(scxsim::set_cable_name(1, "SimCable"));
    scxsim::clear_trace();
    EXPECT_EQ(names(), (Calls{CABLE1, CABLE2}));
    EXPECT_TRUE(scxsim::trace_text(Fn::print_hardware_name).empty());
    ASSERT_TRUE(scxsim::set_cable_name(1, "Renamed"));
    EXPECT_EQ(names(), (Calls{"Renamed", CABLE2}));
    EXPECT_EQ(scxsim::trace_text(Fn::print_hardware_name).size(), 4u);
}

TEST_F(HardwareList, UnnameableHardwareIsCalledUnknownChainHardware) {
    const struct {
        unsigned long call;
        SCX_ERROR code;
        const char *complaint;
    } cases[] = {{1, 33, ""},
                 {1, 5, "scx_error == SCX_TOO_MANY_DEVICES\n"},
                 {1, 0, "scx_error == SCX_TOO_MANY_DEVICES\n"},
                 {2, 5, "scx_error == SCX_NO_ERROR\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE("call " + std::to_string(c.call) + " answers " + std::to_string(c.code));
        scxsim::reset();
        sld_refresh_hardware();
        ASSERT_TRUE(scxsim::add_cable(EXTRA_CABLE));
        scxsim::fail_call(Fn::print_hardware_name, c.call, c.code);
        testing::internal::CaptureStderr();
        EXPECT_EQ(names(), (Calls{CABLE1, CABLE2, "unknown chain hardware"}));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.complaint);
    }
    // A length no cable name has is taken for corrupt, not for lack of memory.
    scxsim::reset();
    sld_refresh_hardware();
    ASSERT_TRUE(scxsim::set_cable_name(2, std::string(70000, 'x')));
    SLD_ERROR status = -1;
    EXPECT_EQ(names(&status), (Calls{CABLE1, "unknown chain hardware"}));
    EXPECT_EQ(status, SLD_OK);
}

TEST_F(HardwareList, HardwareThatGoesEndsItsHubsAndComesBackUsable) {
    int hub = open_hub(CABLE2, FPGA_B);
    ASSERT_EQ(node_count(hub), 2);
    ASSERT_TRUE(scxsim::remove_cable(2));
    EXPECT_EQ(sld_refresh_hardware(), SLD_OK);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE2, FPGA_B, &status), -1);
    EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);

    scxsim::reset();
    EXPECT_EQ(names(), (Calls{CABLE1, CABLE2}));
    hub = open_hub(CABLE2, FPGA_B);
    EXPECT_EQ(node_count(hub), 2);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HardwareList, NewChainHandleIsFollowed) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    // A name lookup that notices the new chain fails once.
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    scxsim::clear_trace();
    unsigned long id = 5;
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(sld_get_hardware_persistent_id(CABLE1, &id), SLD_OK);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(scxsim::trace_text(Fn::find_hardware), (Calls{"find_hardware(\"SimCable-1 [sim:1]\",5000)=0",
                                                            "find_hardware(\"SimCable-1 [sim:1]\",5000)=0"}));
    // The device list follows the entry's new chain, however it was noticed.
    EXPECT_EQ(device_strings(CABLE1), (Calls{FPGA_A, CPLD, FPGA_OLD}));

    // Noticed by the device query itself: a fresh list in the same call.
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    SLD_ERROR status = -1;
    EXPECT_EQ(device_strings(CABLE1, &status), (Calls{FPGA_A, CPLD, FPGA_OLD}));
    EXPECT_EQ(status, SLD_OK);
    SCX_OPEN *raw = nullptr;
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &raw), SLD_OK);
    EXPECT_EQ(scx_close_device(raw), SCX_NO_ERROR);

    // The hub id opened through the replaced list keeps its hub; a new one
    // opens the device anew on the new chain.
    EXPECT_EQ(node_count(hub), 4);
    int second = open_hub(CABLE1, FPGA_A);
    SCX_OPEN *a = nullptr, *b = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(hub, &a), SLD_OK);
    EXPECT_EQ(sld_hub_get_scx_open_id(second, &b), SLD_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

TEST_F(HardwareList, MoreThanATableOfHardwareReportsOnlyTheNamesInTheTable) {
    std::string board = R"({"cables": [)";
    for (unsigned long i = 1; i <= 1030; ++i) {
        std::string n = std::to_string(i);
        board += (i > 1 ? "," : "") + std::string(R"({"persistent_id": )") + n + R"(, "name": "C)" + n +
                 R"(", "full_name": "C)" + n + R"( full"})";
    }
    load_board(board + "]}");
    SLD_ERROR status = -1;
    std::vector<std::string> listed = names(&status);
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(count, 1024u);
    ASSERT_EQ(listed.size(), 1024u);
    EXPECT_EQ(listed.back(), "C1024");
    // Hardware beyond the table is still known by name.
    unsigned long id = 0;
    EXPECT_EQ(sld_get_hardware_persistent_id("C1030 full", &id), SLD_OK);
    EXPECT_EQ(id, 1030u);
    scxsim::reset();
    sld_refresh_hardware();
}

} // namespace
