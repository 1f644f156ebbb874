// The scenarios of the fault sweeps. Each goes on after a failed step with
// whatever ids it has (-1 for an open that failed), so that every later call
// meets the state the failure left.
#include <vector>

#include "sweep.h"

namespace {

void enumerate_everything(Session &s, const World &w) {
    std::vector<std::string> names;
    s.get_hardware(&names);
    for (const std::string &name : names) {
        unsigned long id = 0;
        s.note(Api::get_hardware_persistent_id, sld_get_hardware_persistent_id(name.c_str(), &id));
        char *back = nullptr;
        s.note(Api::get_hardware_name, sld_get_hardware_name(id, &back));
        std::vector<std::string> devices;
        s.get_device(name, &devices);
        s.note(Api::refresh_device, sld_refresh_device(name.c_str()));
    }
    s.note(Api::refresh_hardware, sld_refresh_hardware());
    char *none = nullptr;
    s.note(Api::get_hardware_name, sld_get_hardware_name(w.unused_persistent_id, &none));
    std::vector<std::string> devices;
    s.get_device(w.cable, &devices);
}

void open_hub_and_nodes(Session &s, const World &w) {
    sld_enable_scx_log();
    int hub = s.hub_open(w.cable, w.hub_device);
    int shared = s.hub_open(w.cable, w.hub_device);
    unsigned char count = 0;
    s.number_of_nodes(hub, &count);
    for (unsigned index = 0; index <= count; ++index)
        s.node_info(hub, static_cast<unsigned char>(index));
    for (unsigned index = 0; index < count; ++index)
        s.node_open(hub, static_cast<unsigned char>(index));
    s.node_open(hub, count);
    int through_shared = s.node_open(shared, 0);
    // One lock for both hub ids: seen and released through the other one.
    s.hub_lock(hub, 1000);
    s.node_lock(through_shared, 1000, false);
    s.hub_unlock(shared);
    s.hub_unlock(hub);
    s.hub_close(hub);
}

// The same scans with or without the hub lock around them.
void scan_sequence(Session &s, const World &w, bool locked) {
    sld_enable_scx_log();
    int hub = s.hub_open(w.cable, w.hub_device);
    int first = s.node_open(hub, 0);
    int second = s.node_open(hub, 1);
    if (locked)
        s.node_lock(first, 1000, false);
    unsigned long capture = 0;
    unsigned char write[4] = {0x5A, 0xC3, 0x0F, 0x81};
    unsigned char read[4] = {0, 0, 0, 0};
    s.note(Api::node_access_ir, sld_node_access_ir(first, 1, &capture, 0));
    s.note(Api::node_access_dr, sld_node_access_dr(first, 32, write, read, 0));
    s.note(Api::node_access_ir, sld_node_access_ir(first, 2, &capture, 3));
    s.note(Api::node_access_dr, sld_node_access_dr(first, 32, write, read, 2));
    unsigned long batch_capture = 0;
    unsigned char batch_read[2] = {0, 0};
    SLD_BATCH_ACCESS batch[] = {
        {SLD_BATCH_IR, 3, reinterpret_cast<unsigned long>(&batch_capture), 0, 0},
        {SLD_BATCH_DR, reinterpret_cast<unsigned long>(write), reinterpret_cast<unsigned long>(batch_read),
         12, 1},
        {SLD_BATCH_IR, 1, 0, 0, 0},
        {SLD_BATCH_DR, 0, 0, 9, 0},
        {SLD_BATCH_END, 0, 0, 0, 0},
    };
    s.note(Api::node_batch_access, sld_node_batch_access(first, batch));
    s.note(Api::node_rti, sld_node_rti(first, 5));
    s.note(Api::node_rti, sld_node_rti(second, 0));
    s.note(Api::node_flush, sld_node_flush(first));
    s.note(Api::node_delay, sld_node_delay(first, 4));
    s.note(Api::node_delay, sld_node_delay(second, 0));
    s.note(Api::node_access_ir, sld_node_access_ir(second, 3, nullptr, 0));
    s.note(Api::node_access_dr, sld_node_access_dr(second, 9, nullptr, read, 0));
    s.note(Api::node_access_dr, sld_node_access_dr(second, 7, write, nullptr, 0));
    if (locked) {
        s.node_unlock(first);
    } else {
        s.node_lock(second, 500, true);
        s.note(Api::node_flush, sld_node_flush(second));
        s.hub_unlock(hub);
    }
}

void locked_sequence(Session &s, const World &w) {
    scan_sequence(s, w, true);
}

void unlocked_sequence(Session &s, const World &w) {
    scan_sequence(s, w, false);
}

void broadcast(Session &s, const World &w) {
    sld_enable_scx_log();
    int hub = s.hub_open(w.cable, w.hub_device);
    int first = s.node_open(hub, 0);
    int second = s.node_open(hub, 1);
    unsigned long capture = 0;
    unsigned char write[1] = {0xA5};
    unsigned char read[1] = {0};
    s.note(Api::hub_broadcast_begin, sld_hub_broadcast_begin(hub));
    s.note(Api::hub_broadcast_begin, sld_hub_broadcast_begin(hub));
    s.note(Api::node_access_ir, sld_node_access_ir(second, 2, &capture, 0));
    s.note(Api::node_access_ir, sld_node_access_ir(first, 1, &capture, 0));
    s.note(Api::node_access_ir, sld_node_access_ir(first, 3, nullptr, 0));
    s.note(Api::node_access_dr, sld_node_access_dr(first, 8, write, read, 0));
    SLD_BATCH_ACCESS batch[] = {
        {SLD_BATCH_DR, reinterpret_cast<unsigned long>(write), reinterpret_cast<unsigned long>(read), 8, 0},
        {SLD_BATCH_IR, 1, 0, 0, 0},
        {SLD_BATCH_END, 0, 0, 0, 0},
    };
    s.note(Api::node_batch_access, sld_node_batch_access(second, batch));
    s.broadcast_end(hub);
    s.broadcast_end(hub);
    // A broadcast ended under the caller's hub lock releases that lock.
    s.hub_lock(hub, 1000);
    s.note(Api::hub_broadcast_begin, sld_hub_broadcast_begin(hub));
    s.note(Api::node_access_ir, sld_node_access_ir(first, 2, nullptr, 0));
    s.broadcast_end(hub);
    s.hub_unlock(hub);
}

// The IDCODE of the hub's device changes under a held hub lock; the chain
// read that notices destroys the hub, and its ids go stale.
void refresh_after_chain_change(Session &s, const World &w) {
    int hub = s.hub_open(w.cable, w.hub_device);
    int first = s.node_open(hub, 0);
    int second = s.node_open(hub, 1);
    unsigned long capture = 0;
    s.node_lock(first, 1000, false);
    s.note(Api::node_access_ir, sld_node_access_ir(first, 1, &capture, 0));
    scxsim::set_idcode(w.persistent_id, w.hub_position, w.changed_idcode);
    std::vector<std::string> devices;
    s.get_device(w.cable, &devices);
    unsigned char read[1] = {0};
    unsigned char count = 0;
    s.note(Api::node_access_ir, sld_node_access_ir(first, 1, &capture, 0));
    s.note(Api::node_access_dr, sld_node_access_dr(second, 8, nullptr, read, 0));
    s.node_unlock(first);
    s.number_of_nodes(hub, &count);
    s.hub_lock(hub, 1000);
    s.note(Api::hub_broadcast_begin, sld_hub_broadcast_begin(hub));
    s.node_close(second);
    // The changed device can be opened again under its new device string.
    if (devices.size() > w.hub_position) {
        int again = s.hub_open(w.cable, devices[w.hub_position]);
        int node = s.node_open(again, 0);
        s.note(Api::node_access_dr, sld_node_access_dr(node, 8, nullptr, read, 0));
    }
    s.note(Api::refresh_device, sld_refresh_device(w.cable.c_str()));
}

void raw_device_open(Session &s, const World &w) {
    // No device list has been made for the cable yet.
    s.scx_device_open(w.cable, w.raw_device);
    std::vector<std::string> devices;
    s.get_device(w.cable, &devices);
    s.scx_device_open(w.cable, w.raw_device);
    int hub = s.hub_open(w.cable, w.hub_device);
    // Refused while a hub is open on the device.
    s.scx_device_open(w.cable, w.hub_device);
    SCX_OPEN *handle = nullptr;
    s.note(Api::hub_get_scx_open_id, sld_hub_get_scx_open_id(hub, &handle));
    s.scx_device_open(w.cable, "@99: no such device (0x00000000)");
    s.scx_device_open("no such cable", w.raw_device);
}

} // namespace

const std::vector<Scenario> &all_scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"enumerate", enumerate_everything},
        {"hub_and_nodes", open_hub_and_nodes},
        {"locked_sequence", locked_sequence},
        {"unlocked_sequence", unlocked_sequence},
        {"broadcast", broadcast},
        {"refresh_after_chain_change", refresh_after_chain_change},
        {"raw_device_open", raw_device_open},
    };
    return scenarios;
}
