// What the exported functions cannot show: the reason a chain read leaves,
// the replaced device objects an entry keeps, and running out of memory at
// every allocating step.
#include <gtest/gtest.h>

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
    ROZI_VUV_HARDWARE_INFO *entry(unsigned long persistent_id) {
        ROZI_VUV_HARDWARE_INFO *e = m->hardware->entries;
        while (e != nullptr && e->persistent_id != persistent_id)
            e = e->next_entry;
        return e;
    }
    ROZI_VUV_MANAGER *m = ROZI_VUV_MANAGER::get_manager();
};

TEST_F(HardwareInternals, ChainReadLeavesTheReasonOfItsFailure) {
    const struct {
        Fn fn;
        unsigned long call;
        SCX_ERROR code;
        SLD_ERROR last_error; // SLD_OK: the read succeeds
    } cases[] = {
        {Fn::lock_chain, 1, 34, SLD_ALREADY_LOCKED},
        {Fn::scan_device_chain, 1, 87, SLD_DEVICE_NOT_FOUND},
        {Fn::scan_device_chain, 1, 46, SLD_SERVER_ERROR_70},
        {Fn::scan_device_chain, 1, 36, SLD_OK},
        {Fn::read_device_chain, 1, 87, SLD_DEVICE_NOT_FOUND},
        {Fn::read_device_chain, 1, 5, SLD_JTAG_ERROR},
        {Fn::read_device_chain, 1, 0, SLD_OK},
        {Fn::read_device_chain, 2, 86, SLD_HARDWARE_NOT_FOUND},
        {Fn::unlock_chain, 1, 81, SLD_SERVER_ERROR},
    };
    ROZI_VUV_CALL_LEVEL level(m);
    ROZI_VUV_DEVICE *device = m->get_device(CABLE1);
    ASSERT_NE(device, nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " answers " + std::to_string(c.code));
        ASSERT_TRUE(device->build_device_list(device->chain));
        scxsim::fail_call(c.fn, c.call, c.code);
        m->last_error = SLD_STALE_ID;
        EXPECT_EQ(device->build_device_list(device->chain), c.last_error == SLD_OK);
        EXPECT_EQ(m->last_error, c.last_error);
        EXPECT_EQ(device->device_count, c.last_error == SLD_OK ? 3u : 0u);
        if (c.last_error != SLD_OK) {
            EXPECT_TRUE(!device->device_strings && !device->device_records && !device->hubs);
        }
        release_chain(1);
    }
}

TEST_F(HardwareInternals, ReplacedDeviceObjectHandsItsHubsOn) {
    int hub = open_hub(CABLE1, FPGA_A);
    ROZI_VUV_HARDWARE_INFO *cable = entry(1);
    ASSERT_NE(cable, nullptr);
    ROZI_VUV_DEVICE *old = cable->device;
    EXPECT_EQ(m->hub_table[hub].device, old);
    // A device string that no position has makes the open try a fresh list,
    // whose read takes the hub over from the replaced object.
    EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)"), -1);
    ROZI_VUV_DEVICE *fresh = cable->device;
    EXPECT_NE(fresh, old);
    EXPECT_EQ(m->hub_table[hub].device, fresh);
    EXPECT_EQ(fresh->hubs[0], m->hub_table[hub].hub);
    EXPECT_EQ(old->hubs[0], nullptr);
    EXPECT_EQ(fresh->predecessor, nullptr);
    // An emptied replaced object goes with the next replacement.
    EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)"), -1);
    EXPECT_EQ(cable->retired_devices, fresh);
    EXPECT_EQ(fresh->retired_next, nullptr);
    // The next open shares the hub: the device is opened once.
    int second = open_hub(CABLE1, FPGA_A);
    EXPECT_EQ(m->hub_table[second].hub, m->hub_table[hub].hub);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

TEST_F(HardwareInternals, DeviceObjectOfAnOldChainStaysWhileItHoldsHubs) {
    int hub = open_hub(CABLE1, FPGA_A);
    ROZI_VUV_HARDWARE_INFO *cable = entry(1);
    ASSERT_NE(cable, nullptr);
    ROZI_VUV_DEVICE *old = cable->device;
    // The lookup notices the new chain and a device object is made on it;
    // the old object keeps its hub on the old chain.
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    int second = open_hub(CABLE1, FPGA_A);
    ASSERT_GE(second, 0);
    EXPECT_NE(cable->device, old);
    EXPECT_EQ(cable->retired_devices, old);
    EXPECT_EQ(m->hub_table[hub].device, old);
    EXPECT_EQ(node_count(hub), 4);
    EXPECT_EQ(sld_hub_close(second), SLD_OK);
    // Hardware that goes takes its replaced lists along.
    ASSERT_TRUE(scxsim::remove_cable(1));
    sld_refresh_hardware();
    EXPECT_EQ(entry(1), nullptr);
    EXPECT_EQ(node_count(hub), -SLD_STALE_ID);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
    EXPECT_EQ(sld_hub_close(hub), SLD_OK);
}

