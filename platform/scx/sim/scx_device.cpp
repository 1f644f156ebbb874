// The scx_ functions on opened devices: close, device lock, IR and DR
// scans, run-test-idle, delay and flush.
#include <cstring>

#include "bits.h"
#include "scx/scx.h"
#include "scx_guard.h"
#include "sim_backend.h"
#include "world.h"

using namespace scxsim;
using namespace scxsim::detail;

namespace {

uintptr_t token_of(SCX_OPEN *h) {
    return reinterpret_cast<uintptr_t>(h);
}

// Whether the handle's device is still there (87, 39), and, for calls that
// drive it, whether its cable is available (88).
SCX_ERROR device_state(const OpenRecord &o, bool drives) {
    const Device &d = *o.device;
    if (d.status == Device::Status::cable_gone)
        return E_UNKNOWN_HANDLE;
    if (d.status == Device::Status::removed)
        return E_DEVICE_GONE;
    if (drives && d.cable && (d.cable->flags & FLAG_UNAVAILABLE))
        return E_UNAVAILABLE;
    return SCX_NO_ERROR;
}

// For calls that shift or wait on the device: the device state, then
// whether another handle or the foreign client holds the device lock.
SCX_ERROR drive_state(const OpenRecord &o, SCX_OPEN *h) {
    if (SCX_ERROR e = device_state(o, true))
        return e;
    const uintptr_t owner = o.device->lock_owner;
    if (owner != 0 && owner != token_of(h))
        return E_LOCKED;
    return SCX_NO_ERROR;
}

// The frame of run_test_idle, delay and flush: nothing to simulate beyond
// the checks, since scans take effect at once, except that Run-Test/Idle
// clocks are the time of the nodes that model any (a riscv node's hart).
SCX_ERROR plain_call(Fn fn, SCX_OPEN *handle, const unsigned long *arg) {
    return guarded([&] {
        ApiCall c(fn);
        if (arg)
            c.arg(*arg);
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        const SCX_ERROR e = drive_state(*o, handle);
        if (e == SCX_NO_ERROR && fn == Fn::run_test_idle && o->device->hub)
            o->device->hub->idle(*arg);
        return c.finish(e);
    });
}

} // namespace

SCX_ERROR SimBackend::close_device(SCX_OPEN *handle) {
    return guarded([&] {
        ApiCall c(Fn::close_device);
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        const SCX_ERROR r = device_state(*o, false);
        if (o->device->lock_owner == token_of(handle)) {
            o->device->lock_owner = 0;
            c.w.cv.notify_all();
        }
        c.w.opens.erase(token_of(handle));
        return c.finish(r);
    });
}

SCX_ERROR SimBackend::lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) {
    return guarded([&] {
        ApiCall c(Fn::lock);
        c.arg(timeout);
        c.arg(static_cast<unsigned long>(style));
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        if (style != SCX_PACK_STYLE_AUTO && style != SCX_PACK_STYLE_MANUAL)
            return c.finish(E_BAD_ARGUMENT);
        if (SCX_ERROR e = device_state(*o, true))
            return c.finish(e);
        if (o->device->lock_owner == token_of(handle))
            return c.finish(E_LOCKED); // this handle holds it already
        SCX_ERROR outcome = E_LOCKED;
        World &w = c.w;
        w.wait(c.lock, timeout, [&] {
            OpenRecord *now = w.open_record(handle);
            if (!now) {
                outcome = E_UNKNOWN_HANDLE;
                return true;
            }
            if (SCX_ERROR e = device_state(*now, true)) {
                outcome = e;
                return true;
            }
            if (now->device->lock_owner != 0)
                return false;
            now->device->lock_owner = token_of(handle);
            outcome = SCX_NO_ERROR;
            return true;
        });
        return c.finish(outcome);
    });
}

SCX_ERROR SimBackend::unlock(SCX_OPEN *handle) {
    return guarded([&] {
        ApiCall c(Fn::unlock);
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        if (SCX_ERROR e = device_state(*o, false))
            return c.finish(e);
        if (o->device->lock_owner != token_of(handle))
            return c.finish(E_NOT_LOCKED);
        o->device->lock_owner = 0;
        c.w.cv.notify_all();
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                        unsigned long flags) {
    return guarded([&] {
        ApiCall c(Fn::access_ir);
        c.arg(instruction);
        c.arg(captured != nullptr);
        c.arg(flags);
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        Device &d = *o->device;
        if (flags != 0 || instruction > low_mask(d.desc.ir_length))
            return c.finish(E_BAD_ARGUMENT);
        if (SCX_ERROR e = drive_state(*o, handle))
            return c.finish(e);
        d.ir_scan(uint32_t(instruction), captured);
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags,
                        unsigned long write_offset, unsigned long write_length,
                        const unsigned char *write_bits, unsigned long read_offset, unsigned long read_length,
                        unsigned char *read_bits) {
    return guarded([&] {
        ApiCall c(Fn::access_dr);
        c.arg(length);
        c.arg(write_length);
        c.arg(read_length);
        OpenRecord *o = c.w.open_record(handle);
        if (o)
            c.cable(o->persistent_id);
        const bool args_ok = flags == 0 && write_offset == 0 && read_offset == 0 && write_length <= length &&
                             read_length <= length && (write_length == 0 || write_bits) &&
                             (read_length == 0 || read_bits);
        // Copied before anything is read back: the two buffers may be one.
        c.written(args_ok ? write_bits : nullptr, args_ok ? write_length : 0);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!o)
            return c.finish(E_UNKNOWN_HANDLE);
        if (!args_ok)
            return c.finish(E_BAD_ARGUMENT);
        if (SCX_ERROR e = drive_state(*o, handle))
            return c.finish(e);
        std::vector<uint8_t> &out = c.w.scratch;
        const size_t nbytes = bytes_for(read_length);
        if (out.size() < nbytes)
            out.resize(nbytes);
        o->device->dr_scan(length, write_bits, write_length, out.data(), read_length);
        if (nbytes)
            std::memcpy(read_bits, out.data(), nbytes);
        c.read(read_bits, read_length);
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::run_test_idle(SCX_OPEN *handle, unsigned long count) {
    return plain_call(Fn::run_test_idle, handle, &count);
}

SCX_ERROR SimBackend::delay(SCX_OPEN *handle, unsigned long amount) {
    return plain_call(Fn::delay, handle, &amount);
}

SCX_ERROR SimBackend::flush(SCX_OPEN *handle) {
    return plain_call(Fn::flush, handle, nullptr);
}
