// Chain members: the chain lock, noticing a changed TAP list, reading the
// chain and opening devices on it.
#include <cstring>
#include <set>
#include <thread>

#include "openocd_backend.h"
#include "owner_tokens.h"
#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

namespace {

const char *const CHAIN_KEY = "chain";

// The wait before the next try of a lock: short at first, then longer.
// The server grants in arrival order, so the first waiter's pause is the
// hand-over delay it adds.
std::chrono::milliseconds retry_pause(unsigned attempt) {
    return std::chrono::milliseconds(attempt < 3 ? 1u << attempt : 10u);
}

// A device name that stays valid for the life of the process. Called
// with the backend's state mutex held.
const char *interned(const std::string &name) {
    static std::set<std::string> *names = new std::set<std::string>;
    return names->insert(name).first->c_str();
}

} // namespace

SCX_ERROR OpenOcdBackend::acquire(size_t i, uint64_t generation, const std::string &key,
                                  const std::string &owner, unsigned long timeout, SCX_OPEN *still_open,
                                  std::string *epoch) {
    const bool forever = timeout >= FOREVER_MS;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout);
    // A caller that will wait queues at the server; a single try does not.
    const char *const mode = timeout == 0 ? "t" : "w";
    SCX_ERROR answer = SCX_NO_ERROR;
    for (unsigned attempt = 0;; ++attempt) {
        Reply reply;
        const CallOutcome outcome =
            servers_[i]->call(generation, "lock", {key, owner, mode}, REPLY_WAIT, &reply);
        answer = answer_of(outcome, reply);
        if (answer != E_LOCKED) {
            if (answer == SCX_NO_ERROR) {
                *epoch = script_word_is_safe(reply.payload) ? reply.payload : "0";
            }
            return answer;
        }
        const Clock::time_point now = Clock::now();
        if (!forever && now >= deadline) {
            break;
        }
        // No connection is held while waiting: other threads go on.
        std::chrono::milliseconds pause = retry_pause(attempt);
        if (!forever && now + pause > deadline) {
            pause = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                    std::chrono::milliseconds(1);
        }
        std::this_thread::sleep_for(pause);
        DeviceHandle device;
        if (still_open && !device_of(still_open, &device)) {
            answer = E_UNKNOWN_HANDLE;
            break;
        }
    }
    if (*mode == 'w') {
        // Out of the queue at once, so that those behind do not wait for
        // this caller's place to lapse.
        Reply reply;
        servers_[i]->call(generation, "leave", {key, owner}, REPLY_WAIT, &reply);
    }
    return answer;
}

SCX_ERROR OpenOcdBackend::lock_chain(SCX_CHAIN *chain, unsigned long timeout) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    if (!servers_[ref.server]->connected(ref.generation)) {
        return E_UNAVAILABLE;
    }
    const std::string &me = thread_owner();
    {
        std::lock_guard<std::mutex> hold(state_);
        if (chains_[ref.server].chain_holder == me) {
            return E_LOCKED;
        }
    }
    std::string epoch;
    const SCX_ERROR answer = acquire(ref.server, ref.generation, CHAIN_KEY, me, timeout, nullptr, &epoch);
    if (answer == SCX_NO_ERROR) {
        std::lock_guard<std::mutex> hold(state_);
        if (chains_[ref.server].generation == ref.generation) {
            chains_[ref.server].chain_holder = me;
        }
        start_keep_alive();
    }
    return answer;
}

SCX_ERROR OpenOcdBackend::unlock_chain(SCX_CHAIN *chain) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    {
        std::lock_guard<std::mutex> hold(state_);
        if (chains_[ref.server].chain_holder != thread_owner()) {
            return E_NOT_LOCKED;
        }
        chains_[ref.server].chain_holder.clear();
    }
    Reply reply;
    const CallOutcome outcome =
        servers_[ref.server]->call(ref.generation, "unlock", {CHAIN_KEY, thread_owner()}, REPLY_WAIT, &reply);
    // Without a connection the lock is gone from the server's view too.
    return outcome == CallOutcome::not_connected ? SCX_NO_ERROR : answer_of(outcome, reply);
}

