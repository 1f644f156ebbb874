// Every allocation of the library goes through these helpers. They never
// throw: a failed allocation gives null, and the caller reports
// SLD_NO_FREE_SLOT. Internal test builds (SLD_TESTING) can make the k-th
// allocation fail, so that every failure path can be exercised.
#ifndef SLD_FRAME_MEMORY_H
#define SLD_FRAME_MEMORY_H

#include <cstddef>
#include <new>
#include <utility>

#ifdef SLD_TESTING
namespace sld_testing {
// Allocations left before one fails; negative: none fails. Counts down
// across threads; the allocation that takes it from 1 to 0 fails.
void fail_allocation_after(long count);
// Number of allocations made since the last fail_allocation_after().
long allocation_count();
bool allocation_should_fail();
} // namespace sld_testing
#endif

inline bool sld_allocation_fails() {
#ifdef SLD_TESTING
    return sld_testing::allocation_should_fail();
#else
    return false;
#endif
}

template <class T, class... A> T *sld_new(A &&...args) {
    if (sld_allocation_fails())
        return nullptr;
    return new (std::nothrow) T(std::forward<A>(args)...);
}

// A value-initialised (zeroed for plain types) array of n elements.
template <class T> T *sld_new_array(std::size_t n) {
    if (sld_allocation_fails())
        return nullptr;
    return new (std::nothrow) T[n == 0 ? 1 : n]();
}

template <class T> void sld_delete(T *p) {
    delete p;
}
template <class T> void sld_delete_array(T *p) {
    delete[] p;
}

#endif
