// Broadcast: node instruction values queued between begin and end are sent
// together under the hub lock, framed by hub instructions 1 and 2.
#include <cstring>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hub/hub.h"
#include "hub/implicit_lock.h"

// Hub-addressed instructions that open and close a broadcast.
const unsigned long SLD_HUB_BROADCAST_START = 1;
const unsigned long SLD_HUB_BROADCAST_COMMIT = 2;
// Node index whose address wraps to 0, the hub itself.
const unsigned char SLD_HUB_SELF_INDEX = 255;
const unsigned long SLD_BROADCAST_LOCK_TIMEOUT = 0xFFFFFFFFul;

int ROZI_VUV_HUB::broadcast_begin() {
    if (broadcasting)
        return SLD_BROADCAST_ACTIVE;
    // The queue is made once and reused by every later broadcast; an array
    // made before a failed allocation stays with the hub for the next begin.
    if ((queued == nullptr && (queued = sld_new_array<unsigned char>(node_count)) == nullptr) ||
        (queued_ir == nullptr && (queued_ir = sld_new_array<unsigned long>(node_count)) == nullptr)) {
        ROZI_VUV_MANAGER::get_manager()->last_error = SLD_NO_FREE_SLOT;
        return SLD_NO_FREE_SLOT;
    }
    std::memset(queued, 0, node_count);
    broadcasting = true;
    return SLD_OK;
}

int ROZI_VUV_HUB::broadcast_end() {
    if (!broadcasting)
        return SLD_BROADCAST_INACTIVE;
    broadcasting = false; // the sends below must not be queued again

    // Every step runs whatever failed before it, and the queue is emptied
    // anyway; the first failed scan is the result. A lock that is not
    // granted is not reported by itself: each scan then locks the device on
    // its own and reports its own failure.
    lock(SLD_BROADCAST_LOCK_TIMEOUT);
    SLD_ERROR first_failure = SLD_OK;
    auto note = [&first_failure](SLD_ERROR status) {
        if (first_failure == SLD_OK)
            first_failure = status;
    };
    unsigned long scratch = 0;
    note(access_ir_hub(SLD_HUB_BROADCAST_START, &scratch));
    for (unsigned i = 0; i < node_count; ++i)
        if (queued[i] != 0)
            note(access_ir_direct(static_cast<unsigned char>(i), queued_ir[i], &scratch, 0, true));
    std::memset(queued, 0, node_count);
    note(access_ir_hub(SLD_HUB_BROADCAST_COMMIT, &scratch));
    unlock(); // also ends a lock that the caller held before
    ROZI_VUV_MANAGER::get_manager()->last_error = first_failure;
    return first_failure;
}

int ROZI_VUV_HUB::access_ir_hub(unsigned long value, unsigned long *captured) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_IMPLICIT_LOCK frame(manager, this);
    if (!frame.ready())
        return frame.result();

    SCX_ERROR r = scx_access_ir(open_handle, SLD_IR_SELECT_VIR, nullptr, 0);
    manager->log_scx_access_ir(SLD_IR_SELECT_VIR);
    if (r != SCX_NO_ERROR)
        return frame.fail(r);
    cached_ir = SLD_IR_SELECT_VIR;

    unsigned char write[SLD_SCAN_BUFFER_BYTES];
    unsigned char read[SLD_SCAN_BUFFER_BYTES];
    std::memset(write, 0, sizeof write);
    std::memset(read, 0, sizeof read);
    unsigned long length = assemble_ir_with_sel_bits(SLD_HUB_SELF_INDEX, value, write);
    r = scx_access_dr(open_handle, length, 0, 0, length, write, 0, length, read);
    manager->log_scx_access_dr(length, write);
    if (r != SCX_NO_ERROR)
        return frame.fail(r);

    *captured = 0;
    disassemble_ir_with_sel_bits(captured, read);
    return frame.finish();
}
