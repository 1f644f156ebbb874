// Device members: close, the device lock, IR and DR scans, run-test-idle,
// delay and flush. Each scan is one message that checks the device lock
// and restores the device's instruction where another TAP was irscanned;
// write-only DR scans under the handle's lock may wait for the next one
// (held_scans.cpp).
#include <thread>

#include "openocd_backend.h"
#include "scan_hex.h"

namespace scxopenocd {
namespace detail {

namespace {

// Whether a count fits runtest's 32 bits (always, where unsigned long has
// 32 bits itself).
bool fits_32_bits(unsigned long long value) {
    return value <= 0xFFFFFFFFULL;
}

// A scan's reply wait: the usual one plus a millisecond per 64 bits, for
// slow adapters.
std::chrono::milliseconds scan_wait(unsigned long bits) {
    return REPLY_WAIT + std::chrono::milliseconds(bits / 64);
}

} // namespace

bool OpenOcdBackend::news_fresh(size_t server) const {
    return !servers_[server]->waiters() && servers_[server]->since_news() < KEEP_WAIT;
}

std::string OpenOcdBackend::grant_of(const DeviceHandle &device) {
    return device.holds_lock && !device.fenced ? device.epoch : "0";
}

void OpenOcdBackend::note_reply(SCX_OPEN *handle, const Reply &reply) {
    if (!reply.fenced) {
        return;
    }
    std::lock_guard<std::mutex> hold(state_);
    const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
    if (it != devices_.end() && it->second.holds_lock) {
        it->second.fenced = true;
    }
}

SCX_ERROR OpenOcdBackend::device_call(SCX_OPEN *handle, const char *op,
                                      std::initializer_list<std::string_view> args,
                                      std::chrono::milliseconds reply_wait, Reply *reply) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    if (device.gone) {
        return E_DEVICE_GONE;
    }
    if (SCX_ERROR failed = held_failure(handle, device)) {
        return failed;
    }
    if (device.holds_lock && device.fenced) {
        // The grant ended at the server: nothing more is sent under it.
        return E_LOCKED;
    }
    const SCX_ERROR answer = answer_of(
        servers_[device.server]->call(device.generation, op, args, reply_wait, reply, device.owner), *reply);
    note_reply(handle, *reply);
    return answer;
}

SCX_ERROR OpenOcdBackend::close_device(SCX_OPEN *handle) {
    DeviceHandle device;
    {
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == devices_.end()) {
            return E_UNKNOWN_HANDLE;
        }
        device = it->second;
        devices_.erase(it);
    }
    if (device.holds_lock || device.kept) {
        // Held-back scans go first; a failure among them is not reported.
        Reply reply;
        servers_[device.server]->call(device.generation, "unlock", {"d." + device.tap, device.owner},
                                      REPLY_WAIT, &reply, device.owner);
    }
    held_failure(handle, device);
    return device.gone ? E_DEVICE_GONE : SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    if (style != SCX_PACK_STYLE_AUTO && style != SCX_PACK_STYLE_MANUAL) {
        return E_BAD_ARGUMENT;
    }
    if (device.gone) {
        return E_DEVICE_GONE;
    }
    if (!servers_[device.server]->connected(device.generation)) {
        return E_UNAVAILABLE;
    }
    bool stale_kept = false;
    {
        std::unique_lock<std::mutex> hold(state_);
        auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == devices_.end()) {
            return E_UNKNOWN_HANDLE;
        }
        if (it->second.holds_lock && !it->second.fenced) {
            return E_LOCKED;
        }
        // A kept grant is still this handle's at the server (fresh, and
        // nobody asked for it): taken up again without a message.
        if (it->second.kept && Clock::now() - it->second.kept_since < KEEP_WAIT &&
            news_fresh(device.server)) {
            it->second.kept = false;
            it->second.holds_lock = true;
            it->second.fenced = false;
            return SCX_NO_ERROR;
        }
        // A kept grant's unlock may be in flight: it must not end the
        // grant this call is about to take.
        released_.wait_for(hold, REPLY_WAIT + std::chrono::seconds(1), [&] {
            it = devices_.find(reinterpret_cast<uintptr_t>(handle));
            return it == devices_.end() || !it->second.releasing;
        });
        if (it == devices_.end()) {
            return E_UNKNOWN_HANDLE;
        }
        stale_kept = it->second.kept;
        it->second.kept = false;
        it->second.holds_lock = false;
        it->second.fenced = false;
    }
    if (stale_kept) {
        // Somebody may be queued for it: taking it up again would jump the
        // queue, so it is given up and asked for like any other.
        Reply reply;
        servers_[device.server]->call(device.generation, "unlock",
                                      {"d." + device.tap, device.owner, device.epoch}, REPLY_WAIT, &reply,
                                      device.owner);
    }
    std::string epoch;
    const SCX_ERROR answer =
        acquire(device.server, device.generation, "d." + device.tap, device.owner, timeout, handle, &epoch);
    if (answer != SCX_NO_ERROR) {
        return answer;
    }
    {
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it != devices_.end()) {
            it->second.holds_lock = true;
            it->second.fenced = false;
            it->second.epoch = epoch;
            start_keep_alive();
            return SCX_NO_ERROR;
        }
    }
    // Closed by another thread while this one waited: give the lock back.
    Reply reply;
    servers_[device.server]->call(device.generation, "unlock", {"d." + device.tap, device.owner}, REPLY_WAIT,
                                  &reply);
    return E_UNKNOWN_HANDLE;
}

