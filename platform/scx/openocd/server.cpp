#include "server.h"

#include "owner_tokens.h"
#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

namespace {

std::atomic<unsigned> next_client{1};

} // namespace

std::atomic<unsigned long long> Server::round_trips{0};

Server::Server(const Endpoint &endpoint)
    : endpoint(endpoint), persistent_id(persistent_id_of(endpoint.text)),
      short_name("openocd@" + endpoint.text), full_name("OpenOCD server " + endpoint.text),
      client(process_token() + "-s" + std::to_string(next_client++)) {}

void Server::drop() {
    connection_.close();
    live_generation_ = 0;
}

std::string Server::next_seq() {
    return std::to_string(++seq_);
}

bool Server::exchange(const std::string &script, const std::string &seq, std::chrono::milliseconds reply_wait,
                      Reply *reply, std::string *error) {
    std::string text;
    ++round_trips;
    if (!connection_.exchange(script, Clock::now() + reply_wait, MAX_REPLY, &text, error)) {
        drop();
        return false;
    }
    if (!parse_reply(text, seq, reply)) {
        // Not an answer of ours: the stream can no longer be trusted.
        drop();
        *error = "the server's reply is not one of this library's procedures";
        return false;
    }
    return true;
}

bool Server::refresh(std::chrono::milliseconds wait, uint64_t *generation, bool *fresh, Listing *listing,
                     std::string *why) {
    std::lock_guard<std::mutex> hold(io_);
    *fresh = false;
    *generation = generation_;
    if (connection_.is_open() && !connection_.peer_gone()) {
        return true;
    }
    drop();
    if (wait.count() <= 0) {
        *why = "not connected";
        return false;
    }
    if (wait > CONNECT_WAIT) {
        wait = CONNECT_WAIT;
    }
    if (!connection_.open(endpoint, Clock::now() + wait, why)) {
        return false;
    }
    const std::string seq = next_seq();
    Reply reply;
    if (!exchange(install_script(seq, client), seq, wait + REPLY_WAIT, &reply, why)) {
        *why = "no OpenOCD Tcl RPC answer: " + *why;
        return false;
    }
    std::string error;
    if (reply.kind == ReplyKind::other_version) {
        *why = "in use by version " + reply.payload + " of the OpenOCD backend's procedures";
    } else if (reply.kind != ReplyKind::done) {
        *why = "the procedures could not be installed: " + reply.payload;
    } else if (!parse_scan_chain(reply.payload, listing, &error)) {
        *why = "scan_chain: " + error;
    } else {
        ++generation_;
        live_generation_ = generation_;
        *generation = generation_;
        *fresh = true;
        return true;
    }
    drop();
    return false;
}

CallOutcome Server::call(uint64_t generation, const char *op, std::initializer_list<std::string_view> args,
                         std::chrono::milliseconds reply_wait, Reply *reply) {
    std::lock_guard<std::mutex> hold(io_);
    if (generation != generation_) {
        return CallOutcome::stale;
    }
    if (!connection_.is_open()) {
        return CallOutcome::not_connected;
    }
    const std::string seq = next_seq();
    std::string script, error;
    if (!call_script(seq, client, op, args, &script)) {
        // Only this backend's words are ever passed: a refusal is a bug,
        // answered as a failed operation rather than sent.
        reply->kind = ReplyKind::failed;
        reply->payload = "refused to send an unsafe word";
        return CallOutcome::answered;
    }
    if (!exchange(script, seq, reply_wait, reply, &error)) {
        return CallOutcome::lost;
    }
    if (reply->kind == ReplyKind::other_version) {
        drop();
        return CallOutcome::lost;
    }
    return CallOutcome::answered;
}

} // namespace detail
} // namespace scxopenocd
