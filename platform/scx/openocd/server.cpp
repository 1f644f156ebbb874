#include "server.h"

#include <algorithm>
#include <system_error>
#include <thread>

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

bool Server::start_attempt(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> hold(io_);
    if (wait.count() <= 0 || (connection_.is_open() && !connection_.peer_gone()) || attempting_ ||
        made_.is_open() || (failed_ && Clock::now() < retry_at_)) {
        return false;
    }
    const std::string seq = next_seq();
    wait = std::min(wait, CONNECT_WAIT);
    attempting_ = true;
    failure_.last_try = std::chrono::system_clock::now();
    try {
        // The server is never destroyed (its backend lives until the
        // process exits), so the thread may outlive any caller.
        std::thread([this, wait, seq] { attempt(wait, seq); }).detach();
    } catch (const std::system_error &e) {
        attempting_ = false;
        failed_ = true;
        failure_.why = std::string("no thread for a connection attempt: ") + e.what();
        retry_at_ = Clock::now() + RETRY_WAIT;
        return false;
    }
    return !failed_;
}

void Server::attempt(std::chrono::milliseconds wait, const std::string &seq) {
    RpcConnection fresh;
    Listing listing;
    std::string why;
    bool made = false;
    if (fresh.open(endpoint, Clock::now() + wait, &why)) {
        std::string text, error;
        Reply reply;
        ++round_trips;
        if (!fresh.exchange(install_script(seq, client), Clock::now() + wait + REPLY_WAIT, MAX_REPLY, &text,
                            &why)) {
            why = "no OpenOCD Tcl RPC answer: " + why;
        } else if (!parse_reply(text, seq, &reply)) {
            why = "no OpenOCD Tcl RPC answer: the server's reply is not one of this library's procedures";
        } else if (reply.kind == ReplyKind::other_version) {
            why = "in use by version " + reply.payload + " of the OpenOCD backend's procedures";
        } else if (reply.kind != ReplyKind::done) {
            why = "the procedures could not be installed: " + reply.payload;
        } else if (!parse_scan_chain(reply.payload, &listing, &error)) {
            why = "scan_chain: " + error;
        } else {
            made = true;
        }
    }
    std::lock_guard<std::mutex> hold(io_);
    attempting_ = false;
    failed_ = !made;
    if (made) {
        made_.swap(fresh);
        made_listing_ = std::move(listing);
    } else {
        failure_.why = why;
        retry_at_ = Clock::now() + RETRY_WAIT;
    }
    attempt_done_.notify_all();
}

bool Server::refresh(std::chrono::milliseconds wait, Clock::time_point until, uint64_t *generation, bool *fresh,
                     Listing *listing, Failure *failure) {
    std::unique_lock<std::mutex> hold(io_);
    *fresh = false;
    *generation = generation_;
    if (connection_.is_open() && !connection_.peer_gone()) {
        return true;
    }
    drop();
    if (wait.count() <= 0) {
        // No new connection, not even one an attempt made: the count and
        // the fetch of one listing see the same servers.
        failure->why = failed_ ? failure_.why : "not connected";
        failure->last_try = failure_.last_try;
        return false;
    }
    attempt_done_.wait_until(hold, until, [this] { return !attempting_; });
    if (made_.is_open()) {
        connection_.swap(made_);
        made_.close();
        ++generation_;
        live_generation_ = generation_;
        *generation = generation_;
        *fresh = true;
        *listing = std::move(made_listing_);
        return true;
    }
    failure->last_try = failure_.last_try;
    if (!attempting_) {
        failure->why = failed_ ? failure_.why : "not connected";
    } else if (failed_) {
        failure->why = failure_.why + " (trying again)";
    } else {
        failure->why = "no answer yet (still trying)";
    }
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
