// Opening and closing hubs and raw device handles: the open sequence with
// its retries and failures, shared and refused hubs, the 128 hub ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

class HubOpen : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        read_chain(CABLE1);
        read_chain(CABLE2);
    }
    void TearDown() override {
        SimTest::TearDown();
        EXPECT_EQ(scxsim::open_handle_count(), 0u) << "a test left a handle open";
    }
};

const Calls OPEN = {"lock_chain(6000)=0", HUB_OPEN, "unlock_chain()=0"};

TEST_F(HubOpen, OpenSharesOneHubAmongItsIds) {
    SLD_ERROR status = -1;
    int first = open_hub(CABLE1, FPGA_A, &status);
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(chain_calls(), OPEN);
    // Discovery runs on the opened device once the chain is let go.
    Calls trace = scxsim::trace_text();
    auto unlock = std::find(trace.begin(), trace.end(), "unlock_chain()=0");
    ASSERT_LT(unlock + 1, trace.end());
    EXPECT_EQ(*(unlock + 1), "lock(6000,1)=0");
    EXPECT_EQ(node_count(first), 4);

    scxsim::clear_trace();
    int second = open_hub(CABLE1_FULL, FPGA_A);
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(chain_calls().empty()); // no second open, no discovery
    EXPECT_TRUE(scxsim::trace_text(Fn::lock).empty());
    SCX_OPEN *a = nullptr, *b = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(first, &a), SLD_OK);
    EXPECT_EQ(sld_hub_get_scx_open_id(second, &b), SLD_OK);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(scx_lock(a, 100, SCX_PACK_STYLE_AUTO), SCX_NO_ERROR); // the hub's own handle
    EXPECT_TRUE(scxsim::device_locked(1, 0));
    EXPECT_EQ(scx_unlock(a), SCX_NO_ERROR);

    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    EXPECT_EQ(node_count(second), 4);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    EXPECT_EQ(scxsim::trace_text(Fn::close_device), (Calls{"close_device()=0"}));
    EXPECT_EQ(sld_hub_get_scx_open_id(second, &a), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(sld_hub_get_scx_open_id(0, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(open_hub(CABLE2_FULL, FPGA_B), 0);
    EXPECT_EQ(node_count(0), 2);
    EXPECT_EQ(sld_hub_close(0), SLD_OK);
}

TEST_F(HubOpen, RefusedHubsAndUnknownNames) {
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, CPLD, &status), -1);
    EXPECT_EQ(status, SLD_HUB_NOT_FOUND);
    EXPECT_EQ(open_hub(CABLE1, FPGA_OLD, &status), -3);
    EXPECT_EQ(status, SLD_UNSUPPORTED_HUB);
    EXPECT_EQ(scxsim::trace_text(Fn::close_device).size(), 2u); // both devices given back
    EXPECT_EQ(open_hub("NoSuchCable", FPGA_A, &status), -1);
    EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
    for (const char *device :
         {"@1: sim-fpga-a (0x020A10DD)", "@1: SIM-FPGA-A (0x020A10DD) ", "@1: SIM-FPGA-A (0x020a10dd)", ""}) {
        SCOPED_TRACE(device);
        scxsim::clear_trace();
        EXPECT_EQ(open_hub(CABLE1, device, &status), -1);
        EXPECT_EQ(status, SLD_DEVICE_NOT_FOUND);
        EXPECT_EQ(chain_calls(), chain_read(3)); // the second try reads afresh
    }
    int id = 5;
    EXPECT_EQ(sld_hub_open(nullptr, FPGA_A, &id), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open(CABLE1, nullptr, &id), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open(CABLE1, FPGA_A, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(id, 5);
}

TEST_F(HubOpen, OpenFailuresAndRetries) {
    const Calls retry = concat(chain_read(3), OPEN);
    const Calls open38 = {"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=38"};
    const struct {
        std::vector<std::pair<Fn, SCX_ERROR>> faults; // on the first call of each
        SLD_ERROR status;
        Calls calls;
    } cases[] = {
        {{{Fn::open_device, 38}},
         SLD_OK,
         concat(open38, {"scan_device_chain()=0", HUB_OPEN, "unlock_chain()=0"})},
        {{{Fn::lock_chain, 34}}, SLD_OK, concat({"lock_chain(6000)=34"}, retry)},
        {{{Fn::open_device, 46}},
         SLD_OK,
         concat({"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=46", "unlock_chain()=0"}, retry)},
        {{{Fn::open_device, 38}, {Fn::scan_device_chain, 46}},
         SLD_OK,
         concat(concat(open38, {"scan_device_chain()=46", "unlock_chain()=0"}), retry)},
        // The handle of a failed unlock is closed; the chain stays held, so
        // the second attempt reads no list.
        {{{Fn::unlock_chain, 81}},
         SLD_DEVICE_NOT_FOUND,
         {"lock_chain(6000)=0", HUB_OPEN, "unlock_chain()=81", "close_device()=0", "lock_chain(6000)=34"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls[1]);
        scxsim::clear_trace();
        for (const auto &fault : c.faults)
            scxsim::fail_call(fault.first, 1, fault.second);
        SLD_ERROR status = -1;
        int hub = open_hub(CABLE1, FPGA_A, &status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(chain_calls(), c.calls);
        if (hub >= 0) {
            EXPECT_EQ(node_count(hub), 4);
            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        }
        scxsim::clear_faults();
        release_chain(1);
        read_chain(CABLE1);
    }
    // Failing on both attempts reports the second.
    const struct {
        Fn fn;
        SCX_ERROR code;
        SLD_ERROR status;
    } always[] = {{Fn::open_device, 46, SLD_SERVER_ERROR_70},
                  {Fn::open_device, 37, SLD_DEVICE_NOT_FOUND},
                  {Fn::open_device, 38, SLD_JTAG_ERROR},
                  {Fn::lock_chain, 34, SLD_DEVICE_NOT_FOUND}};
    for (const auto &c : always) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " answers " + std::to_string(c.code));
        scxsim::clear_trace();
        scxsim::fail_every(c.fn, c.code);
        SLD_ERROR status = -1;
        EXPECT_EQ(open_hub(CABLE1, FPGA_A, &status), -1);
        EXPECT_EQ(status, c.status);
        if (c.code == 38) { // both tries of both attempts
            EXPECT_EQ(scxsim::trace_text(Fn::open_device).size(), 4u);
        }
        scxsim::clear_faults();
        read_chain(CABLE1);
    }
}

TEST_F(HubOpen, HubIdsRunOutAfter128) {
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(open_hub(CABLE1, FPGA_A), i);
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, FPGA_A, &status), -1);
    EXPECT_EQ(status, SLD_NO_FREE_SLOT);
    // A hub opened for the refused id alone is closed again.
    EXPECT_EQ(open_hub(CABLE2, FPGA_B, &status), -1);
    EXPECT_EQ(status, SLD_NO_FREE_SLOT);
    EXPECT_EQ(scxsim::open_handle_count(2), 0u);
    // Ids are reused lowest first; the shared hub lives until the last id goes.
    EXPECT_EQ(sld_hub_close(77), SLD_OK);
    EXPECT_EQ(sld_hub_close(5), SLD_OK);
    EXPECT_EQ(open_hub(CABLE1, FPGA_A), 5);
    EXPECT_EQ(open_hub(CABLE1, FPGA_A), 77);
    for (int id = 0; id < 128; ++id) {
        EXPECT_EQ(scxsim::open_handle_count(1), 1u);
        EXPECT_EQ(sld_hub_close(id), SLD_OK);
    }
}

