#include "server.h"

#include "owner_tokens.h"
#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

namespace {

std::atomic<unsigned> next_client{1};

// How long ago a steady clock reading was taken; "long ago" for 0 (never).
Clock::duration since(Clock::rep ticks) {
    return ticks == 0 ? Clock::duration::max() : Clock::now() - Clock::time_point(Clock::duration(ticks));
}

} // namespace

std::atomic<unsigned long long> Server::round_trips{0};

Server::Server(const Endpoint &endpoint)
    : endpoint(endpoint), persistent_id(persistent_id_of(endpoint.text)),
      short_name("openocd@" + endpoint.text), full_name("OpenOCD server " + endpoint.text),
      client(process_token() + "-s" + std::to_string(next_client++)) {}

void Server::drop() {
    connection_.close();
    live_generation_ = 0;
    // What was held back cannot be sent any more: the connection's handles
    // and locks are void. Its owner hears of it at its next call.
    if (!held_.empty()) {
        keep_held_failure(held_owner_, CallOutcome::lost, Reply());
    }
    held_.clear();
    held_bits_ = 0;
}

std::string Server::next_seq() {
    return std::to_string(++seq_);
}

bool Server::exchange(const std::string &script, const std::string &seq, std::chrono::milliseconds reply_wait,
                      Reply *reply, std::string *error) {
    std::string text;
    ++round_trips;
    const Clock::time_point sent = Clock::now();
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
    waiters_ = reply->waiters;
    answered_sent_ = sent.time_since_epoch().count();
    answer_came_ = Clock::now().time_since_epoch().count();
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
                         std::chrono::milliseconds reply_wait, Reply *reply, const std::string &owner) {
    std::lock_guard<std::mutex> hold(io_);
    if (generation != generation_) {
        return CallOutcome::stale;
    }
    if (!connection_.is_open()) {
        return CallOutcome::not_connected;
    }
    if (!held_.empty() && (owner.empty() || owner != held_owner_)) {
        send_held_locked();
        if (!connection_.is_open()) {
            return CallOutcome::lost;
        }
    }
    const std::string seq = next_seq();
    std::string words, error;
    if (!call_words(op, args, &words)) {
        // Only this backend's words are ever passed: a refusal is a bug,
        // answered as a failed operation rather than sent.
        reply->kind = ReplyKind::failed;
        reply->payload = "refused to send an unsafe word";
        return CallOutcome::answered;
    }
    std::string script;
    if (held_.empty()) {
        // seq and client are this backend's own safe words.
        script = std::string(CALL_PROC) + " " + seq + " " + client + " " + words;
    } else {
        script = sequence_script(seq, client, held_, words);
        reply_wait += std::chrono::milliseconds(held_bits_ / 64);
        held_.clear();
        held_bits_ = 0;
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

bool Server::hold(uint64_t generation, const std::string &owner, unsigned long bits, const char *op,
                  std::initializer_list<std::string_view> args) {
    std::lock_guard<std::mutex> hold(io_);
    std::string words;
    if (generation != generation_ || !connection_.is_open() || owner.empty() ||
        (!held_.empty() && owner != held_owner_) || held_.size() >= MAX_HELD ||
        held_bits_ + bits > MAX_HELD_BITS || since_answered() >= std::chrono::milliseconds(LEASE_MS / 2) ||
        !call_words(op, args, &words)) {
        return false;
    }
    if (held_.empty()) {
        held_owner_ = owner;
        held_since_ = Clock::now();
    }
    held_.push_back(std::move(words));
    held_bits_ += bits;
    return true;
}

void Server::send_held_locked() {
    const std::string seq = next_seq();
    const std::string script = sequence_script(seq, client, held_, "nop");
    const std::chrono::milliseconds wait = REPLY_WAIT + std::chrono::milliseconds(held_bits_ / 64);
    held_.clear();
    held_bits_ = 0;
    Reply reply;
    std::string error;
    if (!exchange(script, seq, wait, &reply, &error)) {
        keep_held_failure(held_owner_, CallOutcome::lost, Reply());
        return;
    }
    if (reply.kind == ReplyKind::other_version) {
        keep_held_failure(held_owner_, CallOutcome::lost, Reply());
        drop();
    } else if (reply.held_failed) {
        keep_held_failure(held_owner_, CallOutcome::answered, reply);
    }
}

void Server::keep_held_failure(const std::string &owner, CallOutcome outcome, const Reply &reply) {
    held_failures_.emplace(owner, HeldFailure{outcome, reply});
}

void Server::send_held(bool now) {
    std::lock_guard<std::mutex> hold(io_);
    if (!held_.empty() && connection_.is_open() && (now || Clock::now() - held_since_ >= HOLD_WAIT)) {
        send_held_locked();
    }
}

Clock::duration Server::since_answered() const {
    return since(answered_sent_);
}

Clock::duration Server::since_news() const {
    return since(answer_came_);
}

bool Server::holding() {
    std::lock_guard<std::mutex> hold(io_);
    return !held_.empty();
}

bool Server::take_held_failure(const std::string &owner, CallOutcome *outcome, Reply *reply) {
    std::lock_guard<std::mutex> hold(io_);
    const auto it = held_failures_.find(owner);
    if (it == held_failures_.end()) {
        return false;
    }
    *outcome = it->second.outcome;
    *reply = it->second.reply;
    held_failures_.erase(it);
    return true;
}

} // namespace detail
} // namespace scxopenocd
