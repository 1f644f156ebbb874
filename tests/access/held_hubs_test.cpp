// The per-thread held-hub list, and the lock and broadcast paths that
// cannot allocate.
#include <gmock/gmock.h>

#include <thread>

#include "access_support.h"
#include "frame/manager.h"
#include "frame/memory.h"
#include "hub/hub.h"

using ::testing::ElementsAre;

namespace {

// The list compares pointers only, so any distinct addresses do as hubs.
ROZI_VUV_HUB *fake_hub(int i) {
    static char storage[4];
    return reinterpret_cast<ROZI_VUV_HUB *>(&storage[i]);
}

TEST(HeldHubList, MembershipPerThreadAndUnlinking) {
    ROZI_VUV_MANAGER *m = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_HUB *a = fake_hub(0), *b = fake_hub(1), *c = fake_hub(2), *d = fake_hub(3);
    EXPECT_FALSE(m->is_hub_locked(a));
    ASSERT_TRUE(m->set_hub_locked(a));
    ASSERT_TRUE(m->set_hub_locked(b));
    ASSERT_TRUE(m->set_hub_locked(a)); // listed once
    ASSERT_TRUE(m->set_hub_locked(c));
    std::thread([&] { EXPECT_FALSE(m->is_hub_locked(a)); }).join();

    m->set_hub_unlocked(b); // from the middle
    EXPECT_TRUE(m->is_hub_locked(a));
    EXPECT_FALSE(m->is_hub_locked(b));
    EXPECT_TRUE(m->is_hub_locked(c));
    m->set_hub_unlocked(d); // not listed: unchanged
    m->set_hub_unlocked(a); // the head
    EXPECT_FALSE(m->is_hub_locked(a));
    EXPECT_TRUE(m->is_hub_locked(c));
    m->set_hub_unlocked(c);
    EXPECT_EQ(nullptr, thr_thread_var_get(&m->held_hubs));
    ASSERT_TRUE(m->set_hub_locked(a)); // an emptied list starts again
    m->set_hub_unlocked(a);
}

TEST(HeldHubListDeathTest, UnlockingWithAnEmptyListStopsTheProcess) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(ROZI_VUV_MANAGER::get_manager()->set_hub_unlocked(fake_hub(0)),
                ::testing::ExitedWithCode(255), "Invalid locking state");
}

using OutOfMemoryTest = HubTest;

TEST_F(OutOfMemoryTest, LockWithoutListEntryIsUndone) {
    sld_testing::fail_allocation_after(1);
    EXPECT_EQ(SLD_NO_FREE_SLOT, sld_hub_lock(hub, 1000));
    sld_testing::fail_allocation_after(-1);
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_FALSE(scxsim::device_locked(1, 0));
    EXPECT_THAT(take_trace(), ElementsAre("lock(1000,1)=0", "unlock()=0"));
    EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
    EXPECT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub));
}

TEST_F(OutOfMemoryTest, BroadcastBeginWithoutQueueStaysIdle) {
    for (long k : {1, 2}) { // the flags, then the values
        sld_testing::fail_allocation_after(k);
        EXPECT_EQ(SLD_NO_FREE_SLOT, sld_hub_broadcast_begin(hub)) << k;
        sld_testing::fail_allocation_after(-1);
        EXPECT_EQ(SLD_BROADCAST_INACTIVE, sld_hub_broadcast_end(hub)) << k;
        EXPECT_EQ(SLD_OK, sld_node_access_ir(node[0], 1, nullptr, 0)) << "scanned, not queued";
    }
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[0], 3, nullptr, 0));
    take_trace();
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    EXPECT_EQ(8u, take_trace().size());
}

} // namespace
