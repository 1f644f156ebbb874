// Hub locks: who holds them, through which ids, the mutex level they keep,
// their failures, and holds that end because the hub object goes.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <ostream>
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

// A way of destroying the held hub of cable 1 through the device list of its
// chain, and what brings the chain and the library's list of it back to the
// default board afterwards (null: nothing to do). A list left out of step
// with the chain would outlive the test: the next fixture's simulator reset
// keeps the chain handle, and with it the library's old list.
struct ChainDestruction {
    const char *name;
    void (*destroy)();
    void (*restore)();
};

// Names the row in failure messages instead of dumping its bytes.
static void PrintTo(const ChainDestruction &way, std::ostream *out) {
    *out << way.name;
}

static void refresh_cable1() {
    EXPECT_EQ(SLD_OK, sld_refresh_device(kCable1));
}

// An empty list answers "no devices" with a count of 0.
static void expect_empty_device_list() {
    unsigned long count = 99;
    char **devices = nullptr;
    EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_get_device(kCable1, &count, &devices));
    EXPECT_EQ(0u, count);
}

static void expect_device_count(unsigned long expected) {
    unsigned long count = 0;
    char **devices = nullptr;
    EXPECT_EQ(SLD_OK, sld_get_device(kCable1, &count, &devices));
    EXPECT_EQ(expected, count);
}

static void restore_board() {
    scxsim::reset();
    refresh_cable1();
}

static const ChainDestruction kChainDestructions[] = {
    // A failed chain read wipes the device list and every hub on it.
    {"ChainLockFailsOnRefresh",
     [] {
         scxsim::fail_call(scxsim::Fn::lock_chain, 1, 34);
         refresh_cable1();
     },
     nullptr},
    {"CountQueryFailsOnGetDevice",
     [] {
         scxsim::fail_call(scxsim::Fn::read_device_chain, 1, 2);
         expect_empty_device_list();
     },
     nullptr},
    {"RecordReadFailsOnRefresh",
     [] {
         scxsim::fail_call(scxsim::Fn::read_device_chain, 2, 1000);
         refresh_cable1();
     },
     nullptr},
    // A chain of another length ends every hub on it, even on a device that
    // kept its position and IDCODE.
    {"DeviceAddedAtChainEnd",
     [] {
         ASSERT_TRUE(scxsim::insert_device(1, 3, R"({"idcode": "0x00000003", "ir_length": 2, "name": "N"})"));
         expect_device_count(4);
     },
     [] {
         ASSERT_TRUE(scxsim::remove_device(1, 3));
         refresh_cable1();
     }},
    {"OtherDeviceRemoved",
     [] {
         ASSERT_TRUE(scxsim::remove_device(1, 2));
         refresh_cable1();
     },
     restore_board},
    // The unlock of a device that is gone fails; the hold ends all the same.
    {"HeldDeviceRemoved",
     [] {
         ASSERT_TRUE(scxsim::remove_device(1, 0));
         refresh_cable1();
     },
     restore_board},
};

class ChainDestroysHeldHub : public LockTest, public ::testing::WithParamInterface<ChainDestruction> {};

TEST_P(ChainDestroysHeldHub, ReleasesTheHold) {
    const ChainDestruction &way = GetParam();
    // The library's list matches the default chain, so that each way
    // changes what the hub was opened on.
    expect_device_count(3);
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    ASSERT_EQ(1, thr_debug_total_depth());
    take_trace();
    way.destroy();
    if (HasFatalFailure())
        return;

    // The device is unlocked before its handle is closed, within the call
    // that destroyed the hub, and the kept mutex level is gone with it.
    std::vector<std::string> calls = take_trace();
    auto first_call = [&calls](const char *prefix) {
        return std::find_if(calls.begin(), calls.end(),
                            [prefix](const std::string &c) { return c.rfind(prefix, 0) == 0; });
    };
    auto unlock = first_call("unlock()=");
    auto close = first_call("close_device()=");
    ASSERT_NE(calls.end(), unlock) << ::testing::PrintToString(calls);
    ASSERT_NE(calls.end(), close) << ::testing::PrintToString(calls);
    EXPECT_LT(unlock, close);
    EXPECT_EQ(0, thr_debug_total_depth());

    unsigned char count = 0;
    EXPECT_EQ(SLD_STALE_ID, sld_hub_get_number_of_nodes(hub, &count));
    for (int id : node) {
        EXPECT_EQ(SLD_STALE_ID, sld_node_lock(id, 10));
        EXPECT_EQ(SLD_STALE_ID, sld_node_unlock(id));
    }
    EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_lock(hub, 10));
    EXPECT_EQ(SLD_DEVICE_NOT_FOUND, sld_hub_unlock(hub));
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_THAT(take_trace(), IsEmpty());

    for (int &id : node) {
        EXPECT_EQ(SLD_OK, sld_node_close(id));
        id = -1;
    }
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
    hub = -1;
    if (way.restore != nullptr)
        way.restore();
    expect_hold_released(way.name);
}

INSTANTIATE_TEST_SUITE_P(Ways, ChainDestroysHeldHub, ::testing::ValuesIn(kChainDestructions),
                         [](const ::testing::TestParamInfo<ChainDestruction> &info) {
                             return info.param.name;
                         });