SCX_ERROR OpenOcdBackend::unlock(SCX_OPEN *handle) {
    DeviceHandle device;
    bool keep = false;
    {
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == devices_.end()) {
            return E_UNKNOWN_HANDLE;
        }
        if (it->second.gone) {
            return E_DEVICE_GONE;
        }
        if (!it->second.holds_lock) {
            return E_NOT_LOCKED;
        }
        device = it->second;
        it->second.holds_lock = false;
        keep = !device.fenced && servers_[device.server]->connected(device.generation) &&
               news_fresh(device.server);
    }
    // Held-back scans that failed or were lost after they left: the unlock
    // answers that, whatever else happens.
    const SCX_ERROR failed_before = held_failure(handle, device);
    {
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it != devices_.end() && it->second.fenced) {
            device.fenced = true;
            it->second.fenced = false;
        }
    }
    if (device.fenced) {
        // The grant ended at the server before this unlock: the lock was
        // lost. Held scans lost with a connection say so instead.
        return failed_before && failed_before != E_LOCKED ? failed_before : E_NOT_LOCKED;
    }
    Reply reply;
    const std::string key = "d." + device.tap;
    if (keep && failed_before == SCX_NO_ERROR) {
        // Nobody waits: the grant stays for the handle's next lock. Scans
        // still held back run now, so that the unlock answers for them.
        SCX_ERROR answer = SCX_NO_ERROR;
        if (servers_[device.server]->holding()) {
            answer = answer_of(
                servers_[device.server]->call(device.generation, "nop", {}, REPLY_WAIT, &reply, device.owner),
                reply);
        }
        if (answer == SCX_NO_ERROR && news_fresh(device.server)) {
            std::lock_guard<std::mutex> hold(state_);
            const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
            if (it != devices_.end()) {
                it->second.kept = true;
                it->second.kept_since = Clock::now();
            }
        } else {
            Reply ignored;
            servers_[device.server]->call(device.generation, "unlock", {key, device.owner, device.epoch},
                                          REPLY_WAIT, &ignored, device.owner);
        }
        if (answer != SCX_NO_ERROR) {
            return reply.fenced ? E_NOT_LOCKED : answer;
        }
        wake_sender();
        return SCX_NO_ERROR;
    }
    // Held-back scans go with the unlock, which is done even when one of
    // them fails: the unlock then answers that failure.
    const CallOutcome outcome = servers_[device.server]->call(
        device.generation, "unlock", {key, device.owner, device.epoch}, REPLY_WAIT, &reply, device.owner);
    // Without a connection the lock is gone from the server's view too.
    const SCX_ERROR answer = outcome == CallOutcome::not_connected ? SCX_NO_ERROR : answer_of(outcome, reply);
    if (failed_before) {
        return failed_before;
    }
    return reply.held_failed && reply.fenced ? E_NOT_LOCKED : answer;
}

