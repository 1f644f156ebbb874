// A lean thr_ library for benchmarks only: the recursive mutex re-enters
// and checks its owner with one relaxed atomic load instead of a trylock,
// and thread cells are slots of an initial-exec thread-local array. Linked
// instead of platform/thr, it shows how much of an operation's time is the
// threading library rather than libsld.so itself.
#include <pthread.h>

#include <atomic>
#include <new>

#include "scx/thr.h"

namespace {

struct LeanMutex {
    pthread_mutex_t mutex;
    std::atomic<pthread_t> owner; // 0 while free; written by the owner only
    int depth;                    // read and written by the owner only
};

const unsigned MAX_CELLS = 64;
__attribute__((tls_model("initial-exec"))) thread_local void *t_cells[MAX_CELLS];
std::atomic<unsigned> g_next_cell{1}; // cell values are slot + 1; 0 means none

LeanMutex *as_mutex(unsigned long handle) {
    return reinterpret_cast<LeanMutex *>(handle);
}

void *&cell(unsigned long *var) {
    return t_cells[(*var - 1) % MAX_CELLS];
}

} // namespace

extern "C" {

unsigned long thr_mutex_create(void) {
    LeanMutex *m = new (std::nothrow) LeanMutex();
    if (m == nullptr)
        return 0;
    pthread_mutex_init(&m->mutex, nullptr);
    m->owner.store(0, std::memory_order_relaxed);
    m->depth = 0;
    return reinterpret_cast<unsigned long>(m);
}

int thr_mutex_lock(unsigned long handle) {
    LeanMutex *m = as_mutex(handle);
    const pthread_t self = pthread_self();
    if (m->owner.load(std::memory_order_relaxed) == self) {
        ++m->depth;
        return 0;
    }
    int rc = pthread_mutex_lock(&m->mutex);
    m->owner.store(self, std::memory_order_relaxed);
    m->depth = 1;
    return rc;
}

int thr_mutex_unlock(unsigned long handle) {
    LeanMutex *m = as_mutex(handle);
    if (m->owner.load(std::memory_order_relaxed) != pthread_self())
        return -1;
    if (--m->depth > 0)
        return 0;
    m->owner.store(0, std::memory_order_relaxed);
    return pthread_mutex_unlock(&m->mutex);
}

int thr_mutex_destroy(unsigned long handle) {
    LeanMutex *m = as_mutex(handle);
    int rc = pthread_mutex_destroy(&m->mutex);
    delete m;
    return rc;
}

int thr_thread_var_init(unsigned long *var) {
    unsigned slot = g_next_cell.fetch_add(1);
    if (slot > MAX_CELLS)
        return -1;
    *var = slot;
    return 0;
}

void *thr_thread_var_get(unsigned long *var) {
    return *var == 0 ? nullptr : cell(var);
}

int thr_thread_var_set(unsigned long *var, void *value) {
    if (*var == 0)
        return -1;
    cell(var) = value;
    return 0;
}

int thr_thread_var_destroy(unsigned long *var) {
    *var = 0;
    return 0;
}

} // extern "C"
