// A hub open that fails for a mistyped device string retries on a fresh
// device object and keeps the old one for the hubs opened through it. From
// then on one device can carry two hub objects with two handles, and the
// old hubs are never re-read. These tests state the sound behaviour; they
// are disabled until it is decided whether the library departs from the
// retry rule here.
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
TEST_F(DeviceObjectRetry, DISABLED_ReopenAfterMistypedOpenSharesTheHub) {
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
TEST_F(DeviceObjectRetry, DISABLED_ChainChangeEndsHubsOfTheOldDeviceObject) {
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

} // namespace
