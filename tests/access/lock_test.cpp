// Hub locks: who holds them, through which ids, the mutex level they keep,
// their failures, and holds that end because the hub object goes.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "access_support.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using LockTest = HubTest;

TEST_F(LockTest, HoldIsPerHubObjectAndKeepsOneMutexLevel) {
    // A second hub id and its node ids reach the same hub object.
    int other = open_hub(kCable1, kHubV1);
    int other_node = open_node(other, kMemoryNode);
    take_trace();
    EXPECT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(1, thr_debug_total_depth());
    EXPECT_EQ(SLD_ALREADY_LOCKED, sld_hub_lock(hub, 1000));
    EXPECT_EQ(1, thr_debug_total_depth());
    EXPECT_EQ(SLD_ALREADY_LOCKED, sld_hub_lock(other, 1000));
    EXPECT_EQ(SLD_ALREADY_LOCKED, sld_node_lock(other_node, 1000));
    EXPECT_EQ(SLD_ALREADY_LOCKED, sld_node_lock_manual(node[kProbeNode], 1000));
    EXPECT_EQ(SLD_OK, sld_node_unlock(other_node));
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
    EXPECT_EQ(SLD_NOT_LOCKED, sld_node_unlock(node[kMemoryNode]));
    EXPECT_THAT(take_trace(), ElementsAre("lock(1000,1)=0", "unlock()=0"));

    // The manual style is passed through and released by any unlock.
    EXPECT_EQ(SLD_OK, sld_node_lock_manual(node[kShiftNode], 500));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(other));
    EXPECT_THAT(take_trace(), ElementsAre("lock(500,2)=0", "unlock()=0"));

    // Two hubs held at once keep one level each.
    int hub0 = open_hub(kCable2, kHubV0);
    EXPECT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(SLD_OK, sld_hub_lock(hub0, 1000));
    EXPECT_EQ(2, thr_debug_total_depth());
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub0));
    EXPECT_EQ(0, thr_debug_total_depth());

    EXPECT_EQ(SLD_OK, sld_node_close(other_node));
    EXPECT_EQ(SLD_OK, sld_hub_close(other));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub0));
}

TEST_F(LockTest, IdsThatDoNotReachALiveHub) {
    for (int id : {-1, 128, hub + 1}) {
        EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_lock(id, 10)) << id;
        EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_unlock(id)) << id;
    }
    for (int id : {-1, 512, node[3] + 1}) {
        EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_lock(id, 10)) << id;
        EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_lock_manual(id, 10)) << id;
        EXPECT_EQ(SLD_INVALID_NODE_ID, sld_node_unlock(id)) << id;
    }
    ASSERT_TRUE(scxsim::remove_cable(1));
    sld_refresh_hardware();
    take_trace();
    EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_lock(hub, 10));
    EXPECT_EQ(SLD_STALE_ID, sld_node_lock(node[0], 10));
    EXPECT_EQ(SLD_STALE_ID, sld_node_unlock(node[0]));
    EXPECT_THAT(take_trace(), IsEmpty());
}

TEST_F(LockTest, SCXLockFailuresAreTranslated) {
    // Another client holds the device: the time-out runs out.
    ASSERT_TRUE(scxsim::foreign_lock_device(1, 0));
    EXPECT_EQ(SLD_ALREADY_LOCKED, sld_hub_lock(hub, 20));
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
    ASSERT_TRUE(scxsim::foreign_unlock_device(1, 0));
    EXPECT_EQ(SLD_OK, sld_hub_lock(hub, 20));

    // A refused unlock still ends the hold; the next lock asks again.
    scxsim::fail_call(scxsim::Fn::unlock, 1, 36);
    EXPECT_EQ(SLD_SERVER_ERROR, sld_hub_unlock(hub));
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
    take_trace();
    sld_hub_lock(hub, 20);
    EXPECT_THAT(take_trace(), ElementsAre(::testing::StartsWith("lock(20,1)=")));
    sld_hub_unlock(hub);
}

TEST_F(LockTest, FlushAndDelayNeedTheHubLock) {
    EXPECT_EQ(SLD_NOT_LOCKED, sld_node_flush(node[0]));
    EXPECT_EQ(SLD_NOT_LOCKED, sld_node_delay(node[0], 0));
    EXPECT_EQ(SLD_NOT_LOCKED, sld_node_delay(node[0], 5));
    EXPECT_THAT(take_trace(), IsEmpty());
    ASSERT_EQ(SLD_OK, sld_node_lock(node[0], 1000));
    EXPECT_EQ(SLD_OK, sld_node_delay(node[1], 0));
    EXPECT_EQ(SLD_OK, sld_node_delay(node[1], 7));
    EXPECT_EQ(SLD_OK, sld_node_flush(node[2]));
    scxsim::fail_call(scxsim::Fn::flush, 1, 46);
    EXPECT_EQ(SLD_SERVER_ERROR_70, sld_node_flush(node[2]));
    EXPECT_EQ(SLD_OK, sld_node_unlock(node[0]));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(1000,1)=0", "delay(7)=0", "flush()=0", "flush()=46", "unlock()=0"));
}

// Whether another thread gets into the library, i.e. nothing kept a level.
static bool other_thread_can_enter() {
    std::atomic<bool> done{false};
    std::thread other([&] {
        unsigned long count = 0;
        char **names = nullptr;
        sld_get_hardware(&count, &names);
        done = true;
    });
    other.join();
    return done;
}

// The hub object goes while this thread holds it; afterwards nothing of the
// hold is left, and a new hub at that device is not taken for held.
static void expect_hold_released(const char *how) {
    SCOPED_TRACE(how);
    ASSERT_EQ(0, thr_debug_total_depth());
    EXPECT_FALSE(scxsim::device_locked(1, 0));
    ASSERT_TRUE(other_thread_can_enter());
    int reopened = -1;
    ASSERT_EQ(SLD_OK, sld_hub_open(kCable1, kHubV1, &reopened));
    EXPECT_EQ(SLD_OK, sld_hub_lock(reopened, 1000));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(reopened));
    EXPECT_EQ(SLD_OK, sld_hub_close(reopened));
}

TEST_F(LockTest, DestroyedHubReleasesTheHold) {
    for (int id : node)
        ASSERT_EQ(SLD_OK, sld_node_close(id));
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    take_trace();
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    EXPECT_THAT(take_trace(), Contains("unlock()=0"));
    expect_hold_released("last hub id closed");

    hub = open_hub(kCable1, kHubV1);
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A20DD));
    EXPECT_EQ(SLD_OK, sld_refresh_device(kCable1));
    EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_lock(hub, 10));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    ASSERT_TRUE(scxsim::set_idcode(1, 0, 0x020A10DD));
    sld_refresh_device(kCable1);
    expect_hold_released("device refreshed after an IDCODE change");

    hub = open_hub(kCable1, kHubV1);
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    ASSERT_TRUE(scxsim::remove_cable(1));
    EXPECT_EQ(SLD_OK, sld_refresh_hardware());
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    scxsim::reset();
    sld_refresh_hardware();
    expect_hold_released("cable removed");
    hub = -1;
}
