// Hardware members: one record per reachable server, reconnecting servers
// whose connection is gone; names; and the bookkeeping of chain tokens.
#include <algorithm>
#include <cstring>

#include "openocd_backend.h"

namespace scxopenocd {
namespace detail {

namespace {

void fill_record(const Server &server, uintptr_t token, SCX_HARDWARE *record) {
    std::memset(record, 0, sizeof *record);
    record->chain = reinterpret_cast<SCX_CHAIN *>(token);
    record->persistent_id = server.persistent_id;
    record->name = server.short_name.c_str();
}

} // namespace

OpenOcdBackend::OpenOcdBackend(const std::vector<Endpoint> &endpoints)
    : chains_(endpoints.size()), next_token_(0x5C0000) {
    for (const Endpoint &endpoint : endpoints) {
        servers_.push_back(std::make_unique<Server>(endpoint));
    }
}

uintptr_t OpenOcdBackend::new_token() {
    // Chain and device tokens come from one sequence, so neither is ever
    // taken for the other; a step of 16 keeps them away from small numbers.
    next_token_ += 16;
    return next_token_;
}

void OpenOcdBackend::refresh_servers(const std::vector<size_t> &which, std::chrono::milliseconds wait) {
    // Every server's attempt starts before any is waited for, so the query
    // waits for the slowest first attempt, not their sum; retries are not
    // waited for at all.
    std::vector<bool> started(which.size());
    for (size_t k = 0; k < which.size(); ++k) {
        started[k] = servers_[which[k]]->start_attempt(wait);
    }
    const Clock::time_point until = Clock::now() + std::min(wait, CONNECT_WAIT);
    for (size_t k = 0; k < which.size(); ++k) {
        refresh_server(which[k], wait, started[k] ? until : Clock::time_point());
    }
}

void OpenOcdBackend::refresh_server(size_t i, std::chrono::milliseconds wait, Clock::time_point until) {
    uint64_t generation = 0;
    bool fresh = false;
    Listing listing;
    Server::Failure failure;
    const bool up = servers_[i]->refresh(wait, until, &generation, &fresh, &listing, &failure);
    std::lock_guard<std::mutex> hold(state_);
    ChainState &chain = chains_[i];
    if (!up) {
        if (wait.count() > 0) {
            chain.unreachable_reason = failure.why;
            chain.last_try = failure.last_try;
        }
        return;
    }
    chain.unreachable_reason.clear();
    if (!fresh) {
        return;
    }
    // A new connection: a new chain handle, and the handles and locks of
    // the old one are void (the install dropped the locks in the server).
    chain_tokens_.erase(chain.chain_token);
    for (auto it = devices_.begin(); it != devices_.end();) {
        it = it->second.server == i ? devices_.erase(it) : std::next(it);
    }
    chain.chain_token = new_token();
    chain_tokens_[chain.chain_token] = i;
    chain.generation = generation;
    chain.changed = chain.ever_connected;
    chain.ever_connected = true;
    chain.chain_holder.clear();
    chain.listing = listing;
}

SCX_ERROR OpenOcdBackend::get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) {
    if (!count) {
        return E_BAD_ARGUMENT;
    }
    std::vector<size_t> all(servers_.size());
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
    }
    refresh_servers(all, std::chrono::milliseconds(timeout));
    std::vector<size_t> present;
    std::vector<uintptr_t> tokens;
    {
        std::lock_guard<std::mutex> hold(state_);
        for (size_t i = 0; i < servers_.size(); ++i) {
            if (chains_[i].ever_connected && servers_[i]->connected(chains_[i].generation)) {
                present.push_back(i);
                tokens.push_back(chains_[i].chain_token);
            }
        }
    }
    const unsigned long n = present.size();
    if (!records || *count < n) {
        *count = n;
        return E_SIZE;
    }
    for (unsigned long k = 0; k < n; ++k) {
        fill_record(*servers_[present[k]], tokens[k], &records[k]);
    }
    const SCX_ERROR answer = *count > n ? E_FETCH_SHORT : SCX_NO_ERROR;
    *count = n;
    return answer;
}

