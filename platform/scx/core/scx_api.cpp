// The scx_ functions: each forwards its call, unchanged, to the backend of
// the process. No exception leaves them: one that escapes a backend answers
// 81, the server is out of resources.
#include "backend.h"
#include "scx/scx.h"
#include "scxcore.h"

namespace {

const SCX_ERROR OUT_OF_RESOURCES = 81;

template <typename Call> SCX_ERROR forward(Call call) {
    try {
        return call(scx::active_backend());
    } catch (...) {
        return OUT_OF_RESOURCES;
    }
}

} // namespace

const char *scx_backend_failure(void) {
    try {
        return scx::active_backend().startup_failure();
    } catch (...) {
        return "the JTAG backend could not be started";
    }
}

SCX_ERROR scx_get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) {
    return forward([&](scx::Backend &b) { return b.get_hardware(count, records, timeout); });
}

SCX_ERROR scx_find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) {
    return forward([&](scx::Backend &b) { return b.find_hardware(full_name, record, timeout); });
}

SCX_ERROR scx_print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length) {
    return forward([&](scx::Backend &b) { return b.print_hardware_name(chain, buffer, size, long_name, length); });
}

SCX_ERROR scx_lock_chain(SCX_CHAIN *chain, unsigned long timeout) {
    return forward([&](scx::Backend &b) { return b.lock_chain(chain, timeout); });
}

SCX_ERROR scx_unlock_chain(SCX_CHAIN *chain) {
    return forward([&](scx::Backend &b) { return b.unlock_chain(chain); });
}

SCX_ERROR scx_scan_device_chain(SCX_CHAIN *chain) {
    return forward([&](scx::Backend &b) { return b.scan_device_chain(chain); });
}

SCX_ERROR scx_read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records, bool flag) {
    return forward([&](scx::Backend &b) { return b.read_device_chain(chain, count, records, flag); });
}

SCX_ERROR scx_open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle, const SCX_CLAIM *claims,
                          unsigned long claim_count, const char *application) {
    return forward(
        [&](scx::Backend &b) { return b.open_device(chain, position, handle, claims, claim_count, application); });
}

SCX_ERROR scx_close_device(SCX_OPEN *handle) {
    return forward([&](scx::Backend &b) { return b.close_device(handle); });
}

SCX_ERROR scx_lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) {
    return forward([&](scx::Backend &b) { return b.lock(handle, timeout, style); });
}

SCX_ERROR scx_unlock(SCX_OPEN *handle) {
    return forward([&](scx::Backend &b) { return b.unlock(handle); });
}

SCX_ERROR scx_access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured, unsigned long flags) {
    return forward([&](scx::Backend &b) { return b.access_ir(handle, instruction, captured, flags); });
}

SCX_ERROR scx_access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags, unsigned long write_offset,
                        unsigned long write_length, const unsigned char *write_bits, unsigned long read_offset,
                        unsigned long read_length, unsigned char *read_bits) {
    return forward([&](scx::Backend &b) {
        return b.access_dr(handle, length, flags, write_offset, write_length, write_bits, read_offset, read_length,
                           read_bits);
    });
}

SCX_ERROR scx_run_test_idle(SCX_OPEN *handle, unsigned long count) {
    return forward([&](scx::Backend &b) { return b.run_test_idle(handle, count); });
}

SCX_ERROR scx_delay(SCX_OPEN *handle, unsigned long amount) {
    return forward([&](scx::Backend &b) { return b.delay(handle, amount); });
}

SCX_ERROR scx_flush(SCX_OPEN *handle) {
    return forward([&](scx::Backend &b) { return b.flush(handle); });
}
