// Choosing the one backend of the process, once: by use_openocd() before
// the first scx_ call, else on first use from the environment.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "backend.h"
#include "scxcore.h"

namespace scx {

// Each backend folder gives its instance; it lives until the process exits.
Backend &sim_backend();
// The OpenOCD backend over the servers the lists name; null with *error
// when one is malformed.
Backend *openocd_backend(const std::vector<std::string> &lists, std::string *error);

namespace {

std::atomic<Backend *> chosen{nullptr};
std::mutex choosing;

Backend &choose_locked() {
    Backend *b = chosen.load(std::memory_order_relaxed);
    if (!b) {
        const char *servers = std::getenv("SCX_OPENOCD");
        if (servers && *servers) {
            std::string error;
            b = openocd_backend({servers}, &error);
            if (!b) {
                // No hardware rather than the simulation: a user who named
                // servers must not be shown a simulated board instead.
                std::fprintf(stderr, "libscx: SCX_OPENOCD: %s; no OpenOCD server is used\n", error.c_str());
                b = openocd_backend({}, &error);
            }
        } else {
            b = &sim_backend();
        }
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

bool use_openocd(const std::vector<std::string> &servers, std::string *error) {
    std::lock_guard<std::mutex> l(choosing);
    if (chosen.load(std::memory_order_relaxed)) {
        *error = std::string("the JTAG backend (") + chosen.load()->name() +
                 ") was chosen already: choose OpenOCD before the first scx_ call";
        return false;
    }
    if (servers.empty()) {
        *error = "no OpenOCD server named";
        return false;
    }
    Backend *b = openocd_backend(servers, error);
    if (!b) {
        return false;
    }
    chosen.store(b, std::memory_order_release);
    return true;
}

} // namespace scx
