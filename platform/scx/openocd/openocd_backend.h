// OpenOCD servers as an SCX backend: each server is one hardware record,
// its enabled TAPs are the chain. Every member answers as
// scxopenocd_semantics.h says. Hardware and chain members live in
// backend_hardware.cpp and backend_chain.cpp, device members in
// backend_device.cpp.
#ifndef SCXOPENOCD_OPENOCD_BACKEND_H
#define SCXOPENOCD_OPENOCD_BACKEND_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/answer_codes.h"
#include "core/backend.h"
#include "scxopenocd.h"
#include "scan_hex.h"
#include "server.h"

namespace scxopenocd {
namespace detail {

// The answers this backend gives (scxopenocd_semantics.h): every
// backend's, and its own.
using namespace scx::codes;
const SCX_ERROR E_INSTRUCTION_UNKNOWN = 40;
const SCX_ERROR E_CONNECTION_LOST = E_NO_RESOURCES;

const size_t MAX_OPEN_HANDLES = 1024;
const unsigned long MAX_SCAN_BITS = 65536;
// Lock time-outs from this many milliseconds on wait for ever.
const unsigned long FOREVER_MS = 0x7FFFFFFFUL;

// A server's chain as this process knows it.
struct ChainState {
    uintptr_t chain_token = 0; // 0 until the first connection
    uint64_t generation = 0;   // of the connection the token belongs to
    bool ever_connected = false;
    Listing listing;                // from the last query
    bool changed = false;           // since the last scan_device_chain
    std::string chain_holder;       // owner token of the thread holding the chain lock, or ""
    std::string unreachable_reason; // why the last hardware query could not reach it, or ""
    std::chrono::system_clock::time_point last_try; // of the attempt that reason is about
};

// A current chain token's server and connection generation.
struct ChainRef {
    size_t server = 0;
    uint64_t generation = 0;
};

struct DeviceHandle {
    size_t server = 0;
    uint64_t generation = 0;
    unsigned long position = 0;
    std::string tap;
    unsigned ir_length = 0;
    uint64_t ir_capture = 0;
    std::string owner;       // of the device lock
    bool holds_lock = false; // as the library sees it: between its lock and unlock
    std::string epoch = "0"; // of the grant held or kept, "0" for none
    bool fenced = false;     // the grant held ended at the server: scans answer 34
    // After an unlock while nobody waited, the grant stays at the server
    // for KEEP_WAIT, so that the handle's next lock costs no message.
    bool kept = false;
    Clock::time_point kept_since;
    bool releasing = false; // a kept grant's unlock message is in flight
    bool gone = false;      // the TAP at its position is another one now
};

// How long an unlocked grant is kept at the server for its handle's next
// lock while nobody waits for it, and how fresh the news that nobody waits
// must be to keep or take up a kept grant. A waiter that queued gets a kept
// grant within 2 * KEEP_WAIT + HOLD_WAIT and a round trip.
const std::chrono::milliseconds KEEP_WAIT{20};

class OpenOcdBackend final : public scx::Backend {
  public:
    explicit OpenOcdBackend(const std::vector<Endpoint> &endpoints);

    const char *name() const override { return "openocd"; }

