// A hub open that fails (here for a mistyped device string) retries on a
// fresh device object. The fresh object's first read takes over the hubs of
// the one it replaced, so a device never carries two hub objects and hubs
// opened before the failure still follow chain changes.
#include <gtest/gtest.h>

#include "scxsim.h"
#include "sim_fixture.h"
#include "sld.h"

namespace {

const char *const CABLE = "SimCable-1";
const char *const HUB_DEVICE = "@1: SIM-FPGA-A (0x020A10DD)";
const char *const MISTYPED = "@9: no such device (0x00000000)";

class DeviceObjectRetry : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        // A lock that is not granted answers at once instead of after 6 s.
        scxsim::set_lock_wait_limit(5);
    }
};

// Reopening an open device shares its hub, also while its lock is held.
TEST_F(DeviceObjectRetry, ReopenAfterMistypedOpenSharesTheHub) {
    int first = -1;
    int mistyped = -1;
    int again = -1;
    ASSERT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &first), SLD_OK);
    EXPECT_EQ(sld_hub_open(CABLE, MISTYPED, &mistyped), SLD_DEVICE_NOT_FOUND);
    ASSERT_EQ(sld_hub_lock(first, 1000), SLD_OK);
    EXPECT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &again), SLD_OK);
    SCX_OPEN *first_handle = nullptr;
    SCX_OPEN *again_handle = nullptr;
    sld_hub_get_scx_open_id(first, &first_handle);
    sld_hub_get_scx_open_id(again, &again_handle);
    EXPECT_EQ(first_handle, again_handle);
    EXPECT_EQ(sld_hub_lock(again, 1000), again >= 0 ? SLD_ALREADY_LOCKED : SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(sld_hub_unlock(first), SLD_OK);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    if (again >= 0) {
        EXPECT_EQ(sld_hub_close(again), SLD_OK);
    }
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

// A changed IDCODE ends every hub on that device, whichever device object
// it was opened through.
TEST_F(DeviceObjectRetry, ChainChangeEndsHubsOfTheOldDeviceObject) {
    int first = -1;
    int mistyped = -1;
    ASSERT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &first), SLD_OK);
    EXPECT_EQ(sld_hub_open(CABLE, MISTYPED, &mistyped), SLD_DEVICE_NOT_FOUND);
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x120A10DD));
    unsigned long count = 0;
    char **devices = nullptr;
    EXPECT_EQ(sld_get_device(CABLE, &count, &devices), SLD_OK);
    unsigned char nodes = 0;
    EXPECT_EQ(sld_hub_get_number_of_nodes(first, &nodes), SLD_STALE_ID);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
}

// The retry's own fresh read judges the hubs opened before it: a device
// whose IDCODE changed meanwhile ends its hub there and then, while the hub
// of an unchanged device lives on under the same id.
TEST_F(DeviceObjectRetry, RetryReadEndsHubsOfChangedDevicesOnly) {
    const char *const plain_device = "@2: SIM-CPLD (0x0A1B2C3D)";
    int first = -1;
    int mistyped = -1;
    ASSERT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &first), SLD_OK);
    unsigned char before = 0;
    ASSERT_EQ(sld_hub_get_number_of_nodes(first, &before), SLD_OK);

    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x1A1B2C3D));
    EXPECT_EQ(sld_hub_open(CABLE, MISTYPED, &mistyped), SLD_DEVICE_NOT_FOUND);
    unsigned char after = 0;
    EXPECT_EQ(sld_hub_get_number_of_nodes(first, &after), SLD_OK);
    EXPECT_EQ(after, before);

    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x120A10DD));
    EXPECT_EQ(sld_hub_open(CABLE, plain_device, &mistyped), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(sld_hub_get_number_of_nodes(first, &after), SLD_STALE_ID);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

// Retries whose chain reads fail keep the hubs opened before them for the
// first retry that reads the chain.
TEST_F(DeviceObjectRetry, HubsWaitForTheFirstRetryThatReadsTheChain) {
    int first = -1;
    int mistyped = -1;
    ASSERT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &first), SLD_OK);
    scxsim::fail_every(scxsim::Fn::lock_chain, 34);
    EXPECT_EQ(sld_hub_open(CABLE, MISTYPED, &mistyped), SLD_DEVICE_NOT_FOUND);
    EXPECT_EQ(sld_hub_open(CABLE, MISTYPED, &mistyped), SLD_DEVICE_NOT_FOUND);
    scxsim::clear_faults();
    int again = -1;
    ASSERT_EQ(sld_hub_open(CABLE, HUB_DEVICE, &again), SLD_OK);
    SCX_OPEN *first_handle = nullptr;
    SCX_OPEN *again_handle = nullptr;
    EXPECT_EQ(sld_hub_get_scx_open_id(first, &first_handle), SLD_OK);
    EXPECT_EQ(sld_hub_get_scx_open_id(again, &again_handle), SLD_OK);
    EXPECT_EQ(first_handle, again_handle);
    EXPECT_EQ(scxsim::open_handle_count(1), 1u);
    EXPECT_EQ(sld_hub_close(again), SLD_OK);
    EXPECT_EQ(sld_hub_close(first), SLD_OK);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

} // namespace
