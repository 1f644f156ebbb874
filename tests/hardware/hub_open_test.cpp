// Opening and closing hubs: the open sequence with its retries and
// failures, shared hubs, refused hubs, the 128 hub ids and stale ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
        EXPECT_EQ(scxsim::open_handle_count(), 0u) << "a test left a hub open";
    }
};

const std::vector<std::string> OPEN_FIRST = {"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=0",
                                             "unlock_chain()=0"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(HubOpen, OpenLocksTheChainAroundOneOpenAndFindsTheNodes) {
    SLD_ERROR status = -1;
    int hub = open_hub(CABLE1, FPGA_A, &status);
    EXPECT_EQ(status, SLD_OK);
    ASSERT_EQ(hub, 0);
    EXPECT_EQ(chain_calls(), OPEN_FIRST);
    // Discovery ran on the opened device after the chain was let go, under the device lock.
    std::vector<std::string> trace = scxsim::trace_text();
    auto unlock = std::find(trace.begin(), trace.end(), "unlock_chain()=0");
    ASSERT_NE(unlock, trace.end());
    ASSERT_NE(unlock + 1, trace.end());
    EXPECT_EQ(*(unlock + 1), "lock(6000,1)=0");
    EXPECT_EQ(node_count(hub), 4);

    int other = open_hub(CABLE2_FULL, FPGA_B, &status);
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(other, 1);
    EXPECT_EQ(node_count(other), 2);
    EXPECT_EQ(sld_hub_close(other), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HubOpen, SecondOpenSharesTheHubUntilTheLastClose) {
    int first = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(first, 0);
    scxsim::clear_trace();
    int second = open_hub(CABLE1_FULL, FPGA_A);
    ASSERT_GE(second, 0);
    EXPECT_NE(second, first);
    // No second open, no second discovery.
    EXPECT_TRUE(chain_calls().empty());
    EXPECT_TRUE(scxsim::trace_text(Fn::lock).empty());
    SCX_OPEN *a = nullptr, *b = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(first, &a), SLD_OK);
    EXPECT_EQ(sld_hub_get_scx_open_id(second, &b), SLD_OK);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);

    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    EXPECT_EQ(node_count(second), 4);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    EXPECT_EQ(scxsim::trace_text(Fn::close_device), (std::vector<std::string>{"close_device()=0"}));
}

