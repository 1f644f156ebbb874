// The keep-alive: while this process holds a lock on a server, a message
// goes there every third of a lease, so a live but idle holder keeps its
// locks and only a dead one loses them.
#include <thread>
#include <utility>

#include "openocd_backend.h"
#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

void OpenOcdBackend::renew_leases() {
    std::vector<std::pair<size_t, uint64_t>> holding;
    {
        std::lock_guard<std::mutex> hold(state_);
        std::vector<bool> held(servers_.size(), false);
        for (size_t i = 0; i < servers_.size(); ++i) {
            held[i] = !chains_[i].chain_holder.empty();
        }
        for (const auto &entry : devices_) {
            if (entry.second.holds_lock || entry.second.kept) {
                held[entry.second.server] = true;
            }
        }
        for (size_t i = 0; i < servers_.size(); ++i) {
            if (held[i]) {
                holding.emplace_back(i, chains_[i].generation);
            }
        }
    }
    for (const auto &server : holding) {
        // Any message renews every lease of the process on that server.
        Reply reply;
        servers_[server.first]->call(server.second, "nop", {}, REPLY_WAIT, &reply);
    }
}

void OpenOcdBackend::start_keep_alive() {
    std::call_once(keep_alive_started_, [this] {
        // The backend is never destroyed, so the thread may outlive main.
        std::thread([this] {
            while (true) {
                std::this_thread::sleep_for(std::chrono::milliseconds(LEASE_MS / 3));
                renew_leases();
            }
        }).detach();
    });
}

} // namespace detail
} // namespace scxopenocd
