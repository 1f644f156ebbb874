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
    if (SCX_ERROR failed = held_failure(device)) {
        return failed;
    }
    return answer_of(
        servers_[device.server]->call(device.generation, op, args, reply_wait, reply, device.owner), *reply);
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
    if (device.holds_lock) {
        // Held-back scans go first; a failure among them is not reported.
        Reply reply;
        servers_[device.server]->call(device.generation, "unlock", {"d." + device.tap, device.owner},
                                      REPLY_WAIT, &reply, device.owner);
    }
    held_failure(device);
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
    if (device.holds_lock) {
        return E_LOCKED;
    }
    const SCX_ERROR answer =
        acquire(device.server, device.generation, "d." + device.tap, device.owner, timeout, handle);
    if (answer != SCX_NO_ERROR) {
        return answer;
    }
    {
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(reinterpret_cast<uintptr_t>(handle));
        if (it != devices_.end()) {
            it->second.holds_lock = true;
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
        it->second.holds_lock = false;
        device = it->second;
    }
    // Held-back scans go with the unlock, which is done even when one of
    // them fails: the unlock then answers that failure.
    const SCX_ERROR failed_before = held_failure(device);
    Reply reply;
    const CallOutcome outcome = servers_[device.server]->call(
        device.generation, "unlock", {"d." + device.tap, device.owner}, REPLY_WAIT, &reply, device.owner);
    // Without a connection the lock is gone from the server's view too.
    const SCX_ERROR answer = outcome == CallOutcome::not_connected ? SCX_NO_ERROR : answer_of(outcome, reply);
    return failed_before ? failed_before : answer;
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
    const SCX_ERROR answer =
        device_call(handle, "ir", {device.owner, device.tap, hex_number(instruction)}, REPLY_WAIT, &reply);
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
    if (length == 0) {
        return device_call(handle, "dr0", {device.owner, device.tap}, REPLY_WAIT, &reply);
    }
    // Formatted before anything is read back: the two buffers may be one.
    const std::string value = bits_to_hex(write_bits, write_length, length);
    if (read_length == 0 && device.holds_lock && !device.gone && hold_scan(device, length, value)) {
        return SCX_NO_ERROR;
    }
    const SCX_ERROR answer = device_call(handle, "dr", {device.owner, device.tap, hex_number(length), value},
                                         scan_wait(length), &reply);
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
    return device_call(handle, "rti", {device.owner, device.tap, hex_number(count)}, wait, &reply);
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
        return held_failure(device);
    }
    Reply reply;
    return device.holds_lock
               ? device_call(handle, "nop", {}, REPLY_WAIT, &reply)
               : device_call(handle, "check", {"d." + device.tap, device.owner}, REPLY_WAIT, &reply);
}

} // namespace detail
} // namespace scxopenocd