SCX_ERROR OpenOcdBackend::find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) {
    if (!full_name || !record) {
        return E_BAD_ARGUMENT;
    }
    for (size_t i = 0; i < servers_.size(); ++i) {
        if (servers_[i]->full_name != full_name) {
            continue;
        }
        refresh_servers({i}, std::chrono::milliseconds(timeout));
        std::lock_guard<std::mutex> hold(state_);
        if (!chains_[i].ever_connected || !servers_[i]->connected(chains_[i].generation)) {
            return E_NO_HARDWARE;
        }
        fill_record(*servers_[i], chains_[i].chain_token, record);
        return SCX_NO_ERROR;
    }
    return E_NO_HARDWARE;
}

SCX_ERROR OpenOcdBackend::print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size,
                                              bool long_name, unsigned long *length) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    if (!buffer && size > 0) {
        return E_BAD_ARGUMENT;
    }
    const std::string &name = long_name ? servers_[ref.server]->full_name : servers_[ref.server]->short_name;
    const unsigned long len = name.size();
    if (length) {
        *length = len;
    }
    if (!buffer || size < len) {
        return E_SIZE;
    }
    std::memcpy(buffer, name.data(), len);
    if (size > len) {
        buffer[len] = '\0';
    }
    return SCX_NO_ERROR;
}

bool OpenOcdBackend::chain_of(SCX_CHAIN *chain, ChainRef *ref) {
    std::lock_guard<std::mutex> hold(state_);
    const auto it = chain_tokens_.find(reinterpret_cast<uintptr_t>(chain));
    if (it == chain_tokens_.end()) {
        return false;
    }
    ref->server = it->second;
    ref->generation = chains_[it->second].generation;
    return true;
}

bool OpenOcdBackend::device_of(SCX_OPEN *handle, DeviceHandle *copy) {
    std::lock_guard<std::mutex> hold(state_);
    const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == devices_.end()) {
        return false;
    }
    *copy = it->second;
    return true;
}

void OpenOcdBackend::take_listing(size_t i, const Listing &listing) {
    ChainState &chain = chains_[i];
    if (listing == chain.listing) {
        return;
    }
    chain.changed = true;
    for (auto &entry : devices_) {
        DeviceHandle &device = entry.second;
        if (device.server == i &&
            (device.position >= listing.size() || listing[device.position].name != device.tap)) {
            device.gone = true;
        }
    }
    chain.listing = listing;
}

std::vector<UnreachableServer> OpenOcdBackend::unreachable_servers() {
    std::vector<UnreachableServer> list;
    std::lock_guard<std::mutex> hold(state_);
    for (size_t i = 0; i < servers_.size(); ++i) {
        if (!chains_[i].unreachable_reason.empty()) {
            list.push_back({servers_[i]->endpoint.text, chains_[i].unreachable_reason, chains_[i].last_try});
        }
    }
    return list;
}

SCX_ERROR answer_of(CallOutcome outcome, const Reply &reply) {
    switch (outcome) {
    case CallOutcome::lost:
        return E_CONNECTION_LOST;
    case CallOutcome::not_connected:
        return E_UNAVAILABLE;
    case CallOutcome::stale:
        return E_UNKNOWN_HANDLE;
    case CallOutcome::answered:
        break;
    }
    switch (reply.kind) {
    case ReplyKind::done:
        return SCX_NO_ERROR;
    case ReplyKind::locked:
        return E_LOCKED;
    case ReplyKind::not_held:
        return E_NOT_LOCKED;
    case ReplyKind::unknown_instruction:
        return E_INSTRUCTION_UNKNOWN;
    case ReplyKind::failed:
    case ReplyKind::other_version:
        break;
    }
    return E_UNAVAILABLE;
}

} // namespace detail
} // namespace scxopenocd