TEST_F(HubOpen, CloseRulesAndStaleIds) {
    for (int id : {-1, 3, 128})
        EXPECT_EQ(sld_hub_close(id), SLD_INVALID_HUB_ID) << id;
    int first = open_hub(CABLE1, FPGA_A), second = open_hub(CABLE1, FPGA_A);
    int node = -1;
    ASSERT_EQ(sld_node_open(second, 1, &node), SLD_OK);
    EXPECT_EQ(sld_hub_close(second), SLD_HUB_HAS_OPEN_NODES);
    EXPECT_EQ(node_count(second), 4);
    // The hub's device changes: both ids go stale, the node id still counts.
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A10DE));
    EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    for (int id : {first, second}) {
        EXPECT_EQ(node_count(id), -SLD_STALE_ID);
        SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
        EXPECT_EQ(sld_hub_get_scx_open_id(id, &handle), SLD_DEVICE_NOT_FOUND);
        EXPECT_EQ(handle, reinterpret_cast<SCX_OPEN *>(1));
    }
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    EXPECT_EQ(sld_hub_close(first), SLD_INVALID_HUB_ID);
    EXPECT_EQ(sld_hub_close(second), SLD_HUB_HAS_OPEN_NODES);
    EXPECT_EQ(sld_node_close(node), SLD_OK);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
}

