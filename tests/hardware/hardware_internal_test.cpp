// What the exported functions cannot show: the reason a chain read leaves,
// the device objects a hardware entry keeps, and running out of memory at
// every allocating step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hardware/device.h"
#include "hardware/hardware.h"
#include "hardware_support.h"
#include "sim_fixture.h"
#include "thr_debug.h"

using namespace hw_test;
using scxsim::Fn;

namespace {

class HardwareInternals : public SimTest {
  protected:
    void TearDown() override {
        sld_testing::fail_allocation_after(-1);
        SimTest::TearDown();
    }
    ROZI_VUV_MANAGER *m = ROZI_VUV_MANAGER::get_manager();

    ROZI_VUV_HARDWARE_INFO *entry(unsigned long persistent_id) {
        for (ROZI_VUV_HARDWARE_INFO *e = m->hardware->entries; e != nullptr; e = e->next_entry) {
            if (e->persistent_id == persistent_id)
                return e;
        }
        return nullptr;
    }
};

TEST_F(HardwareInternals, ChainReadLeavesTheReasonOfItsFailure) {
    struct Case {
        Fn fn;
        unsigned long call;
        SCX_ERROR code;
        bool ok;
        SLD_ERROR last_error;
    };
    const Case cases[] = {
        {Fn::lock_chain, 1, 34, false, SLD_ALREADY_LOCKED},
        {Fn::scan_device_chain, 1, 87, false, SLD_DEVICE_NOT_FOUND},
        {Fn::scan_device_chain, 1, 46, false, SLD_SERVER_ERROR_70},
        {Fn::scan_device_chain, 1, 36, true, SLD_OK},
        {Fn::read_device_chain, 1, 87, false, SLD_DEVICE_NOT_FOUND},
        {Fn::read_device_chain, 1, 5, false, SLD_JTAG_ERROR},
        {Fn::read_device_chain, 1, 0, true, SLD_OK},
        {Fn::read_device_chain, 2, 86, false, SLD_HARDWARE_NOT_FOUND},
        {Fn::unlock_chain, 1, 81, false, SLD_SERVER_ERROR},
    };
    ROZI_VUV_CALL_LEVEL level(m);
    ROZI_VUV_DEVICE *device = m->get_device(CABLE1);
    ASSERT_NE(device, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " call " + std::to_string(c.call) + " answers " +
                     std::to_string(c.code));
        ASSERT_TRUE(device->build_device_list(device->chain));
        scxsim::fail_call(c.fn, c.call, c.code);
        m->last_error = SLD_STALE_ID;
        EXPECT_EQ(device->build_device_list(device->chain), c.ok);
        EXPECT_EQ(m->last_error, c.last_error);
        if (c.ok) {
            EXPECT_EQ(device->device_count, 3u);
        } else {
            EXPECT_EQ(device->device_count, 0u);
            EXPECT_EQ(device->device_strings, nullptr);
            EXPECT_EQ(device->device_records, nullptr);
            EXPECT_EQ(device->hubs, nullptr);
        }
        scxsim::clear_faults();
        if (c.fn == Fn::unlock_chain)
            release_chain(1);
    }
}

TEST_F(HardwareInternals, ReplacedDeviceObjectsStayWhileTheyHoldHubs) {
    int hub = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(hub, 0);
    ROZI_VUV_HARDWARE_INFO *cable = entry(1);
    ASSERT_NE(cable, nullptr);
    ROZI_VUV_DEVICE *old = cable->device;
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(m->hub_table[hub].device, old);

    // A device string that no position has makes the open try a fresh list.
    SLD_ERROR status = -1;
    EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)", &status), -1);
    EXPECT_EQ(status, SLD_DEVICE_NOT_FOUND);
    EXPECT_NE(cable->device, old);
    EXPECT_EQ(cable->retired_devices, old);
    EXPECT_EQ(old->retired_next, nullptr);
    // A replaced list without hubs is not kept.
    EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)"), -1);
    EXPECT_EQ(cable->retired_devices, old);
    EXPECT_EQ(old->retired_next, nullptr);

    // The old id keeps its hub; a new open goes through the current list.
    EXPECT_EQ(node_count(hub), 4);
    int second = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(second, 0);
    EXPECT_EQ(m->hub_table[second].device, cable->device);
    EXPECT_EQ(scxsim::open_handle_count(1), 2u);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);

    // Hardware that goes takes its replaced lists along: the old id is stale.
    ASSERT_TRUE(scxsim::remove_cable(1));
    sld_refresh_hardware();
    EXPECT_EQ(entry(1), nullptr);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(m->hub_table[hub].device, nullptr);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

