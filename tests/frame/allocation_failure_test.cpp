// Allocation failure: the countdown itself, and the frame's allocating
// steps, which fail without leaving anything half-linked.
#include <atomic>
#include <thread>
#include <vector>

#include "frame_fixture.h"

using AllocationFailure = FrameTest;

TEST_F(AllocationFailure, CountdownFailsOnlyTheChosenAllocationAcrossThreads) {
    sld_testing::fail_allocation_after(150);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                char *p = sld_new_array<char>(16);
                failures += p == nullptr;
                sld_delete_array(p);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 1);
    EXPECT_EQ(sld_testing::allocation_count(), 400);
}

TEST_F(AllocationFailure, StoreStringLeavesThePoolAsItWas) {
    char *kept = m.store_string("kept");
    for (long k : {1, 2}) { // the entry, then the copy of the text
        sld_testing::fail_allocation_after(k);
        m.last_error = SLD_OK;
        EXPECT_EQ(m.store_string("new"), nullptr) << k;
        EXPECT_EQ(m.last_error, SLD_NO_FREE_SLOT) << k;
        EXPECT_TRUE(m.string_pool->text == kept && m.string_pool->next == nullptr) << k;
    }
    sld_testing::fail_allocation_after(1);
    EXPECT_EQ(m.store_string("kept"), kept); // found: nothing to allocate
    EXPECT_EQ(sld_testing::allocation_count(), 0);
    sld_testing::fail_allocation_after(-1);
    EXPECT_STREQ(m.store_string("new"), "new");
}

TEST_F(AllocationFailure, LogRecordsThatCannotBeMadeAreDropped) {
    m.enable_scx_log();
    unsigned char bits[2] = {7, 9};
    m.log_scx_access_ir(14);
    SLD_SCX_LOG_RECORD *first = m.get_scx_log_head();
    sld_testing::fail_allocation_after(1);
    m.log_scx_access_ir(12);
    sld_testing::fail_allocation_after(1);
    m.log_scx_access_dr(16, bits);
    sld_testing::fail_allocation_after(2); // the data copy
    m.log_scx_access_dr(16, bits);
    EXPECT_TRUE(m.log_tail == first && first->next == nullptr);
    m.log_scx_access_dr(16, bits);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->data[1], 9);
}
