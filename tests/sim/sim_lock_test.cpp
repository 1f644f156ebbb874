// Device and chain locks: exclusivity, time-outs, waking waiters, the
// foreign client, and many threads at once.
#include <atomic>
#include <chrono>
#include <thread>

#include "sim_helpers.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

} // namespace

TEST_F(SimWorld, DeviceLockIsExclusiveAcrossHandles) {
    SCX_OPEN *a = open(1, 0), *b = open(1, 0), *other = open(1, 1);
    ASSERT_EQ(0u, scx_lock(a, 0, SCX_PACK_STYLE_AUTO));
    EXPECT_TRUE(world().device_locked(1, 0));
    EXPECT_EQ(34u, scx_lock(a, 0, SCX_PACK_STYLE_AUTO)) << "re-lock by the holder";
    EXPECT_EQ(34u, scx_lock(b, 0, SCX_PACK_STYLE_MANUAL));
    EXPECT_EQ(34u, scx_access_ir(b, 6, nullptr, 0)) << "scans of another handle";
    EXPECT_EQ(34u, scx_run_test_idle(b, 10));
    EXPECT_EQ(0u, scx_access_ir(a, 6, nullptr, 0));
    EXPECT_EQ(0u, scx_lock(other, 0, SCX_PACK_STYLE_AUTO)) << "another device";
    EXPECT_EQ(35u, scx_unlock(b));
    EXPECT_EQ(46u, scx_lock(b, 0, static_cast<SCX_PACK_STYLE>(3)));
    EXPECT_FALSE(world().foreign_lock_device(1, 0));
    // Closing the holder releases the lock.
    EXPECT_EQ(0u, scx_close_device(a));
    EXPECT_FALSE(world().device_locked(1, 0));
    EXPECT_EQ(0u, scx_lock(b, 0, SCX_PACK_STYLE_MANUAL));
    EXPECT_EQ(0u, scx_unlock(b));
    EXPECT_EQ(35u, scx_unlock(b));
    scx_close_device(b);
    scx_close_device(other);
}

TEST_F(SimWorld, ALockHeldElsewhereTimesOut) {
    SCX_OPEN *h = open(1, 0);
    ASSERT_TRUE(world().foreign_lock_device(1, 0));
    EXPECT_EQ(34u, scx_access_dr(h, 1, 0, 0, 0, nullptr, 0, 0, nullptr));
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(34u, scx_lock(h, 60, SCX_PACK_STYLE_AUTO));
    EXPECT_GE(elapsed_ms(t0), 60);
    if (world().simulated()) {
        // The wait limit cuts even a wait for ever short.
        scxsim::set_lock_wait_limit(20);
        t0 = Clock::now();
        EXPECT_EQ(34u, scx_lock(h, 0xFFFFFFFF, SCX_PACK_STYLE_AUTO));
        EXPECT_LT(elapsed_ms(t0), 2000);
    }
    EXPECT_TRUE(world().foreign_unlock_device(1, 0));
    EXPECT_FALSE(world().foreign_unlock_device(1, 0));
    EXPECT_EQ(0u, scx_lock(h, 0, SCX_PACK_STYLE_AUTO));
    scx_close_device(h);
}

TEST_F(SimWorld, AWaiterGetsTheLockWhenItIsReleased) {
    SCX_OPEN *a = open(1, 0), *b = open(1, 0);
    ASSERT_EQ(0u, scx_lock(a, 0, SCX_PACK_STYLE_AUTO));
    std::atomic<SCX_ERROR> got{99};
    std::thread waiter([&] { got = scx_lock(b, 0xFFFFFFFF, SCX_PACK_STYLE_AUTO); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(99u, got.load()) << "still waiting";
    EXPECT_EQ(0u, scx_unlock(a));
    waiter.join();
    EXPECT_EQ(0u, got.load());
    EXPECT_EQ(34u, scx_access_ir(a, 6, nullptr, 0));
    if (!world().simulated()) {
        scx_close_device(a);
        scx_close_device(b);
        return;
    }

    // A waiter whose device goes away answers as its handle now does.
    std::thread gone([&] { got = scx_lock(a, 0xFFFFFFFF, SCX_PACK_STYLE_AUTO); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(scxsim::remove_device(1, 0));
    gone.join();
    EXPECT_EQ(39u, got.load());
    scx_close_device(a);
    scx_close_device(b);
}

TEST_F(SimWorld, ChainLockBelongsToAThread) {
    SCX_CHAIN *chain = world().chain(1);
    ASSERT_EQ(0u, scx_lock_chain(chain, 6000));
    EXPECT_EQ(34u, scx_lock_chain(chain, 6000)) << "re-lock by the same thread";
    EXPECT_EQ(0u, scx_scan_device_chain(chain));
    SCX_ERROR other_lock = 0, other_scan = 0, other_unlock = 0;
    std::thread t([&] {
        other_lock = scx_lock_chain(chain, 30);
        other_scan = scx_scan_device_chain(chain);
        other_unlock = scx_unlock_chain(chain);
    });
    t.join();
    EXPECT_EQ(34u, other_lock);
    EXPECT_EQ(34u, other_scan);
    EXPECT_EQ(35u, other_unlock);
    EXPECT_EQ(0u, scx_unlock_chain(chain));
    EXPECT_EQ(35u, scx_unlock_chain(chain));

    ASSERT_TRUE(world().foreign_lock_chain(1));
    SCX_OPEN *h = nullptr;
    EXPECT_EQ(34u, scx_open_device(chain, 0, &h, claims, 1, "t"));
    EXPECT_EQ(34u, scx_lock_chain(chain, 10));
    EXPECT_TRUE(world().foreign_unlock_chain(1));
    EXPECT_EQ(0u, scx_lock_chain(chain, 10));
    EXPECT_FALSE(world().foreign_lock_chain(1));
    EXPECT_EQ(0u, scx_unlock_chain(chain));
}

TEST_F(SimWorld, ManyThreadsShareTheWorld) {
    // Every scan is a round trip over OpenOCD: fewer rounds there.
    const int threads = 4, rounds = world().simulated() ? 200 : 20;
    SCX_CHAIN *chain = world().chain(1);
    std::atomic<int> failures{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            SCX_OPEN *h = nullptr;
            if (scx_open_device(chain, 0, &h, nullptr, 0, "t") != 0) {
                ++failures;
                return;
            }
            for (int i = 0; i < rounds; ++i) {
                // Each round locks the device so that its scans stay together.
                if (scx_lock(h, 0xFFFFFFFF, SCX_PACK_STYLE_AUTO) != 0) {
                    ++failures;
                    continue;
                }
                const uint64_t v = uint64_t(t) << 24 | uint64_t(i);
                select(h, HUB_M, HUB_N, SHIFT, 2);
                dr(h, 32, v);
                if (dr(h, 32, 0) != v)
                    ++failures;
                scx_unlock(h);
                if (i % 50 == 0 && world().simulated())
                    scxsim::trace_text(scxsim::Fn::lock);
            }
            scx_close_device(h);
        });
    for (auto &th : pool)
        th.join();
    EXPECT_EQ(0, failures.load());
    if (world().simulated()) {
        EXPECT_EQ(unsigned(threads * rounds), scxsim::call_count(scxsim::Fn::unlock));
    }
}
