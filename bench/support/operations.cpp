// The operation table. Library operations go through the sld_ API; bare
// operations call the JTAG client directly with the arguments the library
// passes, so the difference between the two is the library's own cost.
#include "operations.h"

#include "bench_world.h"

namespace bench {
namespace {

const unsigned long LOCK_TIMEOUT = 6000;
const unsigned long VIR_LENGTH = 11; // instruction width 8 + 3 address bits (4 nodes)

int scx(SCX_ERROR r) {
    return static_cast<int>(r);
}

int bare_dr(OpContext &c, unsigned long length) {
    return scx(scx_access_dr(c.handle, length, 0, 0, length, c.write, 0, length, c.read));
}

int bare_dr_unlocked(OpContext &c, unsigned long length) {
    int r = scx(scx_lock(c.handle, LOCK_TIMEOUT, SCX_PACK_STYLE_AUTO));
    r |= scx(scx_access_ir(c.handle, SLD_IR_SELECT_VDR, nullptr, 0));
    r |= bare_dr(c, length);
    return r | scx(scx_unlock(c.handle));
}

int op_scx_dr_32(OpContext &c) {
    return bare_dr(c, 32);
}
int op_scx_dr_4096(OpContext &c) {
    return bare_dr(c, 4096);
}
int op_scx_dr_vir(OpContext &c) {
    return bare_dr(c, VIR_LENGTH);
}
int op_scx_rti(OpContext &c) {
    return scx(scx_run_test_idle(c.handle, 16));
}
int op_scx_lock_unlock(OpContext &c) {
    return scx(scx_lock(c.handle, LOCK_TIMEOUT, SCX_PACK_STYLE_AUTO)) | scx(scx_unlock(c.handle));
}
int op_scx_find_hardware(OpContext &c) {
    SCX_HARDWARE record;
    return scx(scx_find_hardware(c.full_name.c_str(), &record, 5000));
}
int op_seq_dr_32_unlocked(OpContext &c) {
    return bare_dr_unlocked(c, 32);
}
int op_seq_dr_4096_unlocked(OpContext &c) {
    return bare_dr_unlocked(c, 4096);
}
int op_seq_ir_unlocked(OpContext &c) {
    int r = scx(scx_lock(c.handle, LOCK_TIMEOUT, SCX_PACK_STYLE_AUTO));
    r |= scx(scx_access_ir(c.handle, SLD_IR_SELECT_VIR, nullptr, 0));
    r |= bare_dr(c, VIR_LENGTH);
    return r | scx(scx_unlock(c.handle));
}
int op_seq_ir_dr_locked(OpContext &c) {
    int r = scx(scx_access_ir(c.handle, SLD_IR_SELECT_VIR, nullptr, 0));
    r |= bare_dr(c, VIR_LENGTH);
    r |= scx(scx_access_ir(c.handle, SLD_IR_SELECT_VDR, nullptr, 0));
    return r | bare_dr(c, 32);
}
int op_seq_batch16_locked(OpContext &c) {
    int r = 0;
    for (int i = 0; i < 16; ++i)
        r |= bare_dr(c, 32);
    return r;
}
int op_seq_batch16_unlocked(OpContext &c) {
    int r = 0;
    for (int i = 0; i < 16; ++i)
        r |= bare_dr_unlocked(c, 32);
    return r;
}
int op_seq_rti_unlocked(OpContext &c) {
    int r = scx(scx_lock(c.handle, LOCK_TIMEOUT, SCX_PACK_STYLE_AUTO));
    r |= scx(scx_run_test_idle(c.handle, 16));
    return r | scx(scx_unlock(c.handle));
}
int op_seq_get_hardware(OpContext &) {
    unsigned long n = 0;
    int r = scx_get_hardware(&n, nullptr, 10000) == SCX_TOO_MANY_DEVICES ? 0 : 1;
    SCX_HARDWARE records[scxnull::max_cables];
    return r | scx(scx_get_hardware(&n, records, 0));
}
int op_seq_chain_read(OpContext &c) {
    SCX_HARDWARE record;
    int r = scx(scx_find_hardware(c.full_name.c_str(), &record, 5000));
    r |= scx(scx_lock_chain(c.chain, 6000));
    r |= scx(scx_scan_device_chain(c.chain));
    unsigned long n = 0;
    if (scx_read_device_chain(c.chain, &n, nullptr, true) != SCX_TOO_MANY_DEVICES)
        r |= 1;
    SCX_DEVICE records[2];
    r |= scx(scx_read_device_chain(c.chain, &n, records, true));
    return r | scx(scx_unlock_chain(c.chain));
}

int op_dr_32(OpContext &c) {
    return sld_node_access_dr(c.node_id, 32, c.write, c.read, 0);
}
int op_dr_4096(OpContext &c) {
    return sld_node_access_dr(c.node_id, 4096, c.write, c.read, 0);
}
int op_ir(OpContext &c) {
    return sld_node_access_ir(c.node_id, 0x5A, nullptr, 0);
}
int op_ir_capture(OpContext &c) {
    return sld_node_access_ir(c.node_id, 0x5A, &c.capture, 0);
}
int op_ir_dr(OpContext &c) {
    return sld_node_access_ir(c.node_id, 0x5A, nullptr, 0) |
           sld_node_access_dr(c.node_id, 32, c.write, c.read, 0);
}
int op_batch16(OpContext &c) {
    return sld_node_batch_access(c.node_id, c.batch);
}
int op_rti(OpContext &c) {
    return sld_node_rti(c.node_id, 16);
}
int op_hub_lock_unlock(OpContext &c) {
    return sld_hub_lock(c.hub_id, LOCK_TIMEOUT) | sld_hub_unlock(c.hub_id);
}
int op_node_open_close(OpContext &c) {
    int node = -1;
    int r = sld_node_open(c.hub_id, 1, &node);
    return r | sld_node_close(node);
}
int op_hub_open_close_shared(OpContext &c) {
    int hub = -1;
    int r = sld_hub_open(c.hardware.c_str(), c.device.c_str(), &hub);
    return r | sld_hub_close(hub);
}
int op_get_hardware(OpContext &) {
    unsigned long count = 0;
    char **names = nullptr;
    return sld_get_hardware(&count, &names);
}
int op_get_device(OpContext &c) {
    unsigned long count = 0;
    char **strings = nullptr;
    return sld_get_device(c.hardware.c_str(), &count, &strings);
}

// name, what, library, locked, log, min_calls, baseline, equivalent, run
const std::vector<Operation> g_operations = {
    {"scx_dr_32", "bare scx_access_dr, 32 bits", false, false, false, -1, nullptr, nullptr, op_scx_dr_32},
    {"scx_dr_4096", "bare scx_access_dr, 4096 bits", false, false, false, -1, nullptr, nullptr,
     op_scx_dr_4096},
    {"scx_dr_vir", "bare scx_access_dr, 11 bits (a virtual IR scan)", false, false, false, -1, nullptr,
     nullptr, op_scx_dr_vir},
    {"scx_rti", "bare scx_run_test_idle", false, false, false, -1, nullptr, nullptr, op_scx_rti},
    {"scx_lock_unlock", "bare scx_lock + scx_unlock", false, false, false, -1, nullptr, nullptr,
     op_scx_lock_unlock},
    {"scx_find_hardware", "bare scx_find_hardware", false, false, false, -1, nullptr, nullptr,
     op_scx_find_hardware},
    {"seq_dr_32_unlocked", "bare lock, IR 12, DR 32, unlock", false, false, false, -1, nullptr, nullptr,
     op_seq_dr_32_unlocked},
    {"seq_dr_4096_unlocked", "bare lock, IR 12, DR 4096, unlock", false, false, false, -1, nullptr, nullptr,
     op_seq_dr_4096_unlocked},
    {"seq_ir_unlocked", "bare lock, IR 14, DR 11, unlock", false, false, false, -1, nullptr, nullptr,
     op_seq_ir_unlocked},
    {"seq_ir_dr_locked", "bare IR 14, DR 11, IR 12, DR 32", false, false, false, -1, nullptr, nullptr,
     op_seq_ir_dr_locked},
    {"seq_batch16_locked", "bare 16 x DR 32", false, false, false, -1, nullptr, nullptr,
     op_seq_batch16_locked},
    {"seq_batch16_unlocked", "bare 16 x (lock, IR 12, DR 32, unlock)", false, false, false, -1, nullptr,
     nullptr, op_seq_batch16_unlocked},
    {"seq_rti_unlocked", "bare lock, run-test-idle, unlock", false, false, false, -1, nullptr, nullptr,
     op_seq_rti_unlocked},
    {"seq_get_hardware", "bare hardware count query and fetch", false, false, false, -1, nullptr, nullptr,
     op_seq_get_hardware},
    {"seq_chain_read", "bare find_hardware, chain lock, scan, count, read, unlock", false, false, false, -1,
     nullptr, nullptr, op_seq_chain_read},

    {"dr_32_locked", "virtual DR scan, 32 bits, under the hub lock (cached)", true, true, false, 1,
     "scx_dr_32", "scx_dr_32", op_dr_32},
    {"dr_32_unlocked", "virtual DR scan, 32 bits, implicit lock", true, false, false, 4, "scx_dr_32",
     "seq_dr_32_unlocked", op_dr_32},
    {"dr_4096_locked", "virtual DR scan, 4096 bits, under the hub lock (cached)", true, true, false, 1,
     "scx_dr_4096", "scx_dr_4096", op_dr_4096},
    {"dr_4096_unlocked", "virtual DR scan, 4096 bits, implicit lock", true, false, false, 4, "scx_dr_4096",
     "seq_dr_4096_unlocked", op_dr_4096},
    {"ir_locked", "virtual IR scan under the hub lock (cached)", true, true, false, 1, "scx_dr_vir",
     "scx_dr_vir", op_ir},
    {"ir_unlocked", "virtual IR scan, implicit lock", true, false, false, 4, "scx_dr_vir", "seq_ir_unlocked",
     op_ir},
    {"ir_capture_locked", "virtual IR scan with capture under the hub lock", true, true, false, 1,
     "scx_dr_vir", "scx_dr_vir", op_ir_capture},
    {"ir_dr_locked", "virtual IR scan then DR scan of 32 bits under the hub lock", true, true, false, 4,
     "scx_dr_32", "seq_ir_dr_locked", op_ir_dr},
    {"batch16_locked", "batch of 16 DR records of 32 bits under the hub lock", true, true, false, 16,
     "scx_dr_32", "seq_batch16_locked", op_batch16},
    {"batch16_unlocked", "batch of 16 DR records of 32 bits, implicit locks", true, false, false, 19,
     "scx_dr_32", "seq_batch16_unlocked", op_batch16},
    {"rti_locked", "run-test-idle under the hub lock", true, true, false, 1, "scx_rti", "scx_rti", op_rti},
    {"rti_unlocked", "run-test-idle, implicit lock", true, false, false, 3, "scx_rti", "seq_rti_unlocked",
     op_rti},
    {"hub_lock_unlock", "sld_hub_lock + sld_hub_unlock", true, false, false, 2, "scx_lock_unlock",
     "scx_lock_unlock", op_hub_lock_unlock},
    {"node_open_close", "sld_node_open + sld_node_close", true, false, false, 0, nullptr, nullptr,
     op_node_open_close},
    {"hub_open_close_shared", "sld_hub_open + sld_hub_close of an already open hub", true, false, false, 0,
     "scx_find_hardware", "scx_find_hardware", op_hub_open_close_shared},
    {"get_device", "sld_get_device on an unchanged chain of 2 devices", true, false, false, 5,
     "scx_find_hardware", "seq_chain_read", op_get_device},
    {"get_hardware", "sld_get_hardware (list rebuild), unchanged cables", true, false, false, 2, nullptr,
     "seq_get_hardware", op_get_hardware},
    {"dr_32_log_locked", "virtual DR scan, 32 bits, under the hub lock, scan log on", true, true, true, 1,
     "scx_dr_32", "scx_dr_32", op_dr_32},
    {"dr_4096_log_locked", "virtual DR scan, 4096 bits, under the hub lock, scan log on", true, true, true, 1,
     "scx_dr_4096", "scx_dr_4096", op_dr_4096},
    {"ir_log_locked", "virtual IR scan under the hub lock, scan log on", true, true, true, 1, "scx_dr_vir",
     "scx_dr_vir", op_ir},
};

} // namespace

const std::vector<Operation> &operations() {
    return g_operations;
}

const Operation *find_operation(const std::string &name) {
    for (const Operation &op : g_operations)
        if (name == op.name)
            return &op;
    return nullptr;
}

void setup(const Operation &op, OpContext &ctx, const WorldShape &shape) {
    const unsigned cable = shape.cables;
    const unsigned devices = shape.devices < shape.open_hubs ? shape.open_hubs : shape.devices;
    set_world(shape.cables, devices, shape.nodes);
    ctx.hardware = hardware_name(cable);
    ctx.full_name = scxnull::full_name(cable);
    ctx.device = device_string(cable, 0);
    ctx.hub_id = open_hub(cable, 0);
    ctx.node_id = open_node(ctx.hub_id, 0);
    for (unsigned p = 1; p < shape.open_hubs; ++p)
        ctx.extra_hubs.push_back(open_hub(cable, p));
    for (unsigned i = 1; i < shape.open_nodes; ++i)
        ctx.extra_nodes.push_back(
            open_node(ctx.hub_id, 1 + (i - 1) % (shape.nodes > 1 ? shape.nodes - 1 : 1)));
    check(sld_hub_get_scx_open_id(ctx.hub_id, &ctx.handle), "sld_hub_get_scx_open_id");
    SCX_HARDWARE record;
    if (scx_find_hardware(ctx.full_name.c_str(), &record, 5000) != SCX_NO_ERROR)
        fail("scx_find_hardware", 0);
    ctx.chain = record.chain;
    for (unsigned i = 0; i < sizeof ctx.write; ++i)
        ctx.write[i] = static_cast<unsigned char>(i * 37 + 1);
    for (int i = 0; i < 16; ++i) {
        ctx.batch[i].kind = SLD_BATCH_DR;
        ctx.batch[i].write = reinterpret_cast<unsigned long>(ctx.write);
        ctx.batch[i].read = reinterpret_cast<unsigned long>(ctx.read);
        ctx.batch[i].length = 32;
        ctx.batch[i].delay = 0;
    }
    ctx.batch[16].kind = SLD_BATCH_END;
    check(sld_node_access_ir(ctx.node_id, 1, nullptr, 0), "sld_node_access_ir");
    if (op.locked) {
        for (unsigned h = 1; h < shape.held_hubs && h <= ctx.extra_hubs.size(); ++h)
            check(sld_hub_lock(ctx.extra_hubs[h - 1], LOCK_TIMEOUT), "sld_hub_lock");
        check(sld_hub_lock(ctx.hub_id, LOCK_TIMEOUT), "sld_hub_lock");
    }
    // One run outside any measurement: checks the operation succeeds and
    // leaves the instruction cache as the loop will find it.
    check(op.run(ctx), op.name);
    if (op.log) {
        sld_clear_scx_log();
        sld_enable_scx_log();
    }
}

void teardown(const Operation &op, OpContext &ctx) {
    if (op.log) {
        sld_disable_scx_log();
        sld_clear_scx_log();
    }
    if (op.locked) {
        check(sld_hub_unlock(ctx.hub_id), "sld_hub_unlock");
        // Extra locks: unlock answers 61 for the hubs that were not locked.
        for (int hub : ctx.extra_hubs)
            sld_hub_unlock(hub);
    }
    for (int node : ctx.extra_nodes)
        close_node(node);
    close_node(ctx.node_id);
    for (int hub : ctx.extra_hubs)
        close_hub(hub);
    close_hub(ctx.hub_id);
    ctx.extra_nodes.clear();
    ctx.extra_hubs.clear();
    ctx.node_id = ctx.hub_id = -1;
}

} // namespace bench
