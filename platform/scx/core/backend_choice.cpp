// Choosing the one backend of the process, once, on first use.
#include <atomic>
#include <mutex>

#include "backend.h"
#include "scxcore.h"

namespace scx {

// Each backend folder gives its instance; it lives until the process exits.
Backend &sim_backend();

namespace {

std::atomic<Backend *> chosen{nullptr};
std::mutex choosing;

Backend &choose_locked() {
    Backend *b = chosen.load(std::memory_order_relaxed);
    if (!b) {
        b = &sim_backend();
        chosen.store(b, std::memory_order_release);
    }
    return *b;
}

} // namespace

Backend &active_backend() {
    if (Backend *b = chosen.load(std::memory_order_acquire))
        return *b;
    std::lock_guard<std::mutex> l(choosing);
    return choose_locked();
}

const char *active_backend_name() {
    return active_backend().name();
}

} // namespace scx