TEST_F(HubOpen, RawHandlesBelongToTheCaller) {
    const char *extra = R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]",
        "devices": [{"idcode": "0x11111111", "ir_length": 4, "name": "X"}]})";
    ASSERT_TRUE(scxsim::add_cable(extra));
    sld_refresh_hardware();
    SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
    // No device list made for the hardware yet.
    EXPECT_EQ(sld_scx_device_open("Extra", "@1: X (0x11111111)", &handle), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(handle, reinterpret_cast<SCX_OPEN *>(1));
    EXPECT_EQ(sld_scx_device_open(nullptr, CPLD, &handle), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_scx_device_open(CABLE1, nullptr, &handle), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, nullptr), SLD_NULL_ARGUMENT);

    scxsim::clear_trace();
    EXPECT_EQ(sld_scx_device_open(CABLE1_FULL, CPLD, &handle), SLD_OK);
    EXPECT_EQ(chain_calls(),
              (Calls{"lock_chain(6000)=0", "open_device(1,5,\"JTAG TCL COMMAND\")=0", "unlock_chain()=0"}));
    // The library keeps no record of it: a chain change leaves it open.
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);

    // Refused while a hub is open on the device, without chain traffic.
    int hub = open_hub(CABLE1, FPGA_A);
    scxsim::clear_trace();
    EXPECT_EQ(sld_scx_device_open(CABLE1, FPGA_A, &handle), SLD_ALREADY_LOCKED);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(chain_calls().empty());
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(sld_scx_device_open(CABLE1, "@1: SIM-FPGA-A (0x020A10DD) ", &handle), SLD_DEVICE_NOT_FOUND);

    const Calls tcl38 = {"lock_chain(6000)=0", "open_device(0,5,\"JTAG TCL COMMAND\")=38"};
    const struct {
        Fn fn;
        SCX_ERROR code;
        SLD_ERROR status;
        Calls calls;
    } cases[] = {
        {Fn::lock_chain, 34, SLD_ALREADY_LOCKED, {"lock_chain(6000)=34"}},
        {Fn::open_device,
         46,
         SLD_SERVER_ERROR_70,
         {"lock_chain(6000)=0", "open_device(0,5,\"JTAG TCL COMMAND\")=46", "unlock_chain()=0"}},
        {Fn::scan_device_chain, 88, SLD_SERVER_ERROR,
         concat(tcl38, {"scan_device_chain()=88", "unlock_chain()=0"})},
        // After a rescan the open is repeated as a hub client.
        {Fn::scan_device_chain, 0, SLD_OK,
         concat(tcl38, {"scan_device_chain()=0", HUB_OPEN, "unlock_chain()=0"})},
        // A failed unlock after a good open still hands the handle out.
        {Fn::unlock_chain,
         81,
         SLD_OK,
         {"lock_chain(6000)=0", "open_device(0,5,\"JTAG TCL COMMAND\")=0", "unlock_chain()=81"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls.back());
        scxsim::clear_trace();
        if (c.fn == Fn::scan_device_chain)
            scxsim::fail_call(Fn::open_device, 1, 38);
        if (c.code != 0)
            scxsim::fail_call(c.fn, 1, c.code);
        handle = reinterpret_cast<SCX_OPEN *>(1);
        EXPECT_EQ(sld_scx_device_open(CABLE1, FPGA_A, &handle), c.status);
        EXPECT_EQ(chain_calls(), c.calls);
        EXPECT_EQ(handle != nullptr, c.status == SLD_OK);
        if (handle != nullptr) {
            EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
        }
        scxsim::clear_faults();
        release_chain(1);
    }
}

TEST_F(HubOpen, RawOpensDoNotRaceHardwareRebuilds) {
    // One thread makes the second hardware vanish and come back, the other
    // opens raw handles on it. A cable marked unavailable but not yet
    // dropped answers the open with a server error.
    std::thread rebuilder([] {
        for (int i = 0; i < 40; ++i) {
            scxsim::set_cable_flags(2, (i % 2) != 0 ? 0x1 : 0);
            sld_refresh_hardware();
            sld_refresh_device(CABLE2);
        }
    });
    std::atomic<int> unexpected{0};
    std::thread opener([&] {
        for (int i = 0; i < 40; ++i) {
            SCX_OPEN *handle = nullptr;
            SLD_ERROR status = sld_scx_device_open(CABLE2_FULL, FPGA_B, &handle);
            if (status == SLD_OK)
                scx_close_device(handle);
            else if (status != SLD_HARDWARE_NOT_FOUND && status != SLD_DEVICE_NOT_FOUND &&
                     status != SLD_SERVER_ERROR)
                ++unexpected;
        }
    });
    rebuilder.join();
    opener.join();
    EXPECT_EQ(unexpected.load(), 0);
    scxsim::set_cable_flags(2, 0);
    sld_refresh_hardware();
    read_chain(CABLE2);
    SCX_OPEN *handle = nullptr;
    ASSERT_EQ(sld_scx_device_open(CABLE2, FPGA_B, &handle), SLD_OK);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
}

} // namespace