    SCX_ERROR get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) override;
    SCX_ERROR find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) override;
    SCX_ERROR print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length) override;
    SCX_ERROR lock_chain(SCX_CHAIN *chain, unsigned long timeout) override;
    SCX_ERROR unlock_chain(SCX_CHAIN *chain) override;
    SCX_ERROR scan_device_chain(SCX_CHAIN *chain) override;
    SCX_ERROR read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records,
                                bool flag) override;
    SCX_ERROR open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                          const SCX_CLAIM *claims, unsigned long claim_count,
                          const char *application) override;
    SCX_ERROR close_device(SCX_OPEN *handle) override;
    SCX_ERROR lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) override;
    SCX_ERROR unlock(SCX_OPEN *handle) override;
    SCX_ERROR access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                        unsigned long flags) override;
    SCX_ERROR access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags,
                        unsigned long write_offset, unsigned long write_length,
                        const unsigned char *write_bits, unsigned long read_offset, unsigned long read_length,
                        unsigned char *read_bits) override;
    SCX_ERROR run_test_idle(SCX_OPEN *handle, unsigned long count) override;
    SCX_ERROR delay(SCX_OPEN *handle, unsigned long amount) override;
    SCX_ERROR flush(SCX_OPEN *handle) override;

    std::vector<UnreachableServer> unreachable_servers();
    // Renews the leases on every server where this process holds a lock
    // (the keep-alive thread's work).
    void renew_leases();

  private:
    // Reaches the servers `which` as a hardware query does (wait 0: no
    // new attempt), their attempts in parallel, and takes new connections
    // into the chain state.
    void refresh_servers(const std::vector<size_t> &which, std::chrono::milliseconds wait);
    // One server's part of that, waiting for its attempt until `until`.
    void refresh_server(size_t i, std::chrono::milliseconds wait, Clock::time_point until);
    // The server and connection generation of a current chain token.
    bool chain_of(SCX_CHAIN *chain, ChainRef *ref);
    // A copy of the handle's record; false when the handle is unknown or
    // of an earlier connection.
    bool device_of(SCX_OPEN *handle, DeviceHandle *copy);
    // Queries the TAP list of server i under the calling thread's chain
    // ownership and takes it in; the answer code (0 when done).
    SCX_ERROR query_chain(size_t i, uint64_t generation);
    // With state_ held: takes a TAP list in; marks the chain changed and
    // the handles on replaced TAPs gone when it differs.
    void take_listing(size_t i, const Listing &listing);
    // One device operation: the checks shared by every scan-like call
    // (unknown handle, gone device, no connection), then op with args.
    SCX_ERROR device_call(SCX_OPEN *handle, const char *op, std::initializer_list<std::string_view> args,
                          std::chrono::milliseconds reply_wait, Reply *reply);
    // Tries a lock message until it is taken or the time-out runs out,
    // queued at the server as a waiter meanwhile; *epoch gets the grant's.
    SCX_ERROR acquire(size_t i, uint64_t generation, const std::string &key, const std::string &owner,
                      unsigned long timeout, SCX_OPEN *still_open, std::string *epoch);
    // Whether the server's last answer, received within KEEP_WAIT, said
    // that nobody waits for this process's locks: a grant may be kept.
    bool news_fresh(size_t server) const;
    // With state_ held: the epoch word a scan of the handle carries.
    static std::string grant_of(const DeviceHandle &device);
    // Notes a reply of the handle's: a fenced one ends its grant.
    void note_reply(SCX_OPEN *handle, const Reply &reply);
    // Sends the unlock of kept grants that waited KEEP_WAIT, or all of a
    // server where somebody waits (with `all`, every one); whether some
    // are still kept.
    bool release_kept(bool all);
    // Wakes the thread that sends held-back scans and releases kept grants.
    void wake_sender();
    uintptr_t new_token();
    void start_keep_alive();
    // Holds a write-only call back (held_scans.cpp); false when it has to
    // be sent now.
    bool hold_call(const DeviceHandle &device, unsigned long bits, const char *op,
                   std::initializer_list<std::string_view> args);
    // The answer for held-back scans of the handle that failed or were lost
    // after they left its calls, once; 0 when none did.
    SCX_ERROR held_failure(SCX_OPEN *handle, const DeviceHandle &device);

    std::vector<std::unique_ptr<Server>> servers_;
    std::mutex state_;
    std::vector<ChainState> chains_;
    std::unordered_map<uintptr_t, size_t> chain_tokens_; // current tokens only
    std::unordered_map<uintptr_t, DeviceHandle> devices_;
    uintptr_t next_token_;
    std::once_flag keep_alive_started_;
    std::once_flag sender_started_;
    std::mutex sender_mutex_;
    std::condition_variable sender_wake_;
    bool sender_due_ = false;          // scans are held back or grants kept: look after HOLD_WAIT
    std::condition_variable released_; // a kept grant's unlock message has answered
};

// Maps a call's outcome and reply kind to the answer code of the
// situations every operation shares (81 lost, 88 not connected, 87 stale,
// 34 locked, 88 OpenOCD error); done answers 0.
SCX_ERROR answer_of(CallOutcome outcome, const Reply &reply);

} // namespace detail
} // namespace scxopenocd

#endif
