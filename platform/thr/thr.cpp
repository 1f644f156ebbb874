// The thr_ threading library over POSIX threads: a recursive mutex whose
// handle is a pointer, and per-thread pointer cells over pthread keys.
#include <pthread.h>

#include <atomic>
#include <new>

#include "scx/thr.h"
#include "thr_debug.h"

namespace {

struct ThrMutex {
    pthread_mutex_t mutex;
    // The owning thread, 0 when free. Atomic so that any thread may compare
    // it with itself; only the owner stores it.
    std::atomic<unsigned long> owner;
    int depth; // levels the owner holds; touched only by the owner
};

unsigned long self_id() {
    return static_cast<unsigned long>(pthread_self());
}

// Levels held by this thread across all thr mutexes, for thr_debug_total_depth.
__attribute__((tls_model("initial-exec"))) thread_local int t_total_depth = 0;

ThrMutex *as_mutex(unsigned long handle) {
    return reinterpret_cast<ThrMutex *>(handle);
}

} // namespace

extern "C" {

unsigned long thr_mutex_create(void) {
    ThrMutex *m = new (std::nothrow) ThrMutex();
    if (m == nullptr)
        return 0;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    m->owner.store(0, std::memory_order_relaxed);
    m->depth = 0;
    return reinterpret_cast<unsigned long>(m);
}

int thr_mutex_lock(unsigned long handle) {
    ThrMutex *m = as_mutex(handle);
    if (m == nullptr)
        return -1;
    int rc = pthread_mutex_lock(&m->mutex);
    if (rc == 0) {
        m->owner.store(self_id(), std::memory_order_relaxed);
        ++m->depth;
        ++t_total_depth;
    }
    return rc;
}

int thr_mutex_unlock(unsigned long handle) {
    ThrMutex *m = as_mutex(handle);
    if (m == nullptr)
        return -1;
    // Only the owner may release a level.
    if (m->owner.load(std::memory_order_relaxed) != self_id() || m->depth == 0)
        return -1;
    if (--m->depth == 0)
        m->owner.store(0, std::memory_order_relaxed);
    --t_total_depth;
    return pthread_mutex_unlock(&m->mutex);
}

int thr_mutex_destroy(unsigned long handle) {
    ThrMutex *m = as_mutex(handle);
    if (m == nullptr)
        return -1;
    int rc = pthread_mutex_destroy(&m->mutex);
    delete m;
    return rc;
}

int thr_thread_var_init(unsigned long *var) {
    if (var == nullptr)
        return -1;
    pthread_key_t key;
    int rc = pthread_key_create(&key, nullptr);
    if (rc != 0)
        return rc;
    // Keys are small integers; keep key + 1 so that an unset cell reads 0.
    *var = static_cast<unsigned long>(key) + 1;
    return 0;
}

void *thr_thread_var_get(unsigned long *var) {
    if (var == nullptr || *var == 0)
        return nullptr;
    return pthread_getspecific(static_cast<pthread_key_t>(*var - 1));
}

int thr_thread_var_set(unsigned long *var, void *value) {
    if (var == nullptr || *var == 0)
        return -1;
    return pthread_setspecific(static_cast<pthread_key_t>(*var - 1), value);
}

int thr_thread_var_destroy(unsigned long *var) {
    if (var == nullptr || *var == 0)
        return -1;
    int rc = pthread_key_delete(static_cast<pthread_key_t>(*var - 1));
    *var = 0;
    return rc;
}

int thr_debug_mutex_depth(unsigned long handle) {
    ThrMutex *m = as_mutex(handle);
    if (m == nullptr)
        return 0;
    // Only the owner ever sees its own id there, and only it writes depth.
    return m->owner.load(std::memory_order_relaxed) == self_id() ? m->depth : 0;
}

int thr_debug_total_depth(void) {
    return t_total_depth;
}

} // extern "C"
