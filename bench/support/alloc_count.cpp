// Allocation counting hooks: each forwards to the C library's own
// allocator, so memory from any path can be freed by any other.
#include "alloc_count.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
void __libc_free(void *p);
}

namespace {
std::atomic<unsigned long> g_mallocs{0};
std::atomic<unsigned long> g_news{0};

inline void *counted_new(std::size_t size) {
    g_news.fetch_add(1, std::memory_order_relaxed);
    return malloc(size == 0 ? 1 : size);
}
} // namespace

namespace alloc_count {
unsigned long mallocs() {
    return g_mallocs.load(std::memory_order_relaxed);
}
unsigned long news() {
    return g_news.load(std::memory_order_relaxed);
}
} // namespace alloc_count

extern "C" {
void *malloc(size_t size) noexcept {
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(size_t n, size_t size) noexcept {
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t size) noexcept {
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void *p) {
    __libc_free(p);
}
}

void *operator new(std::size_t size) {
    void *p = counted_new(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void *operator new[](std::size_t size) {
    void *p = counted_new(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return counted_new(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return counted_new(size);
}
void operator delete(void *p) noexcept {
    free(p);
}
void operator delete[](void *p) noexcept {
    free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    free(p);
}
