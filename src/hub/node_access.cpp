// Scans of one node behind a hub: virtual IR scans (queued while the hub
// broadcasts), virtual DR scans, and run-test-idle, flush and delay on the
// hub's device. The device instruction cache is trusted only while the
// calling thread holds the hub lock, and only for scans of that one hold.
#include <cstring>

#include "frame/manager.h"
#include "hub/hub.h"
#include "hub/implicit_lock.h"

SLD_ERROR ROZI_VUV_HUB::access_ir(unsigned char index, unsigned long value, unsigned long *captured,
                                  unsigned long delay, bool cache) {
    if (broadcasting) {
        // A queued scan captures nothing; the caller would read a word that
        // was never written.
        if (captured != nullptr)
            return SLD_BROADCAST_ACTIVE;
        return access_ir_queue(index, value);
    }
    return access_ir_direct(index, value, captured, delay, cache);
}

SLD_ERROR ROZI_VUV_HUB::access_ir_queue(unsigned char index, unsigned long value) {
    if (index >= node_count || queued == nullptr || queued_ir == nullptr)
        return SLD_INVALID_NODE_ID;
    if (queued[index] != 0)
        return SLD_NODE_ALREADY_QUEUED;
    queued_ir[index] = value; // masked when sent
    queued[index] = 1;
    return SLD_OK;
}

SLD_ERROR ROZI_VUV_HUB::access_ir_direct(unsigned char index, unsigned long value, unsigned long *captured,
                                         unsigned long delay, bool cache) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    // A version-1 hub presents a node's instruction only after a hub
    // instruction naming that node; where that instruction does not fit in
    // the hub's instruction register, the capture cannot be asked for, and
    // nothing is sent (not even the device lock is taken).
    if (captured != nullptr && version == 1 && !force_capture_fits(index)) {
        ROZI_VUV_CALL_LEVEL level(manager);
        manager->last_error = SLD_UNSUPPORTED_HUB;
        return SLD_UNSUPPORTED_HUB;
    }
    ROZI_VUV_IMPLICIT_LOCK frame(manager, this);
    if (!frame.ready())
        return frame.result();

    if (!(cache && frame.held() && cached_ir == SLD_IR_SELECT_VIR)) {
        SCX_ERROR r = scx_access_ir(open_handle, SLD_IR_SELECT_VIR, nullptr, 0);
        manager->log_scx_access_ir(SLD_IR_SELECT_VIR);
        if (r != SCX_NO_ERROR) {
            cached_ir = SLD_IR_UNKNOWN;
            return frame.fail(r);
        }
    }
    cached_ir = cache ? SLD_IR_SELECT_VIR : SLD_IR_UNKNOWN;

    unsigned char write[SLD_SCAN_BUFFER_BYTES];
    unsigned char read[SLD_SCAN_BUFFER_BYTES];

    // The force capture, checked to fit above.
    if (captured != nullptr && version == 1) {
        std::memset(write, 0, sizeof write);
        unsigned long length = assemble_hub_force_ir_capture_ir(index, write);
        SCX_ERROR r = scx_access_dr(open_handle, length, 0, 0, length, write, 0, 0, nullptr);
        manager->log_scx_access_dr(length, write);
        if (r != SCX_NO_ERROR)
            return frame.fail(r);
    }

    std::memset(write, 0, sizeof write);
    std::memset(read, 0, sizeof read);
    unsigned long length = assemble_ir_with_sel_bits(index, value & ir_mask, write);
    SCX_ERROR r = scx_access_dr(open_handle, length, 0, 0, length, write, 0, captured != nullptr ? length : 0,
                                captured != nullptr ? read : nullptr);
    manager->log_scx_access_dr(length, write);
    if (r != SCX_NO_ERROR)
        return frame.fail(r);

    if (captured != nullptr) {
        *captured = 0;
        disassemble_ir_with_sel_bits(captured, read);
    }
    if (delay != 0) {
        r = scx_delay(open_handle, delay);
        if (r != SCX_NO_ERROR)
            return frame.fail(r);
    }
    return frame.finish();
}

// The node index is not sent: the hub routes the scan to the node that the
// last virtual IR scan of this hub selected.
SLD_ERROR ROZI_VUV_HUB::access_dr(unsigned char /*index*/, unsigned long length,
                                  const unsigned char *write_bits, unsigned char *read_bits,
                                  unsigned long delay, bool cache) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_IMPLICIT_LOCK frame(manager, this);
    if (!frame.ready())
        return frame.result();

    if (!(cache && frame.held() && cached_ir == SLD_IR_SELECT_VDR)) {
        SCX_ERROR r = scx_access_ir(open_handle, SLD_IR_SELECT_VDR, nullptr, 0);
        manager->log_scx_access_ir(SLD_IR_SELECT_VDR);
        if (r != SCX_NO_ERROR) {
            cached_ir = SLD_IR_UNKNOWN;
            return frame.fail(r);
        }
    }
    cached_ir = cache ? SLD_IR_SELECT_VDR : SLD_IR_UNKNOWN;

    SCX_ERROR r = scx_access_dr(open_handle, length, 0, 0, write_bits != nullptr ? length : 0, write_bits, 0,
                                read_bits != nullptr ? length : 0, read_bits);
    manager->log_scx_access_dr(length, write_bits);
    if (r != SCX_NO_ERROR)
        return frame.fail(r);

    if (delay != 0) {
        r = scx_delay(open_handle, delay);
        if (r != SCX_NO_ERROR)
            return frame.fail(r);
    }
    return frame.finish();
}

SLD_ERROR ROZI_VUV_HUB::node_rti(unsigned long count) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_IMPLICIT_LOCK frame(manager, this);
    if (!frame.ready())
        return frame.result();
    if (count != 0) {
        SCX_ERROR r = scx_run_test_idle(open_handle, count);
        if (r != SCX_NO_ERROR)
            return frame.fail(r);
    }
    return frame.finish();
}

// Flush and delay act on queued JTAG work of a held device; neither locks
// the device by itself.
SLD_ERROR ROZI_VUV_HUB::node_flush() {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    if (!manager->is_hub_locked(this)) {
        manager->last_error = SLD_NOT_LOCKED;
        return SLD_NOT_LOCKED;
    }
    SCX_ERROR r = scx_flush(open_handle);
    if (r != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(r);
        return manager->last_error;
    }
    return SLD_OK;
}

SLD_ERROR ROZI_VUV_HUB::node_delay(unsigned long delay) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    if (!manager->is_hub_locked(this)) {
        manager->last_error = SLD_NOT_LOCKED;
        return SLD_NOT_LOCKED;
    }
    if (delay == 0)
        return SLD_OK;
    SCX_ERROR r = scx_delay(open_handle, delay);
    if (r != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(r);
        return manager->last_error;
    }
    return SLD_OK;
}