TEST_F(HubOpen, RefusedHubsGiveTheirDeviceBack) {
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, CPLD, &status), -1);
    EXPECT_EQ(status, SLD_HUB_NOT_FOUND);
    EXPECT_EQ(open_hub(CABLE1, FPGA_OLD, &status), -3);
    EXPECT_EQ(status, SLD_UNSUPPORTED_HUB);
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    EXPECT_EQ(scxsim::trace_text(Fn::close_device).size(), 2u);
    // Nothing was filed: the first free id is still 0.
    int hub = open_hub(CABLE1, FPGA_A);
    EXPECT_EQ(hub, 0);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HubOpen, UnknownNamesAreNotFound) {
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub("NoSuchCable", FPGA_A, &status), -1);
    EXPECT_EQ(status, SLD_HARDWARE_NOT_FOUND);
    const char *wrong[] = {"@1: sim-fpga-a (0x020A10DD)", "@1: SIM-FPGA-A (0x020A10DD) ",
                           "@1: SIM-FPGA-A (0x020a10dd)", "@1:  SIM-FPGA-A (0x020A10DD)", ""};
    for (const char *device : wrong) {
        SCOPED_TRACE(device);
        scxsim::clear_trace();
        EXPECT_EQ(open_hub(CABLE1, device, &status), -1);
        EXPECT_EQ(status, SLD_DEVICE_NOT_FOUND);
        // The second try reads the chain afresh, then finds nothing to open.
        EXPECT_EQ(chain_calls(), chain_read(3));
    }
    int id = 5;
    EXPECT_EQ(sld_hub_open(nullptr, FPGA_A, &id), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open(CABLE1, nullptr, &id), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open(CABLE1, FPGA_A, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(id, 5);
}

TEST_F(HubOpen, ChangedChainIsRescannedAndOpenedOnceMore) {
    scxsim::fail_call(Fn::open_device, 1, 38);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    EXPECT_EQ(chain_calls(),
              (std::vector<std::string>{"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=38",
                                        "scan_device_chain()=0", "open_device(0,5,\"SLD HUB CLIENT\")=0",
                                        "unlock_chain()=0"}));
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HubOpen, FirstAttemptFailuresAreRetriedOnAFreshList) {
    const std::vector<std::string> retry = concat(chain_read(3), OPEN_FIRST);
    struct Case {
        std::vector<std::pair<Fn, SCX_ERROR>> faults; // each on the first call of its function
        std::vector<std::string> first_attempt;
    };
    const std::vector<Case> cases = {
        {{{Fn::lock_chain, 34}}, {"lock_chain(6000)=34"}},
        {{{Fn::open_device, 46}},
         {"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=46", "unlock_chain()=0"}},
        {{{Fn::open_device, 38}, {Fn::scan_device_chain, 46}},
         {"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=38", "scan_device_chain()=46",
          "unlock_chain()=0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.first_attempt.back());
        scxsim::clear_trace();
        for (const auto &fault : c.faults)
            scxsim::fail_call(fault.first, 1, fault.second);
        SLD_ERROR status = -1;
        int hub = open_hub(CABLE1, FPGA_A, &status);
        EXPECT_EQ(status, SLD_OK);
        ASSERT_GE(hub, 0);
        EXPECT_EQ(chain_calls(), concat(c.first_attempt, retry));
        EXPECT_EQ(node_count(hub), 4);
        EXPECT_EQ(scxsim::open_handle_count(1), 1u);
        EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        scxsim::clear_faults();
    }
}

TEST_F(HubOpen, HandleOpenedBeforeAFailedChainUnlockIsClosed) {
    scxsim::fail_call(Fn::unlock_chain, 1, 81);
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, FPGA_A, &status), -1);
    // The injected failure leaves the chain held, so the second attempt
    // cannot read the chain and finds no device.
    EXPECT_EQ(status, SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(chain_calls(),
              (std::vector<std::string>{"lock_chain(6000)=0", "open_device(0,5,\"SLD HUB CLIENT\")=0",
                                        "unlock_chain()=81", "close_device()=0", "lock_chain(6000)=34"}));
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    release_chain(1);
    int hub = open_hub(CABLE1, FPGA_A, &status);
    EXPECT_EQ(status, SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

TEST_F(HubOpen, FailuresOnBothAttemptsReportTheSecond) {
    struct Case {
        Fn fn;
        SCX_ERROR code;
        SLD_ERROR status;
    };
    // A chain that cannot be locked or let go yields no list on the second
    // attempt, so its device is not found.
    const Case cases[] = {{Fn::open_device, 46, SLD_SERVER_ERROR_70},
                          {Fn::open_device, 37, SLD_DEVICE_NOT_FOUND},
                          {Fn::open_device, 38, SLD_JTAG_ERROR},
                          {Fn::lock_chain, 34, SLD_DEVICE_NOT_FOUND},
                          {Fn::unlock_chain, 81, SLD_DEVICE_NOT_FOUND}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " answers " + std::to_string(c.code));
        read_chain(CABLE1);
        scxsim::fail_every(c.fn, c.code);
        SLD_ERROR status = -1;
        EXPECT_EQ(open_hub(CABLE1, FPGA_A, &status), -1);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(scxsim::open_handle_count(1), 0u);
        scxsim::clear_faults();
        release_chain(1);
    }
    // An open answering 38 on both tries of both attempts: four opens, two rescans.
    scxsim::clear_trace();
    scxsim::fail_every(Fn::open_device, 38);
    open_hub(CABLE1, FPGA_A);
    EXPECT_EQ(scxsim::trace_text(Fn::open_device).size(), 4u);
    scxsim::clear_faults();
}

TEST_F(HubOpen, HubIdsRunOutAfter128AndTheExtraReferenceIsGivenBack) {
    std::vector<int> ids;
    for (int i = 0; i < 128; ++i) {
        int id = open_hub(CABLE1, FPGA_A);
        ASSERT_EQ(id, i);
        ids.push_back(id);
    }
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
    for (int id : ids) {
        EXPECT_EQ(scxsim::open_handle_count(1), 1u);
        EXPECT_EQ(sld_hub_close(id), SLD_OK);
    }
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
}

TEST_F(HubOpen, CloseRules) {
    EXPECT_EQ(sld_hub_close(-1), SLD_INVALID_HUB_ID);
    EXPECT_EQ(sld_hub_close(128), SLD_INVALID_HUB_ID);
    EXPECT_EQ(sld_hub_close(3), SLD_INVALID_HUB_ID);
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    int node = -1;
    ASSERT_EQ(sld_node_open(hub, 0, &node), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_HUB_HAS_OPEN_NODES);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_node_close(node), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_INVALID_HUB_ID);
}

TEST_F(HubOpen, IdsOfADestroyedHubAreStaleUntilClosed) {
    int first = open_hub(CABLE1, FPGA_A);
    int second = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    int node = -1;
    ASSERT_EQ(sld_node_open(second, 1, &node), SLD_OK);
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A10DE));
    EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);

    for (int id : {first, second}) {
        EXPECT_EQ(node_count(id), -SLD_STALE_ID);
        SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
        EXPECT_EQ(sld_hub_get_scx_open_id(id, &handle), SLD_DEVICE_NOT_FOUND);
        EXPECT_EQ(handle, reinterpret_cast<SCX_OPEN *>(1));
    }
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    // Its node id still counts until it is closed.
    EXPECT_EQ(sld_hub_close(second), SLD_HUB_HAS_OPEN_NODES);
    EXPECT_EQ(sld_node_close(node), SLD_OK);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
}

TEST_F(HubOpen, HandleBehindAHubId) {
    SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
    EXPECT_EQ(sld_hub_get_scx_open_id(0, nullptr), SLD_NULL_ARGUMENT);
    for (int id : {-1, 0, 127, 128}) {
        EXPECT_EQ(sld_hub_get_scx_open_id(id, &handle), SLD_DEVICE_NOT_FOUND) << id;
        EXPECT_EQ(handle, reinterpret_cast<SCX_OPEN *>(1));
    }
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    EXPECT_EQ(sld_hub_get_scx_open_id(hub, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    // The handle is the hub's own: locking it through the JTAG library works.
    EXPECT_EQ(scx_lock(handle, 100, SCX_PACK_STYLE_AUTO), SCX_NO_ERROR);
    EXPECT_TRUE(scxsim::device_locked(1, 0));
    EXPECT_EQ(scx_unlock(handle), SCX_NO_ERROR);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

} // namespace
