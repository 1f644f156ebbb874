// Raw device handles for callers that drive a device themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "hardware_support.h"
#include "sim_fixture.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

class RawHandle : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        read_chain(CABLE1);
    }
};

TEST_F(RawHandle, OpensUnderTheChainLockAndBelongsToTheCaller) {
    SCX_OPEN *handle = nullptr;
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(chain_calls(),
              (std::vector<std::string>{"lock_chain(6000)=0", "open_device(1,5,\"JTAG TCL COMMAND\")=0",
                                        "unlock_chain()=0"}));
    // The library does not keep it: a refresh that changes the chain leaves it open.
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3E));
    EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
    EXPECT_EQ(scxsim::open_handle_count(1), 0u);
}

TEST_F(RawHandle, NeedsADeviceListMadeBefore) {
    ASSERT_TRUE(scxsim::add_cable(R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]",
        "devices": [{"idcode": "0x11111111", "ir_length": 4, "name": "X"}]})"));
    sld_refresh_hardware();
    SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
    EXPECT_EQ(sld_scx_device_open("Extra", "@1: X (0x11111111)", &handle), SLD_HARDWARE_NOT_FOUND);
    EXPECT_EQ(handle, reinterpret_cast<SCX_OPEN *>(1));
    EXPECT_EQ(sld_scx_device_open("NoSuchCable", "@1: X (0x11111111)", &handle), SLD_HARDWARE_NOT_FOUND);

    unsigned long count = 0;
    char **strings = nullptr;
    ASSERT_EQ(sld_get_device("Extra", &count, &strings), SLD_OK);
    EXPECT_EQ(sld_scx_device_open("Extra [x:9]", "@1: X (0x11111111)", &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
}

TEST_F(RawHandle, RefusedWhileAHubIsOpenOnTheDevice) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    scxsim::clear_trace();
    SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
    EXPECT_EQ(sld_scx_device_open(CABLE1, FPGA_A, &handle), SLD_ALREADY_LOCKED);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(chain_calls().empty());
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(sld_scx_device_open(CABLE1, FPGA_A, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
}

TEST_F(RawHandle, RetryAfterAChainChangeUsesTheHubClientName) {
    scxsim::fail_call(Fn::open_device, 1, 38);
    SCX_OPEN *handle = nullptr;
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(chain_calls(),
              (std::vector<std::string>{"lock_chain(6000)=0", "open_device(1,5,\"JTAG TCL COMMAND\")=38",
                                        "scan_device_chain()=0", "open_device(1,5,\"SLD HUB CLIENT\")=0",
                                        "unlock_chain()=0"}));
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
}

TEST_F(RawHandle, FailuresLeaveNoHandle) {
    struct Case {
        Fn fn;
        SCX_ERROR code;
        SLD_ERROR status;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {Fn::lock_chain, 34, SLD_ALREADY_LOCKED, {"lock_chain(6000)=34"}},
        {Fn::open_device,
         46,
         SLD_SERVER_ERROR_70,
         {"lock_chain(6000)=0", "open_device(1,5,\"JTAG TCL COMMAND\")=46", "unlock_chain()=0"}},
        {Fn::scan_device_chain,
         88,
         SLD_SERVER_ERROR,
         {"lock_chain(6000)=0", "open_device(1,5,\"JTAG TCL COMMAND\")=38", "scan_device_chain()=88",
          "unlock_chain()=0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(scxsim::fn_name(c.fn));
        scxsim::clear_trace();
        if (c.fn == Fn::scan_device_chain)
            scxsim::fail_call(Fn::open_device, 1, 38);
        scxsim::fail_call(c.fn, 1, c.code);
        SCX_OPEN *handle = reinterpret_cast<SCX_OPEN *>(1);
        EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &handle), c.status);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(chain_calls(), c.calls);
        EXPECT_EQ(scxsim::open_handle_count(1), 0u);
        scxsim::clear_faults();
    }
    // A failed unlock after a good open still hands the handle out.
    scxsim::fail_call(Fn::unlock_chain, 1, 81);
    SCX_OPEN *handle = nullptr;
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, &handle), SLD_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
    release_chain(1);

    EXPECT_EQ(sld_scx_device_open(CABLE1, "@2: SIM-CPLD (0x0A1B2C3D) ", &handle), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(sld_scx_device_open(nullptr, CPLD, &handle), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_scx_device_open(CABLE1, nullptr, &handle), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_scx_device_open(CABLE1, CPLD, nullptr), SLD_NULL_ARGUMENT);
}

TEST_F(RawHandle, LookupsDoNotRaceHardwareRebuilds) {
    // One thread makes the second hardware vanish and come back, the other
    // opens raw handles on it: every lookup sees a whole list.
    std::thread rebuilder([] {
        for (int i = 0; i < 40; ++i) {
            scxsim::set_cable_flags(2, (i % 2) != 0 ? 0x1 : 0);
            sld_refresh_hardware();
            read_chain(CABLE2);
        }
    });
    std::atomic<int> unexpected{0};
    std::thread opener([&] {
        for (int i = 0; i < 40; ++i) {
            SCX_OPEN *handle = nullptr;
            SLD_ERROR status = sld_scx_device_open(CABLE2_FULL, FPGA_B, &handle);
            if (status == SLD_OK)
                scx_close_device(handle);
            else if (status != SLD_HARDWARE_NOT_FOUND && status != SLD_DEVICE_NOT_FOUND)
                ++unexpected;
        }
    });
    rebuilder.join();
    opener.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    SCX_OPEN *handle = nullptr;
    ASSERT_EQ(sld_scx_device_open(CABLE2, FPGA_B, &handle), SLD_OK);
    EXPECT_EQ(scx_close_device(handle), SCX_NO_ERROR);
}

} // namespace
