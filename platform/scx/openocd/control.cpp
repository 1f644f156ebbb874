// The OpenOCD backend's instance, made when the process chooses it, and
// the control functions of scxopenocd.h.
#include <atomic>

#include "openocd_backend.h"

namespace scxopenocd {

namespace {

std::atomic<detail::OpenOcdBackend *> instance{nullptr};

} // namespace

std::vector<UnreachableServer> unreachable_servers() {
    detail::OpenOcdBackend *backend = instance.load();
    return backend ? backend->unreachable_servers() : std::vector<UnreachableServer>();
}

unsigned long long round_trips() {
    return detail::Server::round_trips.load();
}

void reset_round_trips() {
    detail::Server::round_trips = 0;
}

} // namespace scxopenocd

namespace scx {

// The backend over the servers the lists name (each HOST:PORT[,...]); null
// with *error set when one is malformed. Called once per process, by the
// core's choice.
Backend *openocd_backend(const std::vector<std::string> &lists, std::string *error) {
    std::vector<scxopenocd::detail::Endpoint> endpoints;
    for (const std::string &list : lists) {
        if (!scxopenocd::detail::parse_endpoint_list(list, &endpoints, error)) {
            return nullptr;
        }
    }
    // Lives until the process exits, like every backend.
    auto *backend = new scxopenocd::detail::OpenOcdBackend(endpoints);
    scxopenocd::instance = backend;
    return backend;
}

} // namespace scx
