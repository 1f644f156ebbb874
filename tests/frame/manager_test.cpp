// The manager: its state after construction, the call level around the
// recursive mutex, one process-wide instance, and what teardown frees.
#include <atomic>
#include <thread>
#include <vector>

#include "frame_fixture.h"
#include "thr_debug.h"

using Manager = FrameTest;

TEST_F(Manager, StartsEmptyWithEveryTableSlotFree) {
    EXPECT_TRUE(m.hardware == nullptr && m.string_pool == nullptr && m.log_tail == nullptr);
    EXPECT_TRUE(m.get_scx_log_head() == nullptr && !m.log_enabled.load());
    EXPECT_EQ(m.last_error, SLD_OK);
    for (const ROZI_VUV_HUB_SLOT &s : m.hub_table)
        EXPECT_TRUE(!s.in_use && !s.hub && !s.device && s.open_node_count == 0);
    for (const ROZI_VUV_NODE_SLOT &s : m.node_table)
        EXPECT_TRUE(s.hub_index == -1 && s.node_index == 255);
    void *elsewhere = &m;
    std::thread([&] { elsewhere = thr_thread_var_get(&m.held_hubs); }).join();
    EXPECT_EQ(elsewhere, nullptr);
    EXPECT_EQ(thr_thread_var_get(&m.held_hubs), nullptr);
}

TEST_F(Manager, CallLevelResetsLastErrorAndReleasesUnlessKept) {
    m.last_error = SLD_JTAG_ERROR;
    {
        ROZI_VUV_CALL_LEVEL outer(&m);
        EXPECT_EQ(m.last_error, SLD_OK);
        m.last_error = SLD_STALE_ID;
        {
            ROZI_VUV_CALL_LEVEL inner(&m); // recursive: no wait
            EXPECT_EQ(m.last_error, SLD_OK);
            EXPECT_EQ(thr_debug_mutex_depth(m.mutex), 2);
        }
        ROZI_VUV_CALL_LEVEL kept(&m);
        kept.keep();
    }
    EXPECT_EQ(thr_debug_mutex_depth(m.mutex), 1);
    m.unlock_mutex();
}

TEST(ManagerSingleton, ConcurrentFirstCallsGetOneManager) {
    const int n = 8;
    std::atomic<int> waiting{n};
    std::vector<ROZI_VUV_MANAGER *> seen(n, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) {
        threads.emplace_back([&, t] {
            for (--waiting; waiting.load() > 0;)
                std::this_thread::yield();
            seen[t] = ROZI_VUV_MANAGER::get_manager();
        });
    }
    for (std::thread &t : threads)
        t.join();
    ROZI_VUV_MANAGER *one = ROZI_VUV_MANAGER::get_manager();
    for (ROZI_VUV_MANAGER *p : seen)
        EXPECT_EQ(p, one);
    EXPECT_EQ(one->node_table[SLD_NODE_TABLE_SIZE - 1].hub_index, -1);
}

// Pool, log and this thread's held-hub elements are freed (the leak checker
// sees any that are not); another thread's list is not this thread's to free.
TEST_F(Manager, TeardownFreesWhatItOwnsAndNoOtherThreadsList) {
    m.store_string("Cable-Alpha");
    m.enable_scx_log();
    unsigned char bits[2] = {1, 2};
    m.log_scx_access_dr(16, bits);
    ROZI_VUV_LOCKED_HUB *second = sld_new<ROZI_VUV_LOCKED_HUB>(ROZI_VUV_LOCKED_HUB{hub(1), nullptr});
    thr_thread_var_set(&m.held_hubs, sld_new<ROZI_VUV_LOCKED_HUB>(ROZI_VUV_LOCKED_HUB{hub(0), second}));
    ROZI_VUV_LOCKED_HUB *foreign = sld_new<ROZI_VUV_LOCKED_HUB>(ROZI_VUV_LOCKED_HUB{hub(2), nullptr});
    std::thread([&] { thr_thread_var_set(&m.held_hubs, foreign); }).join();
    owner_.reset();
    EXPECT_EQ(foreign->hub, hub(2));
    sld_delete(foreign);
}