// A table handed out stays readable until unload, whatever reads the chain
// again, and no read that replaces it changes it; an unchanged list hands
// out the same table again, so reading it repeatedly allocates nothing.
TEST_F(HardwareInternals, HandedOutTablesOutliveEveryLaterRead) {
    const Calls original = {FPGA_A, CPLD, FPGA_OLD};
    auto table_of = [](const char *hardware) {
        unsigned long count = 0;
        char **table = nullptr;
        EXPECT_EQ(sld_get_device(hardware, &count, &table), SLD_OK);
        EXPECT_EQ(count, 3u);
        return table;
    };
    char **first = table_of(CABLE1);
    sld_testing::fail_allocation_after(-1); // counts from here
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sld_refresh_device(CABLE1), SLD_OK);
        EXPECT_EQ(table_of(CABLE1), first);
    }
    EXPECT_EQ(sld_testing::allocation_count(), 0);

    const struct {
        const char *what;
        void (*change)();
    } rereads[] = {
        // The retry of a failed open reads the chain into a fresh object.
        {"mistyped open", [] { EXPECT_EQ(open_hub(CABLE1, "@9: nothing (0x00000000)"), -1); }},
        {"failed read", [] { scxsim::fail_call(Fn::lock_chain, 1, 34); }},
        {"device plugged in",
         [] { ASSERT_TRUE(scxsim::insert_device(1, 0, R"({"idcode": "0x00000003", "ir_length": 2})")); }},
    };
    for (const auto &reread : rereads) {
        SCOPED_TRACE(reread.what);
        reread.change();
        sld_refresh_device(CABLE1);
        Calls held(first, first + 3);
        EXPECT_EQ(held, original);
    }
    // The chain back as it was: its first table again, even on a device
    // object made after it.
    scxsim::reset();
    sld_refresh_hardware();
    EXPECT_EQ(table_of(CABLE1), first);

    // The hardware names: the same table while they stay, kept when they change.
    unsigned long count = 0;
    char **names = nullptr, **again = nullptr;
    ASSERT_EQ(sld_get_hardware(&count, &names), SLD_OK);
    ASSERT_EQ(count, 2u);
    const Calls listed(names, names + 2);
    ASSERT_EQ(sld_get_hardware(&count, &again), SLD_OK);
    EXPECT_EQ(again, names);
    ASSERT_TRUE(scxsim::remove_cable(1));
    ASSERT_EQ(sld_get_hardware(&count, &again), SLD_OK);
    EXPECT_NE(again, names);
    EXPECT_EQ(Calls(names, names + 2), listed);
}

// Runs setup, then step with its k-th allocation failing, for k = 1, 2, ...
// until a step no longer reaches the k-th allocation; check(failed, status)
// judges each run.
template <class Setup, class Step, class Check> void each_allocation(Setup setup, Step step, Check check) {
    for (long k = 1; k < 1000; ++k) {
        SCOPED_TRACE("allocation " + std::to_string(k));
        setup();
        sld_testing::fail_allocation_after(k);
        SLD_ERROR status = step();
        bool failed = sld_testing::allocation_count() >= k;
        sld_testing::fail_allocation_after(-1);
        EXPECT_EQ(thr_debug_total_depth(), 0);
        check(failed, status);
        if (!failed)
            return;
    }
    ADD_FAILURE() << "every run failed an allocation";
}

TEST_F(HardwareInternals, OutOfMemoryReportsNineAndLeavesStateConsistent) {
    int hub = -1;
    auto with_hub = [&] {
        scxsim::reset();
        read_chain(CABLE1);
        hub = open_hub(CABLE1, FPGA_A);
        ASSERT_GE(hub, 0);
    };
    // A hardware build that cannot allocate removes every entry.
    each_allocation(
        [&] {
            with_hub();
            ASSERT_TRUE(
                scxsim::add_cable(R"({"persistent_id": 9, "name": "Extra", "full_name": "Extra [x:9]"})"));
        },
        [] { return sld_refresh_hardware(); },
        [&](bool failed, SLD_ERROR status) {
            EXPECT_EQ(status, failed ? SLD_NO_FREE_SLOT : SLD_OK);
            EXPECT_EQ(m->hardware->entry_count, failed ? 0u : 3u);
            EXPECT_EQ(node_count(hub), failed ? -SLD_STALE_ID : 4);
            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
            EXPECT_EQ(scxsim::open_handle_count(), 0u);
        });
    // A chain read that cannot allocate wipes the list.
    unsigned long count = 0;
    char **strings = nullptr;
    each_allocation(
        [&] {
            with_hub();
            ASSERT_TRUE(
                scxsim::insert_device(1, 3, R"({"idcode": "0x00000003", "ir_length": 2, "name": "N"})"));
        },
        [&] { return sld_get_device(CABLE1, &count, &strings); },
        [&](bool failed, SLD_ERROR status) {
            EXPECT_EQ(status, failed ? SLD_NO_FREE_SLOT : SLD_OK);
            EXPECT_EQ(count, failed ? 0u : 4u);
            EXPECT_EQ(strings == nullptr, failed);
            EXPECT_EQ(node_count(hub), -SLD_STALE_ID); // the count changed either way
            EXPECT_EQ(scxsim::open_handle_count(), 0u);
            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
        });
    // A hub that cannot be made leaves no handle open; the second attempt
    // on a fresh list may make up for a failure of the first.
    scxsim::reset();
    each_allocation([&] { read_chain(CABLE1); },
                    [&] {
                        SLD_ERROR status = -1;
                        hub = open_hub(CABLE1, FPGA_A, &status);
                        return status;
                    },
                    [&](bool failed, SLD_ERROR status) {
                        EXPECT_EQ(status, hub >= 0 ? SLD_OK : SLD_NO_FREE_SLOT);
                        EXPECT_TRUE(failed || status == SLD_OK);
                        EXPECT_EQ(scxsim::open_handle_count(), hub >= 0 ? 1u : 0u);
                        if (hub >= 0) {
                            EXPECT_EQ(node_count(hub), 4);
                            EXPECT_EQ(sld_hub_close(hub), SLD_OK);
                        }
                    });
    sld_refresh_hardware();
    EXPECT_EQ(device_strings(CABLE1).size(), 3u);
}

} // namespace