SCX_ERROR OpenOcdBackend::access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                                    unsigned long flags) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    const unsigned long long mask = device.ir_length >= 64 ? ~0ULL : (1ULL << device.ir_length) - 1;
    if (flags != 0 || instruction > mask) {
        return E_BAD_ARGUMENT;
    }
    Reply reply;
    const std::string value = hex_number(instruction);
    const std::string epoch = grant_of(device);
    // Under the lock an instruction answers nothing the server knows
    // better: it goes with the handle's next message (after the answer for
    // held calls that failed before).
    if (device.holds_lock && !device.fenced && !device.gone) {
        if (SCX_ERROR failed = held_failure(handle, device)) {
            return failed;
        }
    }
    if (device.holds_lock && !device.fenced && !device.gone &&
        hold_call(device, device.ir_length, "ir", {device.owner, epoch, device.tap, value})) {
        if (captured) {
            *captured = static_cast<unsigned long>(device.ir_capture);
        }
        return SCX_NO_ERROR;
    }
    const SCX_ERROR answer =
        device_call(handle, "ir", {device.owner, epoch, device.tap, value}, REPLY_WAIT, &reply);
    if (answer == SCX_NO_ERROR && captured) {
        // irscan answers nothing: the capture OpenOCD knows for the TAP.
        *captured = static_cast<unsigned long>(device.ir_capture);
    }
    return answer;
}

SCX_ERROR OpenOcdBackend::access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags,
                                    unsigned long write_offset, unsigned long write_length,
                                    const unsigned char *write_bits, unsigned long read_offset,
                                    unsigned long read_length, unsigned char *read_bits) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    if (flags != 0 || write_offset != 0 || read_offset != 0 || write_length > length ||
        read_length > length || (write_length > 0 && !write_bits) || (read_length > 0 && !read_bits) ||
        length > MAX_SCAN_BITS) {
        return E_BAD_ARGUMENT;
    }
    Reply reply;
    const std::string epoch = grant_of(device);
    if (length == 0) {
        return device_call(handle, "dr0", {device.owner, epoch, device.tap}, REPLY_WAIT, &reply);
    }
    // Formatted before anything is read back: the two buffers may be one.
    const std::string value = bits_to_hex(write_bits, write_length, length);
    const std::string bits = hex_number(length);
    if (read_length == 0 && device.holds_lock && !device.fenced && !device.gone) {
        if (SCX_ERROR failed = held_failure(handle, device)) {
            return failed;
        }
    }
    if (read_length == 0 && device.holds_lock && !device.fenced && !device.gone &&
        hold_call(device, length, "dr", {device.owner, epoch, device.tap, bits, value})) {
        return SCX_NO_ERROR;
    }
    const SCX_ERROR answer =
        device_call(handle, "dr", {device.owner, epoch, device.tap, bits, value}, scan_wait(length), &reply);
    if (answer != SCX_NO_ERROR) {
        return answer;
    }
    if (!hex_to_bits(reply.payload, length, read_bits, read_length)) {
        return E_CONNECTION_LOST;
    }
    return SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::run_test_idle(SCX_OPEN *handle, unsigned long count) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    if (!fits_32_bits(count)) {
        return E_BAD_ARGUMENT;
    }
    Reply reply;
    // Ten microseconds per clock on top of the usual wait: 100 kHz and up.
    const std::chrono::milliseconds wait = REPLY_WAIT + std::chrono::milliseconds(count / 100);
    return device_call(handle, "rti", {device.owner, grant_of(device), device.tap, hex_number(count)}, wait,
                       &reply);
}

SCX_ERROR OpenOcdBackend::delay(SCX_OPEN *handle, unsigned long amount) {
    if (SCX_ERROR answer = flush(handle)) {
        return answer;
    }
    // Waited here, not with OpenOCD's sleep, which would stop every
    // other client of the server too.
    std::this_thread::sleep_for(std::chrono::microseconds(amount));
    return SCX_NO_ERROR;
}

SCX_ERROR OpenOcdBackend::flush(SCX_OPEN *handle) {
    DeviceHandle device;
    if (!device_of(handle, &device)) {
        return E_UNKNOWN_HANDLE;
    }
    if (device.gone) {
        return E_DEVICE_GONE;
    }
    if (!servers_[device.server]->connected(device.generation)) {
        return E_UNAVAILABLE;
    }
    // Every call has run when it answers, held-back scans aside: send
    // those. Without the lock, ask whether another owner holds it.
    if (device.holds_lock && !servers_[device.server]->holding()) {
        if (SCX_ERROR failed = held_failure(handle, device)) {
            return failed;
        }
        return device.fenced ? E_LOCKED : SCX_NO_ERROR;
    }
    Reply reply;
    return device.holds_lock
               ? device_call(handle, "nop", {}, REPLY_WAIT, &reply)
               : device_call(handle, "check", {"d." + device.tap, device.owner}, REPLY_WAIT, &reply);
}

} // namespace detail
} // namespace scxopenocd
