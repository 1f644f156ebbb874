// Allocation-failure hooks of internal test builds: a countdown shared by
// all threads, so a test can make exactly one chosen allocation fail.
#include "frame/memory.h"

#ifdef SLD_TESTING

#include <atomic>

namespace sld_testing {

namespace {
std::atomic<long> g_allocations_left{-1};
std::atomic<long> g_allocations_made{0};
} // namespace

void fail_allocation_after(long count) {
    g_allocations_made.store(0);
    g_allocations_left.store(count);
}

long allocation_count() {
    return g_allocations_made.load();
}

bool allocation_should_fail() {
    g_allocations_made.fetch_add(1);
    long left = g_allocations_left.load();
    // Only the one allocation that takes the countdown from 1 to 0 fails,
    // however many threads allocate at the same time.
    while (left > 0) {
        if (g_allocations_left.compare_exchange_weak(left, left - 1))
            return left == 1;
    }
    return false;
}

} // namespace sld_testing

#endif
