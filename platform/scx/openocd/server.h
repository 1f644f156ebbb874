// One OpenOCD server: its endpoint and names, and the one connection this
// process keeps to it. Messages go one at a time; each connection made
// is a new generation, so handles from before a reconnect can be told
// apart.
#ifndef SCXOPENOCD_SERVER_H
#define SCXOPENOCD_SERVER_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "chain_listing.h"
#include "endpoint.h"
#include "reply.h"
#include "rpc_connection.h"
#include "scxopenocd.h"

namespace scxopenocd {
namespace detail {

// How long one message may wait for its reply unless the operation says
// more; how long a connection attempt may take at most.
const std::chrono::milliseconds REPLY_WAIT{10000};
const std::chrono::milliseconds CONNECT_WAIT{2000};
// After a connection attempt failed, no new one for this long.
const std::chrono::milliseconds RETRY_WAIT{RETRY_MILLISECONDS};
// Longest reply read: a 65,536-bit scan answers 16,384 digits.
const size_t MAX_REPLY = 65536;
// Write-only scans held back at most this many, this many bits in all,
// and this long before they are sent by themselves.
const size_t MAX_HELD = 64;
const unsigned long MAX_HELD_BITS = 65536;
const std::chrono::milliseconds HOLD_WAIT{10};

enum class CallOutcome {
    answered,      // *reply holds a well-formed reply
    lost,          // the connection failed or the reply was not one; it is closed now
    not_connected, // there was no connection to use
    stale          // the connection is of a later generation than the caller's
};

class Server {
  public:
    explicit Server(const Endpoint &endpoint);

    const Endpoint endpoint;
    const unsigned long persistent_id;
    const std::string short_name; // "openocd@HOST:PORT"
    const std::string full_name;  // "OpenOCD server HOST:PORT"
    // Whose leases this connection's messages renew: the process token and
    // a number per server, so that two names of one server (localhost and
    // 127.0.0.1) do not release each other's locks on reconnecting.
    const std::string client;

    // Why a server could not be reached, and when it was last tried.
    struct Failure {
        std::string why;
        std::chrono::system_clock::time_point last_try;
    };

    // Connection attempts (connect within min(wait, CONNECT_WAIT), then the
    // install message) run on a thread of their own, so that a hardware
    // query waits for a server only as long as it chooses and one hung
    // server never holds up the others or a query of its own.
    //
    // Starts an attempt when the server is not connected, wait is above 0,
    // no attempt is running or made a connection not yet taken, and no
    // attempt failed within the last RETRY_WAIT. Does not wait. True when
    // it started a first attempt (none failed since the last connection):
    // the query then waits for it; a retry is not waited for.
    bool start_attempt(std::chrono::milliseconds wait);
    // Keeps a live connection; otherwise, when wait is above 0, waits until
    // `until` for a running attempt and takes the connection an attempt
    // made. Answers whether the server is connected now; *generation is
    // the connection's, and when a new one was taken, *fresh is set and
    // *listing holds its TAP list. *failure says why not.
    bool refresh(std::chrono::milliseconds wait, Clock::time_point until, uint64_t *generation, bool *fresh,
                 Listing *listing, Failure *failure);
    // Runs `op args` (tcl_procs.h) on the connection of generation
    // `generation`, waiting up to reply_wait for the reply. Calls held
    // back for `owner` go first in the same message (reply->held_failed
    // when one of them failed); those of another owner are sent first on
    // their own.
    CallOutcome call(uint64_t generation, const char *op, std::initializer_list<std::string_view> args,
                     std::chrono::milliseconds reply_wait, Reply *reply, const std::string &owner = "");
    // Holds back a write-only call of `owner` (a scan of `bits` bits) to go
    // with the next message; false when it cannot be held (another
    // generation, no connection, the limits reached, or no message was
    // answered within half a lease, so that the grant may have lapsed
    // while the process stood still), and the caller then sends it itself.
    bool hold(uint64_t generation, const std::string &owner, unsigned long bits, const char *op,
              std::initializer_list<std::string_view> args);
    // Sends the held-back calls when they have waited HOLD_WAIT (all of
    // them at once with `now`). A failure is kept for their owner.
    void send_held(bool now);
    // Whether calls are held back; and the failure kept for owner, if any
    // (taken out): a held call that did not answer K (answered, *reply),
    // or held calls that never ran because the connection was lost (lost).
    bool holding();
    bool take_held_failure(const std::string &owner, CallOutcome *outcome, Reply *reply);
    // Whether the last reply said that somebody waits for a lock this
    // process holds on the server.
    bool waiters() const { return waiters_; }
    // How long ago the last message that was answered was sent (its
    // answer renewed this process's leases), and how long ago that answer
    // came (the age of waiters()); "long ago" before any.
    Clock::duration since_answered() const;
    Clock::duration since_news() const;
    // Whether the connection of that generation is open. Does not wait
    // for a message in flight.
    bool connected(uint64_t generation) const { return generation != 0 && live_generation_ == generation; }

    // Messages exchanged by every server of the process.
    static std::atomic<unsigned long long> round_trips;

  private:
    // The attempt's thread: connects, installs, hands the outcome over.
    void attempt(std::chrono::milliseconds wait, const std::string &seq);
    // With io_ held: sends the held-back calls with a nop; a failure is
    // kept for their owner.
    void send_held_locked();
    // With io_ held: one exchange and its reply parsed; closes the
    // connection when the exchange or the reply fails.
    bool exchange(const std::string &script, const std::string &seq, std::chrono::milliseconds reply_wait,
                  Reply *reply, std::string *error);
    std::string next_seq();
    // With io_ held: closes the connection.
    void drop();

    std::mutex io_;
    RpcConnection connection_;
    uint64_t generation_ = 0;
    uint64_t seq_ = 0;
    std::atomic<uint64_t> live_generation_{0}; // generation_ while connected, else 0
    std::vector<std::string> held_;            // call_words of write-only calls, oldest first
    std::string held_owner_;                   // whose they are
    unsigned long held_bits_ = 0;
    Clock::time_point held_since_;
    struct HeldFailure {
        CallOutcome outcome;
        Reply reply;
    };
    // With io_ held: keeps a failure of held calls for owner; the first
    // one stays until it is taken.
    void keep_held_failure(const std::string &owner, CallOutcome outcome, const Reply &reply);
    std::map<std::string, HeldFailure> held_failures_; // by owner: held calls not reported yet
    std::atomic<bool> waiters_{false};
    std::atomic<Clock::rep> answered_sent_{0}; // steady clock ticks, 0 for never
    std::atomic<Clock::rep> answer_came_{0};
    // Connection attempts (with io_ held).
    std::condition_variable attempt_done_;
    bool attempting_ = false;
    RpcConnection made_;       // a connection an attempt made, not yet taken
    Listing made_listing_;     // its TAP list
    bool failed_ = false;      // the last attempt failed
    Failure failure_;          // its reason; the time of the last attempt
    Clock::time_point retry_at_;
};

} // namespace detail
} // namespace scxopenocd

#endif