// Runs setup, then step with its k-th allocation failing, for k = 1, 2, ...
// until a step no longer reaches the k-th allocation; check(k, failed,
// status) judges each run.
template <class Setup, class Step, class Check> void each_allocation(Setup setup, Step step, Check check) {
    for (long k = 1; k < 1000; ++k) {
        setup();
        sld_testing::fail_allocation_after(k);
        SLD_ERROR status = step();
        bool failed = sld_testing::allocation_count() >= k;
        sld_testing::fail_allocation_after(-1);
        EXPECT_EQ(thr_debug_total_depth(), 0) << "allocation " << k;
        check(k, failed, status);
        if (!failed)
            return;
    }
    ADD_FAILURE() << "no run without a failed allocation";
}

TEST_F(HardwareInternals, HardwareBuildOutOfMemoryRemovesEveryEntry) {
    const char *cable = R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]",
        "devices": [{"idcode": "0x11111111", "ir_length": 4, "name": "X"}]})";
    int hub = -1;
    each_allocation(
        [&] {
            scxsim::reset();
            sld_refresh_hardware();
            hub = open_hub(CABLE1, FPGA_A);
            ASSERT_GE(hub, 0);
            ASSERT_TRUE(scxsim::add_cable(cable));
        },
        [&] { return sld_refresh_hardware(); },
        [&](long k, bool failed, SLD_ERROR status) {
            SCOPED_TRACE("allocation " + std::to_string(k));
            if (!failed) {
                EXPECT_EQ(status, SLD_OK);
                EXPECT_EQ(m->hardware->entry_count, 3u);
                EXPECT_EQ(node_count(hub), 4);
            } else {
                EXPECT_EQ(status, SLD_NO_FREE_SLOT);
                EXPECT_EQ(m->hardware->entry_count, 0u);
                EXPECT_EQ(m->hardware->entries, nullptr);
                EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
                EXPECT_EQ(scxsim::open_handle_count(), 0u);
            }
            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        });
    // Everything is found again once memory is back.
    scxsim::reset();
    sld_refresh_hardware();
    EXPECT_EQ(m->hardware->entry_count, 2u);
    EXPECT_EQ(device_strings(CABLE1).size(), 3u);
}

TEST_F(HardwareInternals, ChainReadOutOfMemoryWipesTheList) {
    int hub = -1;
    unsigned long count = 0;
    char **strings = nullptr;
    each_allocation(
        [&] {
            scxsim::reset();
            read_chain(CABLE1);
            hub = open_hub(CABLE1, FPGA_A);
            ASSERT_GE(hub, 0);
            ASSERT_TRUE(
                scxsim::insert_device(1, 3, R"({"idcode": "0x00000003", "ir_length": 2, "name": "N"})"));
        },
        [&] { return sld_get_device(CABLE1, &count, &strings); },
        [&](long k, bool failed, SLD_ERROR status) {
            SCOPED_TRACE("allocation " + std::to_string(k));
            EXPECT_EQ(status, failed ? SLD_NO_FREE_SLOT : SLD_OK);
            EXPECT_EQ(count, failed ? 0u : 4u);
            if (failed)
                EXPECT_EQ(strings, nullptr);
            else
                EXPECT_STREQ(strings[3], "@4: N (0x00000003)");
            // A changed count ends the hub either way; nothing is left open.
            EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
            EXPECT_EQ(scxsim::open_handle_count(), 0u);
            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        });
}

TEST_F(HardwareInternals, HubOpenOutOfMemoryLeavesNoHandleOpen) {
    int hub = -1;
    each_allocation([&] { read_chain(CABLE1); },
                    [&] {
                        SLD_ERROR status = -1;
                        hub = open_hub(CABLE1, FPGA_A, &status);
                        return status;
                    },
                    [&](long k, bool failed, SLD_ERROR status) {
                        SCOPED_TRACE("allocation " + std::to_string(k));
                        if (status == SLD_OK) {
                            // The second attempt on a fresh list can make up for the first.
                            EXPECT_EQ(node_count(hub), 4);
                            EXPECT_EQ(scxsim::open_handle_count(), 1u);
                            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
                        } else {
                            EXPECT_TRUE(failed);
                            EXPECT_EQ(status, SLD_NO_FREE_SLOT);
                            EXPECT_EQ(hub, -1);
                        }
                        EXPECT_EQ(scxsim::open_handle_count(), 0u);
                    });
}

} // namespace