SCX_ERROR OpenOcdBackend::query_chain(size_t i, uint64_t generation) {
    Reply reply;
    const CallOutcome outcome = servers_[i]->call(generation, "chain", {thread_owner()}, REPLY_WAIT, &reply);
    if (SCX_ERROR answer = answer_of(outcome, reply)) {
        return answer;
    }
    Listing listing;
    std::string error;
    if (!parse_scan_chain(reply.payload, &listing, &error)) {
        return E_CONNECTION_LOST;
    }
    std::lock_guard<std::mutex> hold(state_);
    if (chains_[i].generation == generation) {
        take_listing(i, listing);
    }
    return SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::scan_device_chain(SCX_CHAIN *chain) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    if (SCX_ERROR answer = query_chain(ref.server, ref.generation)) {
        return answer;
    }
    std::lock_guard<std::mutex> hold(state_);
    const bool changed = chains_[ref.server].changed;
    chains_[ref.server].changed = false;
    return changed ? E_CHAIN_CHANGED_SCAN : SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records,
                                            bool flag) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    if (!count) {
        return E_BAD_ARGUMENT;
    }
    bool holder = false;
    {
        std::lock_guard<std::mutex> hold(state_);
        holder = chains_[ref.server].chain_holder == thread_owner();
    }
    // Under its own chain lock a thread reads the list of its last query:
    // nobody else can have changed it meanwhile.
    if (!holder || !servers_[ref.server]->connected(ref.generation)) {
        if (SCX_ERROR answer = query_chain(ref.server, ref.generation)) {
            return answer;
        }
    }
    std::lock_guard<std::mutex> hold(state_);
    const Listing &listing = chains_[ref.server].listing;
    const unsigned long n = listing.size();
    if (!records || *count < n) {
        *count = n;
        return E_SIZE;
    }
    for (unsigned long k = 0; k < n; ++k) {
        std::memset(&records[k], 0, sizeof records[k]);
        records[k].idcode = listing[k].idcode;
        records[k].name = flag && name_is_safe(listing[k].name) ? interned(listing[k].name) : nullptr;
    }
    *count = n;
    return SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                                      const SCX_CLAIM *claims, unsigned long claim_count,
                                      const char *application) {
    ChainRef ref;
    if (!chain_of(chain, &ref)) {
        return E_UNKNOWN_HANDLE;
    }
    if (!handle || (claim_count > 0 && !claims) || !application) {
        return E_BAD_ARGUMENT;
    }
    if (SCX_ERROR answer = query_chain(ref.server, ref.generation)) {
        return answer;
    }
    std::lock_guard<std::mutex> hold(state_);
    const ChainState &state = chains_[ref.server];
    if (state.generation != ref.generation) {
        return E_UNKNOWN_HANDLE;
    }
    if (state.changed) {
        return E_RESCAN_NEEDED;
    }
    if (position >= state.listing.size() || !state.listing[position].usable) {
        return E_NO_DEVICE;
    }
    if (devices_.size() >= MAX_OPEN_HANDLES) {
        return E_NO_RESOURCES;
    }
    const Tap &tap = state.listing[position];
    DeviceHandle device;
    device.server = ref.server;
    device.generation = ref.generation;
    device.position = position;
    device.tap = tap.name;
    device.ir_length = tap.ir_length;
    device.ir_capture = tap.ir_capture;
    device.owner = new_handle_owner();
    const uintptr_t token = new_token();
    devices_.emplace(token, device);
    *handle = reinterpret_cast<SCX_OPEN *>(token);
    return SCX_NO_ERROR;
}

} // namespace detail
} // namespace scxopenocd
