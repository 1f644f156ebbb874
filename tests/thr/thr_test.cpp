// The thr_ library: a recursive mutex that other threads get only after the
// last level is released, and thread variables private to each thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "scx/thr.h"
#include "thr_debug.h"

TEST(ThrMutex, OtherThreadsWaitUntilEveryLevelIsReleased) {
    unsigned long m = thr_mutex_create();
    int base_total = thr_debug_total_depth();
    for (int i = 1; i <= 3; ++i) {
        thr_mutex_lock(m);
        EXPECT_EQ(thr_debug_mutex_depth(m), i);
    }
    EXPECT_EQ(thr_debug_total_depth(), base_total + 3);
    std::atomic<bool> acquired{false};
    int foreign_unlock = 0, depth_in_thread = -1;
    std::thread other([&] {
        foreign_unlock = thr_mutex_unlock(m); // not the owner: releases nothing
        thr_mutex_lock(m);
        acquired = true;
        depth_in_thread = thr_debug_mutex_depth(m);
        thr_mutex_unlock(m);
    });
    for (int left = 3; left > 0; --left) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(acquired) << left << " levels still held";
        EXPECT_EQ(thr_debug_mutex_depth(m), left);
        thr_mutex_unlock(m);
    }
    other.join();
    EXPECT_TRUE(acquired);
    EXPECT_NE(foreign_unlock, 0);
    EXPECT_EQ(depth_in_thread, 1);
    EXPECT_NE(thr_mutex_unlock(m), 0); // nothing left to release
    EXPECT_EQ(thr_debug_total_depth(), base_total);
    thr_mutex_destroy(m);
}

TEST(ThrThreadVar, EachThreadReadsNullUntilItStoresAndThenOnlyItsOwn) {
    unsigned long cell = 0;
    ASSERT_EQ(thr_thread_var_init(&cell), 0);
    EXPECT_EQ(thr_thread_var_get(&cell), nullptr);
    int mine = 0;
    thr_thread_var_set(&cell, &mine);
    const int n = 6;
    std::vector<int> values(n);
    std::vector<int> fresh(n, 0), own(n, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) {
        threads.emplace_back([&, t] {
            fresh[t] = thr_thread_var_get(&cell) == nullptr;
            thr_thread_var_set(&cell, &values[t]);
            bool same = true;
            for (int i = 0; i < 500; ++i, std::this_thread::yield())
                same = same && thr_thread_var_get(&cell) == &values[t];
            own[t] = same;
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int t = 0; t < n; ++t)
        EXPECT_TRUE(fresh[t] && own[t]) << "thread " << t;
    EXPECT_EQ(thr_thread_var_get(&cell), &mine);

    // A cell made again (it may reuse the old key) starts out null too.
    thr_thread_var_destroy(&cell);
    EXPECT_EQ(thr_thread_var_get(&cell), nullptr);
    thr_thread_var_init(&cell);
    EXPECT_EQ(thr_thread_var_get(&cell), nullptr);
    thr_thread_var_destroy(&cell);
}
